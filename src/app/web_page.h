#pragma once

#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineScript>

namespace viewer {

// The page behind the web view: silent (no dialog of the engine's own), no new windows, and a
// report of every document it finishes, subframes included.
class WebPage : public QWebEnginePage {
    Q_OBJECT

public:
    explicit WebPage(QWebEngineProfile *profile, QObject *parent = nullptr);

    // The secret that marks our ready reports; made afresh for every page.
    QString readyToken() const { return m_readyToken; }

Q_SIGNALS:
    // A document finished loading in the page or in one of its frames.
    void documentReady(const QUrl &url);
    // A link or a script asked for a new window; the window is refused whatever happens.
    void newWindowAsked();

protected:
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                          const QString &defaultValue, QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList &oldFiles,
                            const QStringList &acceptedMimeTypes) override;

private:
    void insertFrameScript(const char *name, QWebEngineScript::InjectionPoint point,
                           const QString &source);
    void installReadyReport();
    void installColourFieldGuard();
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onNewWindowRequested(QWebEngineNewWindowRequest &request);
    void onFeaturePermissionRequested(const QUrl &securityOrigin, Feature feature);

    QString m_readyToken;
};

}  // namespace viewer
