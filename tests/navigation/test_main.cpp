#include <curl/curl.h>
#include <gtest/gtest.h>

int main(int argc, char **argv) {
    // libcurl's global state is set up once, before any server thread starts.
    curl_global_init(CURL_GLOBAL_DEFAULT);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
