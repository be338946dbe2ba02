#include <curl/curl.h>

#include <QApplication>
#include <QDialog>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/input_box.h"
#include "app/main_window.h"
#include "app/start_program.h"
#include "app/web_page.h"
#include "app/web_view.h"
#include "demo_forum.h"
#include "http/page_fetcher.h"
#include "navigation/newest_thread.h"
#include "navigation/thread_navigator.h"

using namespace std::chrono_literals;

namespace viewer {

namespace {

// WebEngine page loads on a slow, shared machine.
constexpr int kLoadTimeoutMs = 15000;
constexpr const char *kListTarget = "/forum.php?mod=guide&view=new";
const std::array<const char *, 5> kButtonNames = {"按钮14", "按钮13", "按钮12", "按钮15", "按钮1"};

// The main window being started, beside the one the other tests share.
MainWindow *FindNewMainWindow(const MainWindow *shared) {
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<MainWindow *>(widget); window && window != shared)
            return window;
    return nullptr;
}

// Runs `step` every 20 ms until it answers true.
class Poller {
public:
    explicit Poller(std::function<bool()> step) {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, step] {
            if (step())
                m_timer.stop();
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

}  // namespace

class AppGuiTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();

    void startUp_data();
    void startUp();
    void layout_data();
    void layout();
    void maximiseAndRestore();
    void stepButtons_data();
    void stepButtons();
    void newestListButton();
    void readyAddresses_data();
    void readyAddresses();
    void subframeIsReported();
    void stepWhileThePageStillLoads();
    void pageCannotForgeAFrameReport();
    void newWindowLinkOpensInTheView();
    void jumpBox_data();
    void jumpBox();
    void engineShowsNoDialog();
    void pageCannotHoldTheViewerOnIt();
    void colourFieldOpensNoDialog();
    void rendererExitReloads();
    void closeDuringDownload();
    void closingEndsTheProgram();
    void releaseGlobals();
    void runLeavesNoFiles();

private:
    void watch(MainWindow &window);
    bool waitForReady(const std::string &address, std::size_t from);
    bool showPage(const QString &html, const char *name);
    bool clickPageUntilTitle(QPoint at, const QString &title);
    QPushButton *button(const char *name) const;
    void checkLayout(const MainWindow &window);

