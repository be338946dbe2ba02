#include "app/main_window_layout.h"

#include "text/text.h"

namespace viewer {

namespace {

constexpr std::array<int, 5> kButtonTops = {0, 25, 50, 75, 100};
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 24;

}  // namespace

MainWindowLayout ComputeMainWindowLayout(int clientWidth, int clientHeight) {
    MainWindowLayout layout;
    layout.view = QRect(0, 0, ToInteger(ToNumber(clientWidth) - 60), clientHeight);
    for (std::size_t i = 0; i < kButtonTops.size(); ++i)
        layout.buttons[i] = QRect(ToInteger(ToNumber(clientWidth) - 55), kButtonTops[i],
                                  kButtonWidth, kButtonHeight);
    return layout;
}

QRect CentredFrame(QSize screenSize) {
    // Integer division rounds toward zero, also for a screen smaller than the window.
    return QRect((screenSize.width() - kMainWindowFrameSize.width()) / 2,
                 (screenSize.height() - kMainWindowFrameSize.height()) / 2,
                 kMainWindowFrameSize.width(), kMainWindowFrameSize.height());
}

}  // namespace viewer
