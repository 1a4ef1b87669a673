#include <curl/curl.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>

#include "platform/ui/skin.h"

int main(int argc, char** argv) {
    setlocale(LC_ALL, "");
    curl_global_init(CURL_GLOBAL_ALL);
    QApplication app(argc, argv);
    SetSkinDir(std::string(TALVORA_BIN_DIR) + "/skin");
    RegisterCustomControls();
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    curl_global_cleanup();
    return rc;
}
