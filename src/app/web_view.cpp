#include "app/web_view.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <QTimer>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

#include "app/web_page.h"

namespace viewer {

namespace {

constexpr qint64 kRecoveryIntervalMs = 10000;

}  // namespace

std::string ToCodePage(const QString &text) {
    QStringEncoder encoder("GB18030");
    const QByteArray bytes = encoder.encode(text);
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QString FromCodePage(std::string_view bytes) {
    QStringDecoder decoder("GB18030");
    return decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

QUrl AddressToUrl(const std::string &address) {
    if (address.empty())
        return QUrl(QStringLiteral("about:blank"));
    return QUrl(FromCodePage(address), QUrl::TolerantMode);
}

std::string UrlToAddress(const QUrl &url) {
    return ToCodePage(url.toString());
}

WebView::WebView(QWidget *parent) : QWebEngineView(parent) {
    // No storage name: nothing of a run (cookies, cache, history, storage) reaches the disk.
    m_profile = new QWebEngineProfile(this);
    m_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    m_profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    m_profile->setSpellCheckEnabled(false);
    connect(m_profile, &QWebEngineProfile::downloadRequested, this,
            [](QWebEngineDownloadRequest *download) { download->cancel(); });

    m_page = new WebPage(m_profile, this);
    m_page->settings()->setAttribute(QWebEngineSettings::FullScreenSupportEnabled, false);
    // The middle of the five text sizes is the engine's own scale.
    m_page->setZoomFactor(1.0);
    setPage(m_page);

    connect(m_page, &QWebEnginePage::linkHovered, this,
            [this](const QString &url) { m_statusText = url; });
    connect(m_page, &WebPage::documentReady, this, &WebView::reportReady);
    connect(m_page, &WebPage::newWindowAsked, this, &WebView::aboutToOpenNewWindow);
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
            &WebView::recoverFromRendererExit);

    m_page->setUrl(QUrl(QStringLiteral("about:blank")));
}

WebView::~WebView() {
    // The engine wants every page of a profile gone before the profile.
    delete m_page;
    m_page = nullptr;
}

void WebView::Navigate(const std::string &url) {
    if (m_refusesNavigation)
        return;
    m_page->load(AddressToUrl(url));
}

std::string WebView::Url() const {
    return UrlToAddress(m_readyUrl ? *m_readyUrl : m_page->url());
}

void WebView::SetUrl(const std::string &url) {
    Navigate(url);
}

std::string WebView::StatusText() const {
    return ToCodePage(m_statusText);
}

void WebView::RefuseNavigation() {
    m_refusesNavigation = true;
}

void WebView::reportReady(const QUrl &url) {
    // A handler may wait in a nested loop where another document becomes ready.
    const std::optional<QUrl> outer = m_readyUrl;
    m_readyUrl = url;
    Q_EMIT documentReady();
    m_readyUrl = outer;
}

void WebView::recoverFromRendererExit() {
    if (m_lastRecovery.isValid() && m_lastRecovery.elapsed() < kRecoveryIntervalMs)
        return;
    m_lastRecovery.start();
    // Reloading from inside the engine's own notification is not safe; do it from the loop.
    QTimer::singleShot(0, this, [this] {
        if (!m_refusesNavigation)
            m_page->triggerAction(QWebEnginePage::Reload);
    });
}

}  // namespace viewer
