#include "app/web_page.h"

#include <QAuthenticator>
#include <QCoreApplication>
#include <QRandomGenerator>
#include <QWebEngineCertificateError>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNewWindowRequest>
#include <QWebEngineQuotaRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

namespace viewer {

namespace {

constexpr auto kReadyScriptName = "viewer-frame-ready";
constexpr auto kColourGuardScriptName = "viewer-colour-guard";
// The engine's own text for a page that asks before it is left.
constexpr auto kLeavePageQuestion =
    "Are you sure you want to leave this page? Changes that you made may not be saved.";

QString MakeToken() {
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    QString token;
    for (quint32 word : words)
        token += QString::number(word, 16).rightJustified(8, u'0');
    return token + u' ';
}

}  // namespace

WebPage::WebPage(QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent), m_readyToken(MakeToken()) {
    installReadyReport();
    installColourFieldGuard();

    connect(this, &QWebEnginePage::loadingChanged, this, &WebPage::onLoadingChanged);
    connect(this, &QWebEnginePage::newWindowRequested, this, &WebPage::onNewWindowRequested);
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            &WebPage::onFeaturePermissionRequested);
    connect(this, &QWebEnginePage::certificateError, this,
            [](const QWebEngineCertificateError &error) {
                QWebEngineCertificateError refused = error;
                refused.rejectCertificate();
            });
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl &, QAuthenticator *authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl &, QAuthenticator *authenticator, const QString &) {
                *authenticator = QAuthenticator();
            });
    connect(this, &QWebEnginePage::quotaRequested, this,
            [](QWebEngineQuotaRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
}

void WebPage::insertFrameScript(const char *name, QWebEngineScript::InjectionPoint point,
                                const QString &source) {
    // Our own world, in every frame: page scripts can neither see nor change what runs here.
    QWebEngineScript script;
    script.setName(QString::fromLatin1(name));
    script.setWorldId(QWebEngineScript::ApplicationWorld);
    script.setInjectionPoint(point);
    script.setRunsOnSubFrames(true);
    script.setSourceCode(source);
    scripts().insert(script);
}

void WebPage::installReadyReport() {
    // Each frame reports its own document once its load event has fired. The engine's
    // loadingChanged is no use for this: when a navigation starts while the previous page is
    // still finishing, it reports the old page as finished and never reports the new one.
    // The token keeps page scripts from faking a report.
    insertFrameScript(
        kReadyScriptName, QWebEngineScript::DocumentReady,
        QStringLiteral("(function () {"
                       "  var report = function () { console.log(%1 + location.href); };"
                       "  if (document.readyState === 'complete') report();"
                       "  else window.addEventListener('load', report, {once: true});"
                       "})();")
            .arg(QLatin1Char('"') + m_readyToken + QLatin1Char('"')));
}

void WebPage::installColourFieldGuard() {
    // The view opens a colour dialog of its own for a colour field and offers no way to refuse
    // it, so the field's activation is cancelled before the engine sees it. Keys that activate
    // the field arrive as a click too.
    insertFrameScript(
        kColourGuardScriptName, QWebEngineScript::DocumentCreation,
        QStringLiteral("document.addEventListener('click', function (e) {"
                       "  if (e.target instanceof HTMLInputElement && e.target.type === 'color')"
                       "    e.preventDefault();"
                       "}, true);"));
}

void WebPage::onLoadingChanged(const QWebEngineLoadingInfo &info) {
    // The engine's error page runs no script of ours, yet it is a document that is shown.
    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus)
        Q_EMIT documentReady(info.url());
}

void WebPage::onNewWindowRequested(QWebEngineNewWindowRequest &request) {
    // Not calling openIn() refuses the window.
    Q_UNUSED(request);
    Q_EMIT newWindowAsked();
}

void WebPage::onFeaturePermissionRequested(const QUrl &securityOrigin, Feature feature) {
    setFeaturePermission(securityOrigin, feature, PermissionDeniedByUser);
}

void WebPage::javaScriptAlert(const QUrl &, const QString &) {}

bool WebPage::javaScriptConfirm(const QUrl &, const QString &msg) {
    // The engine asks its "leave this page?" question through here as well. No question is ever
    // shown, so a page must not hold the view on it: leaving is allowed, anything else is no.
    return msg == QCoreApplication::translate("QWebEnginePage", kLeavePageQuestion);
}

bool WebPage::javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) {
    return false;
}

void WebPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString &message, int,
                                       const QString &sourceID) {
    if (!sourceID.startsWith(QLatin1String("userscript:")) || !message.startsWith(m_readyToken))
        return;
    Q_EMIT documentReady(QUrl(message.mid(m_readyToken.size())));
}

QStringList WebPage::chooseFiles(FileSelectionMode, const QStringList &, const QStringList &) {
    return {};
}

}  // namespace viewer
