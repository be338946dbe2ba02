// The suggestion command against a loopback feedback server, with scripted input boxes and
// the thanks box answered through its test hook. No web engine: runs under the sanitizers.

#include <curl/curl.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <mutex>
#include <optional>

#include "loopback_server.h"
#include "suggest/suggestion.h"
#include "suggest/suggestion_post.h"
#include "suggest/thanks_box.h"

using namespace std::chrono_literals;
using viewer::loopback::LoopbackServer;
using viewer::loopback::Reply;
using viewer::loopback::Request;

namespace {

// "请输入您要反馈的问题！" and "请输入您的联系方式！" in GBK.
const std::string kProblemCaption =
    "\xc7\xeb\xca\xe4\xc8\xeb\xc4\xfa\xd2\xaa\xb7\xb4\xc0\xa1\xb5\xc4\xce\xca\xcc\xe2\xa3\xa1";
const std::string kContactCaption =
    "\xc7\xeb\xca\xe4\xc8\xeb\xc4\xfa\xb5\xc4\xc1\xaa\xcf\xb5\xb7\xbd\xca\xbd\xa3\xa1";

// Input boxes that answer from a script: a text confirms, nullopt cancels.
struct ScriptedBoxes {
    ScriptedBoxes() = default;
    explicit ScriptedBoxes(std::vector<std::optional<std::string>> script)
        : answers(std::move(script)) {}

    std::vector<std::optional<std::string>> answers;
    std::vector<std::string> captions;
    std::vector<std::string> initialTexts;

    viewer::AskText asker() {
        return [this](std::string_view caption, std::string &answer) {
            captions.emplace_back(caption);
            initialTexts.push_back(answer);
            if (captions.size() > answers.size() || !answers[captions.size() - 1])
                return false;
            answer = *answers[captions.size() - 1];
            return true;
        };
    }
};

struct ShownBox {
    QString caption;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    bool onTop = false;
    bool owned = true;
    bool modal = true;
    qint64 shownAtMs = 0;
};

}  // namespace

class SuggestionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void bodyGoesOutAsTyped_data();
    void bodyGoesOutAsTyped();
    void cancelEndsSilently_data();
    void cancelEndsSilently();
    void thanksOnlyForAnAnswerWithBody_data();
    void thanksOnlyForAnAnswerWithBody();
    void responseText_data();
    void responseText();
    void thanksBoxLeavesOtherWindowsUsable();
    void waitKeepsDispatchingEvents();
    void secondSuggestionRunsInsideTheWait();
    void abandonedRequestFinishesIntoItsOwnRecord();
    void userInputKeepsTheWaitGoing();
    void exitStopsAnAbandonedRequest();
    void redirectToHttpsVerifiesTheCertificate();

private:
    void setReply(std::function<Reply(const Request &)> reply) {
        const std::lock_guard lock(m_replyMutex);
        m_reply = std::move(reply);
    }

    std::mutex m_replyMutex;
    std::function<Reply(const Request &)> m_reply;
    LoopbackServer m_server{[this](const Request &request) {
        const std::lock_guard lock(m_replyMutex);
        return m_reply(request);
    }};
    std::vector<ShownBox> m_boxes;
    QElapsedTimer m_clock;
    std::function<void()> m_whileBoxShown;
};

void SuggestionTest::initTestCase() {
    QVERIFY(m_server.start());
    m_clock.start();
    viewer::SetThanksBoxHookForTesting([this](QMessageBox &box) {
        ShownBox shown;
        shown.caption = box.windowTitle();
        shown.text = box.text();
        shown.icon = box.icon();
        shown.buttons = box.standardButtons();
        shown.onTop = box.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        shown.owned = box.parentWidget() != nullptr;
        shown.modal = box.isModal() || QApplication::activeModalWidget() != nullptr;
        shown.shownAtMs = m_clock.elapsed();
        m_boxes.push_back(shown);
        if (m_whileBoxShown)
            m_whileBoxShown();
        box.button(QMessageBox::Ok)->click();
    });
}

