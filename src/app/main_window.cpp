#include "app/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QPushButton>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "app/input_box.h"
#include "app/web_view.h"
#include "http/page_fetcher.h"
#include "navigation/newest_thread.h"
#include "navigation/thread_navigator.h"
#include "suggest/suggestion.h"
#include "text/text.h"

namespace viewer {

namespace {

constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 24;

}  // namespace

// The frame is fixed but can be minimised and maximised. X11 window managers learn sizes only
// from WM_NORMAL_HINTS (min/max size; min == max makes most of them drop the maximise button),
// and Qt writes the Motif hints itself from the window flags. No portable hint says "fixed but
// maximisable", so the window keeps its flags resizable and snaps a dragged normal-state size
// back to its own.
MainWindow::MainWindow(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinMaxButtonsHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("翎澜看帖工具  ") + FromCodePage(ForumBaseUrl()));

    m_view = new WebView(this);
    m_view->setObjectName(QStringLiteral("超文本浏览框1"));
    m_view->setGeometry(0, 0, 888, 400);
    connect(m_view, &WebView::documentReady, this, [this] { TrackThreadAddress(*m_view); });
    // The answer is always no, and the page refuses the window either way.
    connect(m_view, &WebView::aboutToOpenNewWindow, this, [this] { KeepNewWindowInView(*m_view); });

    m_buttons[0] = addButton("按钮14", QStringLiteral("上一页"));
    m_buttons[1] = addButton("按钮13", QStringLiteral("下一页"));
    m_buttons[2] = addButton("按钮12", QStringLiteral("最新贴"));
    m_buttons[3] = addButton("按钮15", QStringLiteral("跳转"));
    m_buttons[4] = addButton("按钮1", QStringLiteral("建议"));
    const std::array<int, 5> designTops = {0, 25, 52, 79, 105};
    for (std::size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setGeometry(890, designTops[i], kButtonWidth, kButtonHeight);

    connect(m_buttons[0], &QPushButton::clicked, this, [this] { ShowPreviousThread(*m_view); });
    connect(m_buttons[1], &QPushButton::clicked, this, [this] { ShowNextThread(*m_view); });
    connect(m_buttons[2], &QPushButton::clicked, this, [this] { ShowNewestList(*m_view); });
    connect(m_buttons[3], &QPushButton::clicked, this,
            [this] { JumpToThread(*m_view, InputBoxAsker(this)); });
    connect(m_buttons[4], &QPushButton::clicked, this,
            [this] { SendSuggestion(InputBoxAsker(this)); });

    // The frame's margins are known on some platforms only once the window exists.
    winId();
    if (QWindow *window = windowHandle())
        m_assumedMargins = window->frameMargins();
    m_normalClientSize = kMainWindowFrameSize.shrunkBy(m_assumedMargins);
    resize(m_normalClientSize);
}

MainWindow::~MainWindow() = default;

QPushButton *MainWindow::addButton(const char *name, const QString &caption) {
    auto *button = new QPushButton(caption, this);
    button->setObjectName(QString::fromUtf8(name));
    button->setAutoDefault(false);
    return button;
}

void MainWindow::LayOutMainWindow() {
    // A minimised window has no client area; restoring lays the controls out again.
    const QSize client = isMinimized() ? QSize(0, 0) : size();
    ApplyLayout(ComputeMainWindowLayout(client.width(), client.height()));
}

void MainWindow::ApplyLayout(const MainWindowLayout &layout) {
    m_view->setGeometry(layout.view);
    for (std::size_t i = 0; i < m_buttons.size(); ++i)
        m_buttons[i]->setGeometry(layout.buttons[i]);
}

void MainWindow::ShowCentred() {
    const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect frame = CentredFrame(screen ? screen->geometry().size() : kMainWindowFrameSize);
    move(frame.topLeft() + (screen ? screen->geometry().topLeft() : QPoint()));
    show();
    // On X11 the window manager's frame is known only after mapping.
    QTimer::singleShot(0, this, &MainWindow::fitFrameToMargins);
}

void MainWindow::fitFrameToMargins() {
    const QWindow *window = windowHandle();
    if (!window || window->frameMargins() == m_assumedMargins || windowState() != Qt::WindowNoState)
        return;
    const QPoint topLeft = frameGeometry().topLeft();
    m_assumedMargins = window->frameMargins();
    m_normalClientSize = kMainWindowFrameSize.shrunkBy(m_assumedMargins);
    resize(m_normalClientSize);
    move(topLeft);
}

void MainWindow::closeEvent(QCloseEvent *event) {
    // A download under way would hold the end of the program until its time-out.
    m_closed = true;
    m_view->RefuseNavigation();
    StopRunningFetches();
    event->accept();
}

void MainWindow::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    LayOutMainWindow();
    if (isVisible() && windowState() == Qt::WindowNoState && size() != m_normalClientSize)
        QTimer::singleShot(0, this, &MainWindow::keepNormalSize);
}

void MainWindow::changeEvent(QEvent *event) {
    QWidget::changeEvent(event);
    // Minimising and restoring change the client area without a resize of their own.
    if (event->type() == QEvent::WindowStateChange)
        LayOutMainWindow();
}

void MainWindow::keepNormalSize() {
    if (windowState() == Qt::WindowNoState && size() != m_normalClientSize)
        resize(m_normalClientSize);
}

}  // namespace viewer