    demo::DemoForum m_forum;
    std::unique_ptr<MainWindow> m_window;
    std::vector<std::string> m_ready;
};

void AppGuiTest::initTestCase() {
    QVERIFY(m_forum.start());
    OverrideForumBaseUrlForTesting(m_forum.baseUrl());
    m_window = OpenMainWindow();
    QVERIFY(m_window);
    watch(*m_window);
    QVERIFY(m_window->isVisible());
}

void AppGuiTest::cleanupTestCase() {
    m_window.reset();
    m_forum.stop();
}

void AppGuiTest::watch(MainWindow &window) {
    WebView *view = &window.view();
    connect(view, &WebView::documentReady, this, [this, view] { m_ready.push_back(view->Url()); });
}

bool AppGuiTest::waitForReady(const std::string &address, std::size_t from) {
    const auto seen = [&] {
        for (std::size_t i = from; i < m_ready.size(); ++i)
            if (m_ready[i] == address)
                return true;
        return false;
    };
    return QTest::qWaitFor(seen, kLoadTimeoutMs);
}

// Shows html under the forum's address `name`; the page sets its title to "loaded" when it is in.
bool AppGuiTest::showPage(const QString &html, const char *name) {
    const QUrl base(QString::fromStdString(m_forum.baseUrl() + name));
    m_window->view().webPage()->setHtml(html, base);
    return QTest::qWaitFor(
        [&] { return m_window->view().page()->title() == QStringLiteral("loaded"); },
        kLoadTimeoutMs);
}

// The first clicks after a page is in may not reach it yet, so clicks go on until the page's
// title shows that one did.
bool AppGuiTest::clickPageUntilTitle(QPoint at, const QString &title) {
    QWidget *surface = m_window->view().focusProxy();
    if (surface == nullptr)
        return false;
    QElapsedTimer elapsed;
    elapsed.start();
    const auto titled = [&] { return m_window->view().page()->title() == title; };
    // A click, then a pause for the page to answer: clicks in a tight loop swamp its input.
    while (elapsed.elapsed() < kLoadTimeoutMs) {
        QTest::mouseClick(surface, Qt::LeftButton, {}, at);
        if (QTest::qWaitFor(titled, 50))
            return true;
    }
    return false;
}

QPushButton *AppGuiTest::button(const char *name) const {
    return m_window->findChild<QPushButton *>(QString::fromUtf8(name));
}

void AppGuiTest::checkLayout(const MainWindow &window) {
    const int w = window.width();
    const int h = window.height();
    const auto *view = window.findChild<QWebEngineView *>(QStringLiteral("超文本浏览框1"));
    QVERIFY(view);
    QCOMPARE(view->geometry(), QRect(0, 0, qMax(0, w - 60), h));
    const int tops[] = {0, 25, 50, 75, 100};
    const char *captions[] = {"上一页", "下一页", "最新贴", "跳转", "建议"};
    for (std::size_t i = 0; i < kButtonNames.size(); ++i) {
        const auto *b = window.findChild<QPushButton *>(QString::fromUtf8(kButtonNames[i]));
        QVERIFY(b);
        QCOMPARE(b->text(), QString::fromUtf8(captions[i]));
        QCOMPARE(b->geometry(), QRect(w - 55, tops[i], 50, 24));
    }
}

void AppGuiTest::startUp_data() {
    QTest::addColumn<QByteArray>("listPage");
    QTest::addColumn<QByteArray>("thread");

    const std::string page = demo::NewestListPage(m_forum.baseUrl(), {});
    std::string crlf;
    for (char c : page)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    QTest::newRow("forum_list") << QByteArray() << QByteArray("987");
    QTest::newRow("no_rows") << QByteArray("<html><body></body></html>") << QByteArray();
    QTest::newRow("crlf_rows") << QByteArray::fromStdString(crlf) << QByteArray();
}

void AppGuiTest::startUp() {
    QFETCH(QByteArray, listPage);
    QFETCH(QByteArray, thread);
    m_forum.setNewestListPage(listPage.toStdString());
    m_forum.holdNewestList(true);
    const std::size_t skip = m_forum.requests().size();

    bool probed = false;
    bool hiddenWhileHeld = false;
    Poller probe([&] {
        if (!m_forum.waitForRequest(kListTarget, 0ms, skip))
            return false;
        const MainWindow *window = FindNewMainWindow(m_window.get());
        hiddenWhileHeld = window && !window->isVisible();
        probed = true;
        m_forum.holdNewestList(false);
        return true;
    });
    std::unique_ptr<MainWindow> window = OpenMainWindow();
    m_forum.setNewestListPage("");
    m_forum.holdNewestList(false);
    QVERIFY(probed);
    QVERIFY(hiddenWhileHeld);

    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(),
             QStringLiteral("翎澜看帖工具  ") + QString::fromStdString(m_forum.baseUrl()));
    QVERIFY(window->windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(window->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    const QRect screen = window->screen()->geometry();
    QCOMPARE(window->frameGeometry(), CentredFrame(screen.size()).translated(screen.topLeft()));
    checkLayout(*window);
    QCOMPARE(CurrentThread, thread.toStdString());

    const std::size_t from = m_ready.size();
    watch(*window);
    QVERIFY(waitForReady(ThreadUrl(thread.toStdString()), from));
    QVERIFY(m_forum.waitForRequest("/thread-" + thread.toStdString() + "-1-1.html", 1000ms, skip));
    QCOMPARE(CurrentThread, thread.toStdString());
}

void AppGuiTest::layout_data() {
    QTest::addColumn<int>("w");
    QTest::addColumn<int>("h");
    QTest::newRow("design") << 948 << 430;
    QTest::newRow("large") << 1600 << 900;
    QTest::newRow("small") << 120 << 80;
    QTest::newRow("minimised") << 0 << 0;
}

void AppGuiTest::layout() {
    QFETCH(int, w);
    QFETCH(int, h);
    m_window->ApplyLayout(ComputeMainWindowLayout(w, h));
    const auto *view = m_window->findChild<QWebEngineView *>(QStringLiteral("超文本浏览框1"));
    // The window layer takes a negative width as none.
    QCOMPARE(view->geometry(), QRect(0, 0, qMax(0, w - 60), h));
    const int tops[] = {0, 25, 50, 75, 100};
    for (std::size_t i = 0; i < kButtonNames.size(); ++i)
        QCOMPARE(button(kButtonNames[i])->geometry(), QRect(w - 55, tops[i], 50, 24));
    m_window->LayOutMainWindow();
    checkLayout(*m_window);
}

void AppGuiTest::maximiseAndRestore() {
    QCOMPARE(m_window->frameGeometry().size(), QSize(948, 430));
    const QSize normal = m_window->size();
    m_window->showMaximized();
    QTRY_VERIFY(m_window->isMaximized());
    QTRY_COMPARE(m_window->frameGeometry(), m_window->screen()->availableGeometry());
    checkLayout(*m_window);
    m_window->showNormal();
    QTRY_COMPARE(m_window->size(), normal);
    QCOMPARE(m_window->frameGeometry().size(), QSize(948, 430));
    checkLayout(*m_window);
    // Minimised, the client area counts as 0 x 0; restored, the layout fits it again.
    m_window->showMinimized();
    QTRY_VERIFY(m_window->isMinimized());
    const auto *view = m_window->findChild<QWebEngineView *>(QStringLiteral("超文本浏览框1"));
    QCOMPARE(view->width(), 0);
    QCOMPARE(button("按钮1")->geometry(), QRect(-55, 100, 50, 24));
    m_window->showNormal();
    QTRY_VERIFY(!m_window->isMinimized());
    checkLayout(*m_window);
    // A size dragged in the normal state springs back.
    m_window->resize(700, 300);
    QTRY_COMPARE(m_window->size(), normal);
    checkLayout(*m_window);
}

void AppGuiTest::stepButtons_data() {
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QByteArray>("buttonName");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("next_from_987")
        << QByteArray("987") << QByteArray("按钮13") << QByteArray("988");
    QTest::newRow("previous_from_987")
        << QByteArray("987") << QByteArray("按钮14") << QByteArray("986");
    QTest::newRow("next_from_empty") << QByteArray() << QByteArray("按钮13") << QByteArray("1");
    QTest::newRow("next_from_abc") << QByteArray("abc") << QByteArray("按钮13") << QByteArray("1");
    QTest::newRow("next_from_13_digits")
        << QByteArray("9999999999999") << QByteArray("按钮13") << QByteArray("1e+013");
}

void AppGuiTest::stepButtons() {
    QFETCH(QByteArray, start);
    QFETCH(QByteArray, buttonName);
    QFETCH(QByteArray, expected);
    CurrentThread = start.toStdString();
    const std::size_t from = m_ready.size();
    QTest::mouseClick(button(buttonName.constData()), Qt::LeftButton);
    QCOMPARE(CurrentThread, expected.toStdString());
    QVERIFY(waitForReady(ThreadUrl(expected.toStdString()), from));
    QCOMPARE(CurrentThread, expected.toStdString());
}

void AppGuiTest::newestListButton() {
    CurrentThread = "555";
    const std::size_t from = m_ready.size();
    QTest::mouseClick(button("按钮12"), Qt::LeftButton);
    QVERIFY(waitForReady(NewestListUrl(), from));
    QCOMPARE(CurrentThread, "555");
}

void AppGuiTest::readyAddresses_data() {
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("reported");
    QTest::addColumn<bool>("changes");
    QTest::addColumn<QByteArray>("expected");
    const std::string base = m_forum.baseUrl();
    const auto bytes = [](const std::string &s) { return QByteArray::fromStdString(s); };
    QTest::newRow("thread") << bytes(ThreadUrl("987")) << bytes(ThreadUrl("987")) << true
                            << QByteArray("987");
    QTest::newRow("thread_with_fragment")
        << bytes(ThreadUrl("987") + "#pid5") << bytes(ThreadUrl("987") + "#pid5") << true
        << QByteArray("987");
    QTest::newRow("second_page") << bytes(base + "thread-987-2-1.html")
                                 << bytes(base + "thread-987-2-1.html") << true << QByteArray();
    QTest::newRow("query_address")
        << bytes(base + "forum.php?mod=viewthread&tid=987")
        << bytes(base + "forum.php?mod=viewthread&tid=987") << false << QByteArray();
    QTest::newRow("newest_list") << bytes(NewestListUrl()) << bytes(NewestListUrl()) << false
                                 << QByteArray();
    QTest::newRow("about_blank") << QByteArray("about:blank") << QByteArray("about:blank") << false
                                 << QByteArray();
    // The engine writes scheme and host in small letters but keeps the path as it is.
    QTest::newRow("capital_prefix")
        << bytes("HTTP://127.0.0.1:" + std::to_string(m_forum.port()) + "/THREAD-987-1-1.html")
        << bytes(base + "THREAD-987-1-1.html") << false << QByteArray();
}

void AppGuiTest::readyAddresses() {
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, reported);
    QFETCH(bool, changes);
    QFETCH(QByteArray, expected);
    std::size_t from = m_ready.size();
    m_window->view().Navigate("about:blank");
    QVERIFY(waitForReady("about:blank", from));

    CurrentThread = "555";
    from = m_ready.size();
    m_window->view().Navigate(address.toStdString());
    QVERIFY(waitForReady(reported.toStdString(), from));
    QCOMPARE(CurrentThread, changes ? expected.toStdString() : std::string("555"));
}

void AppGuiTest::subframeIsReported() {
    const std::size_t from = m_ready.size();
    m_window->view().Navigate(ThreadUrl("950"));
    QVERIFY(waitForReady(ThreadUrl("950"), from));
    const std::string frame = m_forum.baseUrl() + "frame-950.html";
    const auto frameAt = std::find(m_ready.begin() + from, m_ready.end(), frame);
    const auto pageAt = std::find(m_ready.begin() + from, m_ready.end(), ThreadUrl("950"));
    QVERIFY2(frameAt != m_ready.end(), "the frame's document was not reported");
    QVERIFY(frameAt < pageAt);
    QCOMPARE(CurrentThread, "950");
}

void AppGuiTest::stepWhileThePageStillLoads() {
    // A step is taken while the newest thread is still loading, straight after start-up: the
    // thread stepped to must be reported last, and the page left behind must not win.
    std::unique_ptr<MainWindow> window = OpenMainWindow();
    QCOMPARE(CurrentThread, "987");
    const std::size_t from = m_ready.size();
    watch(*window);
    QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("按钮14")), Qt::LeftButton);
    QVERIFY(waitForReady(ThreadUrl("986"), from));
    QCOMPARE(CurrentThread, "986");
    const auto lastPage = std::find_if(
        m_ready.rbegin(), m_ready.rend(),
        [](const std::string &url) { return url == ThreadUrl("987") || url == ThreadUrl("986"); });
    QCOMPARE(*lastPage, ThreadUrl("986"));
}

