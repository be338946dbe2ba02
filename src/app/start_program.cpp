#include "app/start_program.h"

#include <curl/curl.h>

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include "app/main_window.h"
#include "app/web_view.h"
#include "http/page_fetcher.h"
#include "navigation/newest_thread.h"
#include "navigation/thread_navigator.h"

namespace viewer {

void SetVersionRecord() {
    QCoreApplication::setApplicationName(QStringLiteral("翎澜浏览器"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.0.0.0"));
    // Lets the desktop match the window to its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral(VIEWER_APP_ID));
}

void ProcessPendingEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void ReleaseGlobals() {
    std::string().swap(CurrentThread);
    std::string().swap(GuidePageHtml);
}

std::unique_ptr<MainWindow> OpenMainWindow() {
    static const bool registered = [] {
        qAddPostRoutine(ReleaseGlobals);
        return true;
    }();
    Q_UNUSED(registered);

    auto window = std::make_unique<MainWindow>();
    // The window's created event: it stays hidden until the discovery has ended.
    ShowNewestThread(window->view());
    if (window->isClosed())
        return window;
    window->LayOutMainWindow();
    window->ShowCentred();
    return window;
}

int StartProgram() {
    std::unique_ptr<MainWindow> window = OpenMainWindow();
    if (window->isClosed())
        return 0;
    const int status = QApplication::exec();
    // The view and its engine profile go while the application still exists.
    window.reset();
    return status;
}

int RunApplication(int &argc, char **argv, const std::function<int()> &body) {
    // Shader caches would otherwise land under the user's cache folder.
    for (const auto &[name, value] : {std::pair{"QT_DISABLE_SHADER_DISK_CACHE", "1"},
                                      std::pair{"MESA_SHADER_CACHE_DISABLE", "true"}}) {
        if (qEnvironmentVariableIsEmpty(name))
            qputenv(name, value);
    }
    // libcurl's global state is set up once, before any thread exists.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    SetVersionRecord();
    int status = 0;
    {
        QApplication app(argc, argv);
        SetEventPump(ProcessPendingEvents);
        status = body();
        SetEventPump({});
    }
    curl_global_cleanup();
    return status;
}

}  // namespace viewer
