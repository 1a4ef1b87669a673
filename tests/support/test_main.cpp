#include <curl/curl.h>
#include <gtest/gtest.h>

#include <clocale>

int main(int argc, char** argv) {
    setlocale(LC_ALL, "");
    curl_global_init(CURL_GLOBAL_ALL);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    curl_global_cleanup();
    return rc;
}
