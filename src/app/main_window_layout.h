#pragma once

#include <QRect>
#include <QSize>
#include <array>

namespace viewer {

// Where LayOutMainWindow puts the controls for a client area of the given size: the web view
// fills it but for a strip of 60 pixels on the right that holds the five buttons.
struct MainWindowLayout {
    QRect view;
    // 按钮14, 按钮13, 按钮12, 按钮15, 按钮1, top to bottom.
    std::array<QRect, 5> buttons;
};
MainWindowLayout ComputeMainWindowLayout(int clientWidth, int clientHeight);

// The window's outer size, and its top-left corner centred on a screen of the given size.
inline constexpr QSize kMainWindowFrameSize{948, 430};
QRect CentredFrame(QSize screenSize);

}  // namespace viewer