void SuggestionTest::init() {
    setReply([](const Request &) { return Reply::Http(200, "ok"); });
    viewer::OverrideFeedbackUrlForTesting(m_server.url("/qq.txt"));
    viewer::SetSuggestionPostOptionsForTesting({});
    viewer::SetSuggestionWaitBoundForTesting(viewer::kSuggestionWaitBound);
    m_server.clearRequests();
    m_boxes.clear();
    m_whileBoxShown = nullptr;
}

void SuggestionTest::cleanupTestCase() {
    viewer::SetThanksBoxHookForTesting({});
    QVERIFY(viewer::StopSuggestionPosts(10s));
}

void SuggestionTest::bodyGoesOutAsTyped_data() {
    QTest::addColumn<QByteArray>("problem");
    QTest::addColumn<QByteArray>("contact");
    QTest::addColumn<QByteArray>("body");

    QTest::newRow("both empty") << QByteArray() << QByteArray() << QByteArray("title=&content=");
    QTest::newRow("separators unescaped")
        << QByteArray("x") << QByteArray("a&b=c") << QByteArray("title=a&b=c&content=x");
    // "中文问题" and "联系我" as GBK bytes.
    QTest::newRow("chinese as gbk")
        << QByteArray("\xd6\xd0\xce\xc4\xce\xca\xcc\xe2") << QByteArray("\xc1\xaa\xcf\xb5\xce\xd2")
        << QByteArray("title=\xc1\xaa\xcf\xb5\xce\xd2&content=\xd6\xd0\xce\xc4\xce\xca\xcc\xe2");
    QTest::newRow("percent and plus kept")
        << QByteArray("100% + 1") << QByteArray("%41") << QByteArray("title=%41&content=100% + 1");
}

void SuggestionTest::bodyGoesOutAsTyped() {
    QFETCH(QByteArray, problem);
    QFETCH(QByteArray, contact);
    QFETCH(QByteArray, body);

    ScriptedBoxes boxes{{problem.toStdString(), contact.toStdString()}};
    viewer::SendSuggestion(boxes.asker());

    QCOMPARE(boxes.captions, (std::vector<std::string>{kProblemCaption, kContactCaption}));
    QCOMPARE(boxes.initialTexts, (std::vector<std::string>{"", ""}));
    const auto requests = m_server.requests();
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(QByteArray::fromStdString(requests[0].body), body);
    QCOMPARE(requests[0].header("Content-Length"), std::to_string(body.size()));
    QCOMPARE(requests[0].method, std::string("POST"));
    QCOMPARE(requests[0].target, std::string("/qq.txt"));
    QCOMPARE(m_boxes.size(), std::size_t(1));
}

void SuggestionTest::cancelEndsSilently_data() {
    QTest::addColumn<bool>("confirmFirst");
    QTest::addColumn<int>("boxesShown");
    QTest::newRow("cancel in the problem box") << false << 1;
    QTest::newRow("cancel in the contact box") << true << 2;
}

void SuggestionTest::cancelEndsSilently() {
    QFETCH(bool, confirmFirst);
    QFETCH(int, boxesShown);

    ScriptedBoxes boxes;
    if (confirmFirst)
        boxes.answers = {std::string("problem"), std::nullopt};
    viewer::SendSuggestion(boxes.asker());

    QCOMPARE(int(boxes.captions.size()), boxesShown);
    QVERIFY(m_server.requests().empty());
    QVERIFY(m_boxes.empty());
}

void SuggestionTest::thanksOnlyForAnAnswerWithBody_data() {
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("thanked");
    QTest::newRow("200 without body") << "empty" << false;
    QTest::newRow("404 with a page") << "404" << true;
    QTest::newRow("500 with a page") << "500" << true;
    QTest::newRow("302 chain to a page") << "chain to page" << true;
    QTest::newRow("302 chain to nothing") << "chain to empty" << false;
    QTest::newRow("unreachable host") << "unreachable" << false;
    QTest::newRow("utf-8 byte-order mark alone") << "bom" << true;
    QTest::newRow("zero byte first") << "zero" << false;
}

