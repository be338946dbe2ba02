#pragma once

#include <QMargins>
#include <QRect>
#include <QSize>
#include <QWidget>
#include <array>

#include "app/main_window_layout.h"

class QPushButton;

namespace viewer {

class WebView;

// MainWindow: the web view 超文本浏览框1 and the column of five buttons.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    WebView &view() const { return *m_view; }
    bool isClosed() const { return m_closed; }

    // The size-changed handler; also run once before the window is first shown.
    void LayOutMainWindow();
    void ApplyLayout(const MainWindowLayout &layout);
    // Shows the window at its outer size, centred on its screen.
    void ShowCentred();

protected:
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QPushButton *addButton(const char *name, const QString &caption);
    void keepNormalSize();
    void fitFrameToMargins();

    WebView *m_view = nullptr;
    std::array<QPushButton *, 5> m_buttons{};
    QSize m_normalClientSize;
    QMargins m_assumedMargins;
    bool m_closed = false;
};

}  // namespace viewer