void AppGuiTest::pageCannotForgeAFrameReport() {
    // A page script that names itself like our script and logs a thread address.
    const std::string forged = ThreadUrl("4242");
    const QString html =
        QStringLiteral(
            "<html><body><script>"
            "eval('console.log(\"%1\")\\n//# sourceURL=userscript:viewer-frame-ready');"
            "</script></body></html>")
            .arg(QString::fromStdString(forged));
    CurrentThread = "555";
    const std::size_t from = m_ready.size();
    const QUrl base(QString::fromStdString(m_forum.baseUrl() + "forged.html"));
    m_window->view().webPage()->setHtml(html, base);
    QVERIFY(QTest::qWaitFor([&] { return m_ready.size() > from; }, kLoadTimeoutMs));
    for (std::size_t i = from; i < m_ready.size(); ++i)
        QVERIFY(m_ready[i] != forged);
    QCOMPARE(CurrentThread, "555");
}

void AppGuiTest::newWindowLinkOpensInTheView() {
    WebView &view = m_window->view();
    std::size_t from = m_ready.size();
    view.Navigate(NewestListUrl());
    QVERIFY(waitForReady(NewestListUrl(), from));

    QVariant found;
    view.page()->runJavaScript(
        QStringLiteral(
            "(function () {"
            "  var a = document.querySelector('a[target=_blank]');"
            "  var r = a.getBoundingClientRect();"
            "  return [Math.round(r.left + r.width / 2), Math.round(r.top + r.height / 2),"
            "          a.href];"
            "})()"),
        [&found](const QVariant &result) { found = result; });
    QTRY_VERIFY_WITH_TIMEOUT(found.isValid(), kLoadTimeoutMs);
    const QVariantList link = found.toList();
    QCOMPARE(link.size(), 3);
    QCOMPARE(link[2].toString().toStdString(), ThreadUrl("987"));
    const QPoint at(link[0].toInt(), link[1].toInt());

    CurrentThread = "555";
    QWidget *surface = view.focusProxy();
    QVERIFY(surface);
    QTest::mouseMove(surface, at);
    QTRY_COMPARE_WITH_TIMEOUT(view.StatusText(), ThreadUrl("987"), kLoadTimeoutMs);

    from = m_ready.size();
    QSignalSpy asked(&view, &WebView::aboutToOpenNewWindow);
    QTest::mouseClick(surface, Qt::LeftButton, {}, at);
    QVERIFY(asked.wait(kLoadTimeoutMs) || asked.count() > 0);
    QVERIFY(waitForReady(ThreadUrl("987"), from));
    QCOMPARE(CurrentThread, "987");

    int visibleWindows = 0;
    for (QWidget *widget : QApplication::topLevelWidgets())
        visibleWindows += widget->isVisible() ? 1 : 0;
    QCOMPARE(visibleWindows, 1);
    QCOMPARE(m_window->findChildren<QWebEngineView *>().size(), 1);

    // Off the link the status text is empty, and a script's new window sends the view to
    // about:blank.
    QTest::mouseMove(surface, QPoint(2, surface->height() - 2));
    QTRY_COMPARE_WITH_TIMEOUT(view.StatusText(), std::string(), kLoadTimeoutMs);
    from = m_ready.size();
    view.page()->runJavaScript(QStringLiteral("window.open('") +
                               QString::fromStdString(ThreadUrl("950")) + QStringLiteral("');"));
    QVERIFY(waitForReady("about:blank", from));
    QCOMPARE(CurrentThread, "987");
}