void SuggestionTest::thanksOnlyForAnAnswerWithBody() {
    QFETCH(QString, answer);
    QFETCH(bool, thanked);

    setReply([answer](const Request &request) {
        if (answer == "empty")
            return Reply::Http(200, "");
        if (answer == "404")
            return Reply::Http(404, "<html>not found</html>");
        if (answer == "500")
            return Reply::Http(500, "<html>server error</html>");
        if (answer == "bom")
            return Reply::Http(200, "\xef\xbb\xbf", "Content-Type: text/plain; charset=utf-8\r\n");
        if (answer == "zero")
            return Reply::Http(200, std::string("\0abc", 4));
        // The chain: /qq.txt -> /a -> /b -> the last answer.
        if (request.target == "/qq.txt")
            return Reply::Http(302, "moved", "Location: /a\r\n");
        if (request.target == "/a")
            return Reply::Http(302, "moved", "Location: /b\r\n");
        return Reply::Http(200, answer == "chain to page" ? "thanks" : "");
    });
    if (answer == "unreachable") {
        LoopbackServer gone([](const Request &) { return Reply::Http(200, "x"); });
        QVERIFY(gone.start());
        viewer::OverrideFeedbackUrlForTesting(gone.url("/qq.txt"));
    }

    ScriptedBoxes boxes{{std::string("p"), std::string("c")}};
    viewer::SendSuggestion(boxes.asker());

    QCOMPARE(m_boxes.size(), std::size_t(thanked ? 1 : 0));
    if (answer.startsWith("chain"))
        QCOMPARE(m_server.requests().size(), std::size_t(3));
}

void SuggestionTest::responseText_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("code page kept") << QByteArray("\xd6\xd0") << false << QByteArray("\xd6\xd0");
    QTest::newRow("utf-8 to gbk") << QByteArray("\xe4\xb8\xad") << true << QByteArray("\xd6\xd0");
    QTest::newRow("invalid utf-8 still text")
        << QByteArray("\xff") << true << QByteArray("\x84\x31\xa4\x37");
    QTest::newRow("cut at zero") << QByteArray("ab\0cd", 5) << false << QByteArray("ab");
    QTest::newRow("empty") << QByteArray() << true << QByteArray();
}

void SuggestionTest::responseText() {
    QFETCH(QByteArray, body);
    QFETCH(bool, utf8);
    QFETCH(QByteArray, text);
    viewer::FormPostAnswer answer;
    answer.body = body.toStdString();
    answer.utf8 = utf8;
    QCOMPARE(QByteArray::fromStdString(viewer::ResponseText(answer)), text);
}

void SuggestionTest::thanksBoxLeavesOtherWindowsUsable() {
    QWidget mainWindow;
    auto *button = new QPushButton("next", &mainWindow);
    int clicks = 0;
    connect(button, &QPushButton::clicked, &mainWindow, [&clicks] { ++clicks; });
    mainWindow.show();
    QVERIFY(QTest::qWaitForWindowExposed(&mainWindow));
    m_whileBoxShown = [&] {
        QVERIFY(mainWindow.isEnabled());
        QTest::mouseClick(button, Qt::LeftButton);
    };

    ScriptedBoxes boxes{{std::string("p"), std::string("c")}};
    viewer::SendSuggestion(boxes.asker());

    QCOMPARE(m_boxes.size(), std::size_t(1));
    const ShownBox &box = m_boxes[0];
    QCOMPARE(box.caption, QString::fromUtf8("感谢您的支持~"));
    QCOMPARE(box.text, QString::fromUtf8("反馈成功，谢谢您的反馈！"));
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(box.onTop);
    QVERIFY(!box.owned);
    QVERIFY(!box.modal);
    QCOMPARE(clicks, 1);
}

