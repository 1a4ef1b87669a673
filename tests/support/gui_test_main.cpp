#include <curl/curl.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <clocale>
#include <cstdlib>

#include "tests/support/test_support.h"

#include "ui/skin.h"
#include "ui/window_base.h"

int main(int argc, char** argv) {
    setlocale(LC_ALL, "");
    curl_global_init(CURL_GLOBAL_ALL);
    QApplication app(argc, argv);
    SetSkinDir(testsupport::BuildSkinDir());
    RegisterCustomControls();
    // A window asking for a control its layout lacks fails the test that opened it.
    SetMissingControlHandler([](const QString& layout, const QString& name) {
        ADD_FAILURE() << "layout " << layout.toStdString() << " lacks control "
                      << name.toStdString();
    });
    // The job and folder locks of one test program are its own: test programs run side by
    // side (and other checkouts' runs) must not find each other's jobs running.
#ifndef _WIN32
    testsupport::TempDir runtime("runtime");
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    int rc = RUN_ALL_TESTS();
    curl_global_cleanup();
    return rc;
}
