// The scan of the generated Wine prefix: every company directory with its edition, tax
// number, extension number, size and time.
#include "backup/tax_data_scan.h"

#include <gtest/gtest.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <map>

#include "backup/backup_record.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/wine_prefix.h"
#include "software/kp_info.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::ScopedAppDir;
using testsupport::ScopedWinePrefix;
using testsupport::TempDir;

namespace {

// Sets the last-write time of a host folder, in seconds since 1970.
void SetTime(const std::string& dir, time_t seconds) {
    struct timeval times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimes(dir.c_str(), times), 0) << dir;
}

class TaxDataScanTest : public ::testing::Test {
protected:
    TaxDataScanTest() : scoped_(prefix_.path()) {}
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
        delete g_config;
        g_config = new Config();
        g_config->account = L"13800000001";
        ResetEditionDataRoots();
        DetectKpSoftware();
        std::lock_guard<std::mutex> guard(recordsLock);
        localRecords.clear();
        // The machine's zone must not matter.
        const char* tz = getenv("TZ");
        savedTz_ = tz ? tz : "";
        hadTz_ = tz != nullptr;
        setenv("TZ", "America/New_York", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_) {
            setenv("TZ", savedTz_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    std::string Host(const std::string& windowsPath) {
        return platform::WindowsPathToHost(windowsPath);
    }

    ScopedAppDir app_;
    TempDir prefix_{"prefix"};
    ScopedWinePrefix scoped_;
    std::string savedTz_;
    bool hadTz_ = false;
};

}  // namespace

TEST_F(TaxDataScanTest, EveryCompanyOfEachEditionWithItsFields) {
    const std::string jspRoot = "C:\\Program Files\\kp\\bin";
    EXPECT_EQ(EditionDataRoot("JSP"), jspRoot);
    EXPECT_EQ(EditionDataRoot("SKP"), "C:\\SKKP\\");
    // A known time: 2023-11-14 22:13:20 UTC is 2023-11-15 06:13:20 in China.
    SetTime(Host(jspRoot + "\\91110108MA01ABCD1X.0"), 1700000000);

    EXPECT_EQ(ScanJsp(), 5);  // every marker, before the drops
    EXPECT_EQ(ScanSkp(), 3);
    EXPECT_EQ(ScanUk(), 2);

    std::map<std::string, BackupRecord> byDir;
    for (const BackupRecord& r : localRecords) byDir[r.dirName] = r;
    ASSERT_EQ(localRecords.size(), 8u);
    // Two-character JSP extension numbers and set-aside copies are no companies.
    EXPECT_EQ(byDir.count("91120116MA05JKLM7E.12"), 0u);
    EXPECT_EQ(byDir.count("91110108MA01ABCD1X.0.tvrbak20261101093000"), 0u);

    const BackupRecord& jsp = byDir.at("91110108MA01ABCD1X.0");
    EXPECT_EQ(jsp.edition, 0);
    EXPECT_EQ(jsp.typeStrEn, "JSP");
    EXPECT_EQ(jsp.typeStr, Utf8ToAnsi("金税盘"));
    EXPECT_EQ(jsp.dirPath, jspRoot + "\\91110108MA01ABCD1X.0");
    EXPECT_EQ(jsp.taxSn, "91110108MA01ABCD1X");
    EXPECT_EQ(jsp.subSn, "0");
    EXPECT_EQ(jsp.fileTime, "2023-11-15 06:13:20");
    EXPECT_EQ(jsp.account, "13800000001");
    EXPECT_FALSE(jsp.PCName.empty());
    EXPECT_EQ(jsp.appVer, GetKpAppVer("JSP"));
    // invoice.db, backup/invoice.bak and the marker.
    int64_t marker =
        static_cast<int64_t>(testsupport::ReadFile(Host(jsp.dirPath + "\\TCDP.ini")).size());
    EXPECT_EQ(jsp.fileSize, 48 * 1024 + 8 * 1024 + marker);

    const BackupRecord& noDot = byDir.at("91110105MA00QRST6W");
    EXPECT_EQ(noDot.taxSn, "91110105MA00QRST6W");
    EXPECT_EQ(noDot.subSn, "");
    EXPECT_EQ(byDir.at("91330106MA27UVWX8D.12").subSn, "1");
    EXPECT_EQ(byDir.at("91330106MA27UVWX8D.12").taxSn, "91330106MA27UVWX8D");
    EXPECT_EQ(byDir.at("91350200MA31NOPQ9B").subSn, "0");
    EXPECT_EQ(byDir.at("91510100MA61YZAB2C.3").typeStr, Utf8ToAnsi("税务UK"));
    EXPECT_EQ(byDir.at("91440300MA5F8QRS3P.0").appVer, testsupport::kDemoSkpVersion);

    std::string log = app_.Log();
    EXPECT_NE(log.find("mach file " + jspRoot + "\\91110108MA01ABCD1X.0\\TCDP.ini\r\n"),
              std::string::npos);
    EXPECT_NE(log.find(Utf8ToAnsi("开票数据时间：2023-11-15 06:13:20\r\n\n")), std::string::npos);

    // The root is cached: a second scan appends the same records again.
    EXPECT_EQ(ScanUk(), 2);
    EXPECT_EQ(localRecords.size(), 10u);
}

TEST_F(TaxDataScanTest, TimesBeyondTheYear3000AndLinksAndHugeTrees) {
    const std::string root = "C:\\Program Files\\UKeyKp\\kpdata";
    // This file system stores no year 3000, so the rule is checked on the conversion.
    EXPECT_EQ(ChinaTimeText(32503680000 - 8 * 3600 - 1), "2999-12-31 23:59:59");
    EXPECT_EQ(ChinaTimeText(32503680000 - 8 * 3600), "");

    // A link loop and a link to a file outside the tree are neither followed nor counted;
    // a sparse 5 GiB file is counted in full.
    const std::string company = Host(root + "\\92320508MA1TUVW45Q.0");
    int64_t before = GetDirSize(root + "\\92320508MA1TUVW45Q.0");
    ASSERT_EQ(symlink("..", (company + "/loop").c_str()), 0);
    ASSERT_EQ(symlink("/etc/passwd", (company + "/passwd").c_str()), 0);
    EXPECT_EQ(GetDirSize(root + "\\92320508MA1TUVW45Q.0"), before);
    const int64_t huge = 5LL << 30;
    ASSERT_EQ(truncate((company + "/huge.db").c_str(), huge), -1);  // not there yet
    testsupport::WriteFile(company + "/huge.db", "");
    ASSERT_EQ(truncate((company + "/huge.db").c_str(), huge), 0);
    EXPECT_EQ(GetDirSize(root + "\\92320508MA1TUVW45Q.0"), before + huge);

    EXPECT_EQ(ScanUk(), 2);  // the loop adds no marker
    ASSERT_EQ(localRecords.size(), 2u);
    const BackupRecord& big =
        localRecords[0].dirName == "92320508MA1TUVW45Q.0" ? localRecords[0] : localRecords[1];
    EXPECT_EQ(big.dirName, "92320508MA1TUVW45Q.0");
    EXPECT_EQ(big.fileSize, before + huge);
    EXPECT_EQ(GetDirTime("C:\\no\\such\\dir"), "");
    EXPECT_NE(app_.Log().find(Utf8ToAnsi("目录打开失败\r\n")), std::string::npos);
}
