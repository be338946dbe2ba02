// The "建议" button of the real main window: its input boxes, and a window that keeps working
// while the POST waits for its answer.

#include <curl/curl.h>

#include <QApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "app/input_box.h"
#include "app/main_window.h"
#include "app/start_program.h"
#include "app/web_view.h"
#include "demo_forum.h"
#include "http/page_fetcher.h"
#include "loopback_server.h"
#include "navigation/thread_navigator.h"
#include "suggest/suggestion.h"
#include "suggest/suggestion_post.h"
#include "suggest/thanks_box.h"

using namespace std::chrono_literals;

namespace viewer {

class SuggestionGuiTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void windowWorksWhileThePostWaits();

private:
    QPushButton *button(const char *name) const {
        return m_window->findChild<QPushButton *>(QString::fromUtf8(name));
    }

    demo::DemoForum m_forum;
    std::unique_ptr<MainWindow> m_window;
};

void SuggestionGuiTest::initTestCase() {
    QVERIFY(m_forum.start());
    OverrideForumBaseUrlForTesting(m_forum.baseUrl());
    m_window = OpenMainWindow();
    QVERIFY(m_window && m_window->isVisible());
    // The newest thread is on screen before anything is clicked.
    QTRY_VERIFY_WITH_TIMEOUT(m_window->view().Url() == ThreadUrl(CurrentThread), 30000);
}

void SuggestionGuiTest::cleanupTestCase() {
    SetThanksBoxHookForTesting({});
    m_window.reset();
    m_forum.stop();
}

void SuggestionGuiTest::windowWorksWhileThePostWaits() {
    // The feedback server holds its answer until the test lets it go.
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<bool> arrived{false};
    loopback::LoopbackServer feedback([&](const loopback::Request &) {
        arrived = true;
        std::unique_lock lock(mutex);
        released.wait_for(lock, 60s, [&] { return release; });
        return loopback::Reply::Http(200, "ok");
    });
    QVERIFY(feedback.start());
    OverrideFeedbackUrlForTesting(feedback.url("/qq.txt"));
    const auto letAnswerGo = [&] {
        {
            const std::lock_guard lock(mutex);
            release = true;
        }
        released.notify_all();
    };
    const auto releaseOnExit = qScopeGuard(letAnswerGo);

    std::vector<std::string> events;
    QStringList captions;
    // The two boxes get a problem and a contact typed in and confirmed with Enter.
    QTimer typist;
    connect(&typist, &QTimer::timeout, &typist, [&] {
        auto *box = qobject_cast<InputBox *>(QApplication::activeModalWidget());
        if (box == nullptr || !box->isVisible())
            return;
        captions << box->windowTitle();
        auto *field = box->findChild<QLineEdit *>();
        field->setText(captions.size() == 1 ? QString::fromUtf8("中文") : QStringLiteral("me"));
        QTest::keyClick(field, Qt::Key_Return);
    });
    typist.start(20);

    // Once the POST waits, "下一页" is clicked; when that thread is on screen the answer may go.
    std::string nextThread;
    QTimer clicker;
    connect(&clicker, &QTimer::timeout, &clicker, [&] {
        if (!arrived || !nextThread.empty())
            return;
        clicker.stop();
        QTest::mouseClick(button("按钮13"), Qt::LeftButton);
        nextThread = ThreadUrl(CurrentThread);
        events.push_back("next clicked");
    });
    clicker.start(20);
    connect(&m_window->view(), &WebView::documentReady, &clicker, [&] {
        if (!nextThread.empty() && m_window->view().Url() == nextThread &&
            events.back() == "next clicked") {
            events.push_back("next shown");
            letAnswerGo();
        }
    });
    SetThanksBoxHookForTesting([&](QMessageBox &box) {
        events.push_back("thanks");
        box.button(QMessageBox::Ok)->click();
    });

    QTest::mouseClick(button("按钮1"), Qt::LeftButton);

    QCOMPARE(captions, QStringList({QString::fromUtf8("请输入您要反馈的问题！"),
                                    QString::fromUtf8("请输入您的联系方式！")}));
    QCOMPARE(events, (std::vector<std::string>{"next clicked", "next shown", "thanks"}));
    const auto requests = feedback.requests();
    QCOMPARE(requests.size(), std::size_t(1));
    // "中文" as GBK, unescaped.
    QCOMPARE(requests[0].body, std::string("title=me&content=\xd6\xd0\xce\xc4"));
}

}  // namespace viewer

int main(int argc, char **argv) {
    return viewer::RunApplication(argc, argv, [&] {
        viewer::SuggestionGuiTest test;
        const int status = QTest::qExec(&test, argc, argv);
        viewer::StopSuggestionPosts(10s);
        return status;
    });
}

#include "suggestion_gui_test.moc"