void AppGuiTest::jumpBox_data() {
    QTest::addColumn<QString>("answer");      // text to type, or "<esc>", "<close>", "<cancel>"
    QTest::addColumn<bool>("pageMeanwhile");  // a page becomes ready while the box is open
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("confirm_1234") << QStringLiteral("1234") << false << QByteArray("1234");
    QTest::newRow("confirm_empty") << QString() << false << QByteArray();
    QTest::newRow("confirm_abc") << QStringLiteral("abc") << false << QByteArray("abc");
    QTest::newRow("confirm_chinese")
        << QStringLiteral("中文") << false << QByteArray("\xd6\xd0\xce\xc4");
    QTest::newRow("cancel_with_escape") << QStringLiteral("<esc>") << false << QByteArray("987");
    QTest::newRow("cancel_with_button") << QStringLiteral("<cancel>") << false << QByteArray("987");
    QTest::newRow("cancel_with_close_box")
        << QStringLiteral("<close>") << false << QByteArray("987");
    QTest::newRow("confirm_over_a_page_ready_meanwhile")
        << QStringLiteral("1234") << true << QByteArray("1234");
    QTest::newRow("cancel_after_a_page_ready_meanwhile")
        << QStringLiteral("<esc>") << true << QByteArray("987");
}

void AppGuiTest::jumpBox() {
    QFETCH(QString, answer);
    QFETCH(bool, pageMeanwhile);
    QFETCH(QByteArray, expected);
    CurrentThread = "42";
    const std::size_t skip = m_forum.requests().size();
    const std::size_t from = m_ready.size();

    QString caption;
    QString selected;
    bool answered = false;
    Poller answerer([&] {
        auto *box = qobject_cast<InputBox *>(QApplication::activeModalWidget());
        if (!box)
            return false;
        auto *field = box->findChild<QLineEdit *>(QStringLiteral("field"));
        caption = box->windowTitle();
        selected = field->selectedText();
        answered = true;
        if (pageMeanwhile) {
            m_window->view().Navigate(ThreadUrl("960"));
            if (!QTest::qWaitFor([] { return CurrentThread == "960"; }, kLoadTimeoutMs))
                qWarning("no page became ready while the box was open");
        }
        if (answer == u"<esc>")
            QTest::keyClick(field, Qt::Key_Escape);
        else if (answer == u"<close>")
            box->close();
        else if (answer == u"<cancel>")
            QTest::mouseClick(box->findChild<QPushButton *>(QStringLiteral("cancel")),
                              Qt::LeftButton);
        else {
            QTest::keyClick(field, Qt::Key_Backspace);
            // Key clicks carry ASCII only; other text is typed the way an input method does.
            if (answer.toLatin1() == answer.toUtf8())
                QTest::keyClicks(field, answer);
            else
                field->insert(answer);
            QTest::keyClick(field, Qt::Key_Return);
        }
        return true;
    });
    QTest::mouseClick(button("按钮15"), Qt::LeftButton);

    QVERIFY(answered);
    QCOMPARE(caption, QStringLiteral("请输入："));
    QCOMPARE(selected, QStringLiteral("42"));
    QCOMPARE(CurrentThread, expected.toStdString());
    if (pageMeanwhile)
        QVERIFY(std::find(m_ready.begin() + from, m_ready.end(), ThreadUrl("960")) !=
                m_ready.end());
    const bool cancelled = answer.startsWith(u'<');
    QCOMPARE(m_forum.waitForRequest(kListTarget, 0ms, skip), cancelled);
    QVERIFY(waitForReady(ThreadUrl(expected.toStdString()), from));
}

