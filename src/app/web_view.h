#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QUrl>
#include <QWebEngineView>
#include <optional>
#include <string>

#include "navigation/browser_view.h"

class QWebEngineProfile;

namespace viewer {

class WebPage;

// The web view 超文本浏览框1: an off-the-record, silent engine view that the thread handlers
// drive through BrowserView. Addresses cross this edge as code-page (GB18030) bytes.
class WebView : public QWebEngineView, public BrowserView {
    Q_OBJECT

public:
    explicit WebView(QWidget *parent = nullptr);
    ~WebView() override;

    void Navigate(const std::string &url) override;
    std::string Url() const override;
    void SetUrl(const std::string &url) override;
    std::string StatusText() const override;

    // The window is closing: from now on nothing navigates the view.
    void RefuseNavigation();
    bool RefusesNavigation() const { return m_refusesNavigation; }

    WebPage *webPage() const { return m_page; }
    QWebEngineProfile *profile() const { return m_profile; }

Q_SIGNALS:
    // 已就绪: a document finished, the page or one of its frames; Url() names it meanwhile.
    void documentReady();
    // 即将打开新窗口: a link or a script asked for a new window, which is refused.
    void aboutToOpenNewWindow();

private:
    void reportReady(const QUrl &url);
    void recoverFromRendererExit();

    QWebEngineProfile *m_profile = nullptr;
    WebPage *m_page = nullptr;
    QString m_statusText;
    std::optional<QUrl> m_readyUrl;
    bool m_refusesNavigation = false;
    QElapsedTimer m_lastRecovery;
};

// Code-page bytes to the engine's address and back.
QUrl AddressToUrl(const std::string &address);
std::string UrlToAddress(const QUrl &url);
std::string ToCodePage(const QString &text);
QString FromCodePage(std::string_view bytes);

}  // namespace viewer
