#include <curl/curl.h>
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "tests/support/test_support.h"

int main(int argc, char** argv) {
    setlocale(LC_ALL, "");
    curl_global_init(CURL_GLOBAL_ALL);
    // The job and folder locks of one test program are its own: test programs run side by
    // side (and other checkouts' runs) must not find each other's jobs running.
    testsupport::TempDir runtime("runtime");
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    curl_global_cleanup();
    return rc;
}