void AppGuiTest::engineShowsNoDialog() {
    bool sawDialog = false;
    Poller watchdog([&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            sawDialog = true;
            modal->close();
        }
        return false;
    });
    const QString html = QStringLiteral(
        "<html><body><script>"
        "alert('a');"
        "var answers = 'done:' + confirm('b') + ':' + prompt('c', 'd');"
        "document.title = answers;"
        "Notification.requestPermission().then(function (r) {"
        "  document.title = answers + ':' + r; });"
        "</script></body></html>");
    const QUrl base(QString::fromStdString(m_forum.baseUrl() + "silent.html"));
    m_window->view().webPage()->setHtml(html, base);
    QTRY_COMPARE_WITH_TIMEOUT(m_window->view().page()->title(),
                              QStringLiteral("done:false:null:denied"), kLoadTimeoutMs);
    QVERIFY(!sawDialog);
}

void AppGuiTest::pageCannotHoldTheViewerOnIt() {
    // A page that asks "leave this page?" once the user has touched it: the buttons must still
    // move the view, as no question can be shown.
    const QString html = QStringLiteral(
        "<html><body style='height:2000px'><script>"
        "window.addEventListener('beforeunload', function (e) {"
        "  e.preventDefault(); e.returnValue = 'stay'; });"
        "document.addEventListener('mousedown', function () { document.title = 'touched'; });"
        "document.title = 'loaded';"
        "</script><p>a page with unsaved work</p></body></html>");
    QVERIFY(showPage(html, "unsaved.html"));
    QVERIFY(clickPageUntilTitle(QPoint(20, 20), QStringLiteral("touched")));

    CurrentThread = "960";
    const std::size_t from = m_ready.size();
    QTest::mouseClick(button("按钮13"), Qt::LeftButton);
    QVERIFY(waitForReady(ThreadUrl("961"), from));
    QCOMPARE(CurrentThread, "961");
}