void SuggestionTest::waitKeepsDispatchingEvents() {
    setReply([](const Request &) {
        return Reply().pause(800ms).send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    int ticks = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, &ticker, [&ticks] { ++ticks; });
    ticker.start(20);

    ScriptedBoxes boxes{{std::string("p"), std::string("c")}};
    const qint64 started = m_clock.elapsed();
    viewer::SendSuggestion(boxes.asker());

    QCOMPARE(m_boxes.size(), std::size_t(1));
    QVERIFY2(ticks >= 10, qPrintable(QString::number(ticks)));
    QVERIFY(m_boxes[0].shownAtMs - started >= 750);
}

void SuggestionTest::secondSuggestionRunsInsideTheWait() {
    setReply([](const Request &request) {
        if (request.body.ends_with("first"))
            return Reply().pause(1200ms).send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
        return Reply::Http(200, "ok");
    });
    std::vector<std::string> order;
    m_whileBoxShown = [&order] { order.push_back("box"); };
    ScriptedBoxes first{{std::string("first"), std::string("c1")}};
    ScriptedBoxes second{{std::string("second"), std::string("c2")}};
    QTimer::singleShot(100, this, [&] {
        viewer::SendSuggestion(second.asker());
        order.push_back("second returned");
    });

    viewer::SendSuggestion(first.asker());

    QCOMPARE(order, (std::vector<std::string>{"box", "second returned", "box"}));
    const auto requests = m_server.requests();
    QCOMPARE(requests.size(), std::size_t(2));
    QCOMPARE(requests[0].body, std::string("title=c1&content=first"));
    QCOMPARE(requests[1].body, std::string("title=c2&content=second"));
}

void SuggestionTest::abandonedRequestFinishesIntoItsOwnRecord() {
    viewer::SetSuggestionWaitBoundForTesting(200ms);
    setReply([](const Request &) {
        return Reply().pause(1000ms).send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nlate");
    });

    {
        ScriptedBoxes boxes{{std::string("p"), std::string("c")}};
        viewer::SendSuggestion(boxes.asker());
    }
    QVERIFY(m_boxes.empty());
    QVERIFY(viewer::RunningSuggestionPosts() == 1);
    // The late answer lands while the handler's texts and its wait are long gone.
    QTRY_VERIFY_WITH_TIMEOUT(viewer::RunningSuggestionPosts() == 0, 10000);
    QTest::qWait(50);
    QVERIFY(m_boxes.empty());
}

void SuggestionTest::userInputKeepsTheWaitGoing() {
    viewer::SetSuggestionWaitBoundForTesting(300ms);
    setReply([](const Request &) {
        return Reply().pause(1200ms).send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    });
    QLineEdit field;
    field.show();
    QVERIFY(QTest::qWaitForWindowExposed(&field));
    QTimer typist;
    connect(&typist, &QTimer::timeout, &field, [&field] { QTest::keyClick(&field, Qt::Key_A); });
    typist.start(100);

    ScriptedBoxes boxes{{std::string("p"), std::string("c")}};
    viewer::SendSuggestion(boxes.asker());

    QCOMPARE(m_boxes.size(), std::size_t(1));
    QVERIFY(field.text().size() >= 5);
}

void SuggestionTest::exitStopsAnAbandonedRequest() {
    viewer::SetSuggestionWaitBoundForTesting(200ms);
    setReply([](const Request &) { return Reply().hang(); });

    ScriptedBoxes boxes{{std::string("p"), std::string("c")}};
    viewer::SendSuggestion(boxes.asker());
    QVERIFY(m_boxes.empty());
    QCOMPARE(viewer::RunningSuggestionPosts(), std::size_t(1));

    // What the application does on its way out, before libcurl's global cleanup.
    QVERIFY(viewer::StopSuggestionPosts(5s));
    QCOMPARE(viewer::RunningSuggestionPosts(), std::size_t(0));
}

namespace {

bool RunOpenssl(const QString &dir, const QStringList &arguments) {
    QProcess openssl;
    openssl.setWorkingDirectory(dir);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start("openssl", arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0) {
        qWarning() << openssl.readAll();
        return false;
    }
    return true;
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

}  // namespace

void SuggestionTest::redirectToHttpsVerifiesTheCertificate() {
    if (QStandardPaths::findExecutable("openssl").isEmpty())
        QSKIP("openssl is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.path();
    const QStringList ecKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                               "-nodes"};
    QVERIFY(RunOpenssl(path, QStringList{"req", "-x509"} + ecKey +
                                 QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-days", "2",
                                             "-subj", "/CN=Suggestion Test CA"}));
    QVERIFY(RunOpenssl(path, QStringList{"req", "-x509"} + ecKey +
                                 QStringList{"-keyout", "other.key", "-out", "other.pem", "-days",
                                             "2", "-subj", "/CN=Other CA"}));
    QVERIFY(RunOpenssl(path, QStringList{"req"} + ecKey +
                                 QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj",
                                             "/CN=127.0.0.1"}));
    {
        QFile ext(path + "/ext.cnf");
        QVERIFY(ext.open(QIODevice::WriteOnly));
        ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nbasicConstraints=CA:FALSE\n");
        // Served as complete answers: a page, and a redirect back to the plain server.
        QFile page(path + "/thanks.txt");
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nthanks over tls");
        QFile back(path + "/back.txt");
        QVERIFY(back.open(QIODevice::WriteOnly));
        back.write(
            QByteArray::fromStdString("HTTP/1.0 302 Found\r\nLocation: " + m_server.url("/final") +
                                      "\r\nContent-Length: 0\r\n\r\n"));
    }
    QVERIFY(RunOpenssl(
        path, {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
               "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "ext.cnf"}));

    const quint16 port = FreePort();
    QProcess tls;
    tls.setWorkingDirectory(path);
    tls.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tls.start("openssl",
              {"s_server", "-quiet", "-HTTP", "-accept", QString("127.0.0.1:%1").arg(port), "-cert",
               "server.pem", "-key", "server.key"});
    QVERIFY(tls.waitForStarted(10000));
    const auto stopTls = qScopeGuard([&tls] {
        tls.kill();
        tls.waitForFinished(10000);
    });
    QTRY_VERIFY_WITH_TIMEOUT(
        [port] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(200);
        }(),
        10000);

    // A browser's answer to a form: see the result page over https (and maybe back on http).
    const std::string tlsBase = "https://127.0.0.1:" + std::to_string(port) + "/";
    const struct {
        const char *name;
        const char *authority;
        const char *resultPage;
        std::string finalAnswer;
        bool thanked;
    } cases[] = {
        {"trusted", "ca.pem", "thanks.txt", "", true},
        {"back to http with a page", "ca.pem", "back.txt", "back on http", true},
        {"back to http without a body", "ca.pem", "back.txt", "", false},
        {"untrusted certificate", "other.pem", "thanks.txt", "", false},
    };
    for (const auto &c : cases) {
        const std::string location = tlsBase + c.resultPage;
        const std::string finalAnswer = c.finalAnswer;
        setReply([location, finalAnswer](const Request &request) {
            if (request.target == "/final")
                return Reply::Http(200, finalAnswer);
            return Reply::Http(303, "see other", "Location: " + location + "\r\n");
        });
        viewer::FormPostOptions options;
        options.connectTimeout = 10s;
        options.idleTimeout = 10s;
        options.caFile = (path + "/" + c.authority).toStdString();
        viewer::SetSuggestionPostOptionsForTesting(options);
        m_boxes.clear();
        m_server.clearRequests();

        ScriptedBoxes boxes{{std::string("p"), std::string("c")}};
        viewer::SendSuggestion(boxes.asker());

        QVERIFY2(m_boxes.size() == std::size_t(c.thanked ? 1 : 0), c.name);
        const auto requests = m_server.requests();
        const bool cameBack = std::string_view(c.resultPage) == "back.txt" &&
                              std::string_view(c.authority) == "ca.pem";
        QVERIFY2(requests.size() == std::size_t(cameBack ? 2 : 1), c.name);
        if (cameBack)
            QVERIFY2(requests[1].method == "GET" && requests[1].target == "/final", c.name);
    }
}

int main(int argc, char **argv) {
    // The machine's proxy settings must not divert requests meant for the loopback servers.
    for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"})
        unsetenv(name);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = 0;
    {
        QApplication app(argc, argv);
        SuggestionTest test;
        status = QTest::qExec(&test, argc, argv);
    }
    // Workers are gone before libcurl's global state is.
    viewer::StopSuggestionPosts(10s);
    curl_global_cleanup();
    return status;
}

#include "suggestion_test.moc"
