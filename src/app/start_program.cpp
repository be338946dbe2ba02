#include "app/start_program.h"

#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>

#include "app/main_window.h"
#include "app/web_view.h"
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

}  // namespace viewer