void AppGuiTest::colourFieldOpensNoDialog() {
    // A colour field fills the page; a click on it would open the engine's colour dialog.
    const QString html = QStringLiteral(
        "<html><body style='margin:0'><input type='color' style='width:600px;height:300px'"
        " onclick=\"document.title = 'clicked'\">"
        "<script>document.title = 'loaded';</script></body></html>");
    QVERIFY(showPage(html, "colour.html"));
    const auto dialogShown = [] {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && qobject_cast<QDialog *>(widget))
                return true;
        return false;
    };
    QVERIFY(clickPageUntilTitle(QPoint(100, 100), QStringLiteral("clicked")));
    // Nothing to wait for when all goes well: give the engine a bounded chance to show one.
    QVERIFY(!QTest::qWaitFor(dialogShown, 2000));
}

void AppGuiTest::closeDuringDownload() {
    std::unique_ptr<MainWindow> window = OpenMainWindow();
    watch(*window);
    QVERIFY(window->isVisible());
    std::size_t from = m_ready.size();
    QVERIFY(waitForReady(ThreadUrl("987"), from));

    m_forum.holdNewestList(true);
    const std::size_t skip = m_forum.requests().size();
    bool cancelled = false;
    bool closed = false;
    Poller user([&] {
        if (!cancelled) {
            if (auto *box = QApplication::activeModalWidget()) {
                QTest::keyClick(box, Qt::Key_Escape);
                cancelled = true;
            }
            return false;
        }
        if (!m_forum.waitForRequest(kListTarget, 0ms, skip))
            return false;
        window->close();
        closed = true;
        return true;
    });
    from = m_ready.size();
    // Returns once the jump handler has ended, while the forum still holds the list back.
    QTest::mouseClick(window->findChild<QPushButton *>(QString::fromUtf8("按钮15")),
                      Qt::LeftButton);
    QVERIFY(cancelled);
    QVERIFY(closed);
    QVERIFY(window->isClosed());
    QVERIFY(window->view().RefusesNavigation());
    QCOMPARE(CurrentThread, "");
    m_forum.holdNewestList(false);
    // The closed window's view was sent nowhere.
    QTest::qWait(0);
    QCOMPARE(window->view().Url(), ThreadUrl("987"));
    window.reset();
}

