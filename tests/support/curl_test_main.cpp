// main() of the GoogleTest suites that make HTTP requests with libcurl.

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv) {
    // The machine's proxy settings must not divert requests meant for a loopback server.
    for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY",
                             "no_proxy", "NO_PROXY"}) {
#ifdef _WIN32
        _putenv_s(name, "");
#else
        unsetenv(name);
#endif
    }
    // libcurl's global state is set up once, before any server thread starts.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
