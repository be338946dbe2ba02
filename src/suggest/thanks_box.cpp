#include "suggest/thanks_box.h"

#include <QEventLoop>
#include <QMessageBox>
#include <QStringDecoder>

namespace viewer {
namespace {

ThanksBoxHook g_hook;

QString FromCodePage(const char *text) {
    QStringDecoder decoder("GB18030");
    return decoder(QByteArrayView(text));
}

}  // namespace

void ShowThanksBox() {
    // "反馈成功，谢谢您的反馈！" and "感谢您的支持~" in the code page.
    QMessageBox box(QMessageBox::Information,
                    FromCodePage("\xb8\xd0\xd0\xbb\xc4\xfa\xb5\xc4\xd6\xa7\xb3\xd6~"),
                    FromCodePage("\xb7\xb4\xc0\xa1\xb3\xc9\xb9\xa6\xa3\xac\xd0\xbb\xd0\xbb\xc4\xfa"
                                 "\xb5\xc4\xb7\xb4\xc0\xa1\xa3\xa1"),
                    QMessageBox::Ok);
    // exec() would block the main window; a local loop keeps the caller waiting without that.
    box.setWindowModality(Qt::NonModal);
    // After the modality: setting it gives the box its default flags again.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);

    QEventLoop loop;
    bool dismissed = false;
    QObject::connect(&box, &QMessageBox::finished, &loop, [&dismissed, &loop] {
        dismissed = true;
        loop.quit();
    });
    box.show();
    if (g_hook)
        QMetaObject::invokeMethod(
            &box, [&box] { g_hook(box); }, Qt::QueuedConnection);
    if (!dismissed)
        loop.exec();
}

void SetThanksBoxHookForTesting(ThanksBoxHook hook) {
    g_hook = std::move(hook);
}

}  // namespace viewer