void AppGuiTest::rendererExitReloads() {
    WebView &view = m_window->view();
    std::size_t from = m_ready.size();
    view.Navigate(ThreadUrl("950"));
    QVERIFY(waitForReady(ThreadUrl("950"), from));

    QSignalSpy exited(view.page(), &QWebEnginePage::renderProcessTerminated);
    from = m_ready.size();
    // The engine's debug address ends the renderer without leaving the page.
    view.page()->load(QUrl(QStringLiteral("chrome://kill")));
    QVERIFY(exited.wait(kLoadTimeoutMs));
    QVERIFY(waitForReady(ThreadUrl("950"), from));
    QCOMPARE(CurrentThread, "950");
}

void AppGuiTest::closingEndsTheProgram() {
    // Only the program's own window may be open for the loop to end with it.
    m_window->hide();
    bool closed = false;
    bool released = false;
    QElapsedTimer sinceClose;
    // The forum answers only well after the close, yet sooner than a fetch gives up waiting.
    QTimer release;
    release.setSingleShot(true);
    connect(&release, &QTimer::timeout, this, [&] {
        released = true;
        m_forum.holdNewestList(false);
    });
    enum class Stage { Starting, Jumping, Downloading } stage = Stage::Starting;
    Poller user([&] {
        MainWindow *window = FindNewMainWindow(m_window.get());
        if (!window || !window->isVisible())
            return false;
        if (QWidget *box = QApplication::activeModalWidget()) {
            QTest::keyClick(box, Qt::Key_Escape);
            stage = Stage::Downloading;
            return false;
        }
        if (stage == Stage::Starting) {
            if (window->view().Url() != ThreadUrl("987"))
                return false;
            m_forum.clearRequests();
            m_forum.holdNewestList(true);
            // A cancelled jump starts a download that the forum holds back.
            auto *jump = window->findChild<QPushButton *>(QStringLiteral("按钮15"));
            QTimer::singleShot(0, jump, [jump] { QTest::mouseClick(jump, Qt::LeftButton); });
            stage = Stage::Jumping;
            return false;
        }
        if (stage != Stage::Downloading || !m_forum.waitForRequest(kListTarget, 0ms))
            return false;
        sinceClose.start();
        window->close();
        closed = true;
        release.start(kFetchTimeoutMs / 2);
        return true;
    });

    m_forum.clearRequests();
    const int status = StartProgram();
    const bool endedWhileHeld = !released;
    if (sinceClose.isValid())
        qInfo("the message loop ended %lld ms after the close", sinceClose.elapsed());
    release.stop();
    m_forum.holdNewestList(false);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
    QVERIFY(closed);
    QCOMPARE(status, 0);
    QVERIFY(endedWhileHeld);
    QVERIFY(!FindNewMainWindow(m_window.get()));
}

