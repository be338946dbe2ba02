#include <curl/curl.h>

#include <QApplication>
#include <QtGlobal>

#include "app/start_program.h"
#include "http/page_fetcher.h"

namespace {

void SetIfUnset(const char *name, const char *value) {
    if (qEnvironmentVariableIsEmpty(name))
        qputenv(name, value);
}

}  // namespace

int main(int argc, char *argv[]) {
    // Shader caches would otherwise land under the user's cache folder.
    SetIfUnset("QT_DISABLE_SHADER_DISK_CACHE", "1");
    SetIfUnset("MESA_SHADER_CACHE_DISABLE", "true");
    // libcurl's global state is set up once, before any thread exists.
    curl_global_init(CURL_GLOBAL_DEFAULT);

    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    viewer::SetVersionRecord();
    int status = 0;
    {
        QApplication app(argc, argv);
        viewer::SetEventPump(viewer::ProcessPendingEvents);
        status = viewer::StartProgram();
        viewer::SetEventPump({});
    }
    curl_global_cleanup();
    return status;
}