void AppGuiTest::releaseGlobals() {
    CurrentThread = "987";
    GuidePageHtml = "<html>";
    ReleaseGlobals();
    QVERIFY(CurrentThread.empty());
    QVERIFY(GuidePageHtml.empty());
    ReleaseGlobals();
    QVERIFY(CurrentThread.empty());
}

void AppGuiTest::runLeavesNoFiles() {
    if (std::string(VIEWER_FORUM_BASE_URL) != "http://127.0.0.1:18080/")
        QSKIP("the program is built for another forum");
    demo::DemoForum forum;
    if (!forum.start(18080))
        QSKIP("port 18080 is taken");

    QTemporaryDir scratch;
    QVERIFY(scratch.isValid());
    const QString home = scratch.filePath(QStringLiteral("home"));
    const QString runtime = scratch.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(home));
    QVERIFY(QDir().mkpath(runtime));
    QFile::setPermissions(runtime,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/.cache"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
    env.insert(QStringLiteral("XDG_STATE_HOME"), home + QStringLiteral("/.local/state"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // The program keeps the shader caches off the disk by itself.
    env.remove(QStringLiteral("QT_DISABLE_SHADER_DISK_CACHE"));
    env.remove(QStringLiteral("MESA_SHADER_CACHE_DISABLE"));

    QProcess viewer;
    viewer.setProcessEnvironment(env);
    viewer.setProcessChannelMode(QProcess::ForwardedChannels);
    viewer.start(QStringLiteral(VIEWER_PROGRAM), {});
    QVERIFY(viewer.waitForStarted(10000));
    const bool framed = forum.waitForRequest("/frame-987.html", 30s);
    viewer.kill();
    viewer.waitForFinished(10000);
    QVERIFY2(framed, "the program did not open the newest thread");

    QStringList written;
    QDirIterator it(home, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        written << it.next();
    QVERIFY2(written.isEmpty(), qPrintable(written.join(u'\n')));
}

}  // namespace viewer

int main(int argc, char **argv) {
    int status = viewer::RunApplication(argc, argv, [&] {
        viewer::AppGuiTest test;
        const int result = QTest::qExec(&test, argc, argv);
        viewer::CurrentThread = "987";
        viewer::GuidePageHtml = "<html>";
        return result;
    });
    // The exit routine that the start-up registered runs when the application goes.
    if (!viewer::CurrentThread.empty() || !viewer::GuidePageHtml.empty()) {
        std::fputs("FAIL: the globals were not released at the end\n", stderr);
        status = 1;
    }
    return status;
}

#include "app_gui_test.moc"
