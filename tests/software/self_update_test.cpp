// The self-updater against the local Talvora service: its update lists, the download
// and verification of the installer, the question, the notice, and the shell opener.
#include "software/self_update.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/data_dir.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/notice_box.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/fs.h"
#include "platform/program_launch.h"
#include "software/upgrade.h"
#include "tests/software/recording_window.h"
#include "tests/support/dev_service.h"
#include "tests/support/test_support.h"

using testsupport::DevService;
using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::ScopedAppDir;
using testsupport::WriteFile;

namespace {

// The order of the packed key the bases were once compared by, where it is right.
long Key(int a, int b, int c) {
    return (static_cast<long>(a) << 16) | (b << 8) | c;
}

std::string V(int a, int b, int c) {
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + ".0";
}

TEST(VersionOrder, ComparesTheFirstThreeNumbersInOrder) {
    ScopedAppDir app;
    EXPECT_FALSE(IsNewer("1.0.1.9", "1.0.1.0"));  // the fourth number never counts
    EXPECT_TRUE(IsNewer("1.0.2", "1.0.1.0"));     // three numbers are enough
    EXPECT_FALSE(IsNewer("1.0.1.0", "1.0.1.0"));
    EXPECT_FALSE(IsNewer("1.0.0.9", "1.0.1.0"));
    EXPECT_TRUE(IsNewer("1.0.1.0", ""));  // nothing taken yet
    EXPECT_FALSE(IsNewer("", "1.0.1.0"));
    EXPECT_TRUE(IsNewer("1.0.1.0", "garbage"));  // an unreadable reference is passed
    EXPECT_FALSE(IsNewer("1.x", "1.0.1.0"));
    EXPECT_NE(std::string::npos, app.Log().find("get version error\r\n"));

    // Components above 255 no longer spill into their neighbours.
    EXPECT_TRUE(IsNewer("1.1.0", "1.0.300"));
    EXPECT_FALSE(IsNewer("1.0.300", "1.1.0"));
    EXPECT_TRUE(IsNewer("2.0.0", "1.256.0"));
    EXPECT_FALSE(IsNewer("1.256.0", "2.0.0"));
    EXPECT_TRUE(IsNewer("1.0.1000", "1.0.999"));
    EXPECT_TRUE(IsNewer("1.0.99999999999999999999", "1.0.2"));

    // Wherever the packed key was right, the order is the same.
    const int parts[] = {0, 1, 2, 127, 254, 255};
    for (int a : parts)
        for (int b : parts)
            for (int c : parts)
                for (int x : parts)
                    for (int y : {0, 255})
                        for (int z : {1, 254}) {
                            ASSERT_EQ(Key(a, b, c) < Key(x, y, z), IsNewer(V(x, y, z), V(a, b, c)))
                                << V(x, y, z) << " vs " << V(a, b, c);
                        }
}

TEST(UpdateBases, BuiltInBasesAreHttpsAndGreyInsertsItsSegment) {
    ScopedAppDir app;
    ReloadLocalSettings();
    EXPECT_EQ("https://download.talvora.cn/pc/Talvora", UpdateReleaseBase());
    EXPECT_EQ("https://download.talvora.cn/pc/grayRelease/Talvora", UpdateGrayBase());
    EXPECT_EQ("http://h:1/a/grayRelease/Talvora", GrayBaseOf("http://h:1/a/Talvora/"));
    EXPECT_EQ("http://h:1/grayRelease", GrayBaseOf("http://h:1"));
    ASSERT_TRUE(WriteFile(app / "settings.json",
                          "{\"updateBase\": \"http://h/x/Talvora\", \"updateGrayBase\": "
                          "\"http://g/y/\"}"));
    ReloadLocalSettings();
    EXPECT_EQ("http://h/x/Talvora", UpdateReleaseBase());
    EXPECT_EQ("http://g/y", UpdateGrayBase());
    platform::RemoveFile(app / "settings.json");
    ReloadLocalSettings();
}

class SelfUpdateTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!g_config) g_config = new Config();
        g_config->isUat = false;
        ASSERT_TRUE(service_.ok());
        UseSettings("{\"updateBase\": \"" + service_.url() + "/update/Talvora\"}");
        g_hMainWnd = main_.handle();
        platform::SetShellOpenHandler([this](const std::string& target) {
            std::lock_guard<std::mutex> guard(lock_);
            opened_.push_back(target);
            return true;
        });
        TakeShownMessageBoxes();
        testsupport::MakeDirs(Channel());
    }
    void TearDown() override {
        StopUpgradeChecks();
        platform::SetShellOpenHandler(nullptr);
        g_hMainWnd = 0;
        g_config->isUat = false;
        UseSettings("{}");
    }

    void UseSettings(const std::string& json) {
        ASSERT_TRUE(WriteFile(app_ / "settings.json", json));
        ReloadLocalSettings();
    }
    std::string Channel() const { return service_.staticDir() + "/update/Talvora"; }
    // Publishes an installer in the release folder; the service lists it.
    std::string Publish(const std::string& name, const std::string& bytes) {
        EXPECT_TRUE(WriteFile(Channel() + "/" + name, bytes));
        return TextMd5(bytes);
    }
    // A list of our own in place of the one the service makes.
    void WriteList(const std::string& json) {
        ASSERT_TRUE(WriteFile(Channel() + "/Talvora_update.json", json));
    }
    static std::string Element(const std::string& version, const std::string& filename,
                               const std::string& md5, const std::string& level = "") {
        return "{\"name\": \"Talvora\", \"version\": \"" + version +
               "\", \"url\": \"{base}/files/update/Talvora\", \"filename\": \"" + filename +
               "\", \"md5sum\": \"" + md5 + "\", \"level\": \"" + level +
               "\", \"description\": \"修复若干问题\"}";
    }
    std::vector<std::string> Opened() {
        std::lock_guard<std::mutex> guard(lock_);
        return opened_;
    }
    int InstallerStarts() {
        return static_cast<int>(main_.For(WM_UPDATE_INSTALLER_STARTED, 0).size());
    }
    bool LogHas(const std::string& text) { return app_.Log().find(text) != std::string::npos; }
    int Requests(const std::string& path) {
        int n = 0;
        for (const Json::Value& r : service_.Requests()) n += r["path"].asString() == path;
        return n;
    }

    ScopedAppDir app_;
    DevService service_;
    RecordingWindow main_;
    std::mutex lock_;
    std::vector<std::string> opened_;
};

TEST_F(SelfUpdateTest, NewerPackageIsVerifiedAndOpenedOnlyWhenTheUserAgrees) {
    const std::string bytes = RandomBytes(300000, 5);
    Publish("Talvora_v1.0.2.0_amd64.deb", bytes);
    const std::string installer = JoinPath(DataDir(), "Talvora_v1.0.2.0_amd64.deb");

    SetNextMessageBoxAnswer(kIdYes);
    upgradeThread(true);
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(main_.handle(), boxes[0].owner);
    EXPECT_EQ(std::wstring(kAppTitle), boxes[0].title);
    EXPECT_EQ(L"检测到新版本，是否现在升级？\n本地服务发布的版本 1.0.2.0", boxes[0].text);
    EXPECT_EQ(static_cast<unsigned>(kMbYesNo | kMbIconQuestion), boxes[0].flags);
    EXPECT_EQ(std::vector<std::string>{installer}, Opened());
    EXPECT_EQ(1, InstallerStarts());
    EXPECT_EQ(bytes, ReadFile(installer));
    struct stat st;
    ASSERT_EQ(0, stat(installer.c_str(), &st));
    EXPECT_EQ(0600u, st.st_mode & 07777);
    EXPECT_EQ(1, Requests("/update/Talvora/Talvora_update.json"));
    for (const char* line :
         {"Talvora 1.0.1.0 need to update to 1.0.2.0\r\n",
          "Found newest [Talvora] version [1.0.2.0] from json file\r\n",
          "download_package_file_and_verify succeeded\r\n", "upgradeThread exit\r\n"}) {
        EXPECT_TRUE(LogHas(line)) << line;
    }
    EXPECT_TRUE(LogHas("ota:" + installer + "\r\n"));

    // Asked again and answered No: the verified installer is used as it is, and nothing
    // is opened.
    service_.ClearRequests();
    SetNextMessageBoxAnswer(kIdNo);
    upgradeThread(false);
    ASSERT_EQ(1u, TakeShownMessageBoxes().size());
    EXPECT_EQ(1u, Opened().size());
    EXPECT_EQ(1, InstallerStarts());
    EXPECT_EQ(0, Requests("/files/update/Talvora/Talvora_v1.0.2.0_amd64.deb"));
    EXPECT_EQ(bytes, ReadFile(installer));
}

TEST_F(SelfUpdateTest, OnlyTheCurrentVersionIsNothingNew) {
    const std::string md5 = Publish("Talvora_v1.0.1.9.deb", "same build");
    WriteList("{\"UpdateList\": [" + Element("1.0.1.0", "Talvora_v1.0.1.9.deb", md5) + ", " +
              Element("1.0.1.9", "Talvora_v1.0.1.9.deb", md5) + "]}");
    upgradeThread(false);
    EXPECT_TRUE(TakeShownMessageBoxes().empty());  // a silent check says nothing

    upgradeThread(true);
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"暂无新版本!", boxes[0].text);
    EXPECT_EQ(std::wstring(kAppTitle), boxes[0].title);
    EXPECT_EQ(static_cast<unsigned>(kMbOk | kMbIconInfo), boxes[0].flags);
    EXPECT_EQ(main_.handle(), boxes[0].owner);
    EXPECT_TRUE(LogHas("No newer version found\r\n"));
    EXPECT_TRUE(platform::FileExists(app_ / "Talvora_update.json"));
    EXPECT_TRUE(LogHas("暂无新版本\r\n"));
    EXPECT_TRUE(Opened().empty());
    EXPECT_FALSE(platform::FileExists(app_ / "Talvora_v1.0.1.9.deb"));
}

TEST_F(SelfUpdateTest, HighestVersionWinsInEitherOrderAndOddElementsAreSkipped) {
    const std::string md5a = Publish("Talvora_v1.1.0.0.deb", RandomBytes(1000, 1));
    const std::string md5b = Publish("Talvora_v1.2.0.0.deb", RandomBytes(1000, 2));
    const std::string a = Element("1.1.0.0", "Talvora_v1.1.0.0.deb", md5a);
    const std::string b = Element("1.2.0.0", "Talvora_v1.2.0.0.deb", md5b);
    // Never taken: a number for a version, another package, a name that leaves the folder.
    const std::string odd =
        "{\"name\": \"Talvora\", \"version\": 9, \"filename\": \"x.deb\"}, "
        "{\"name\": \"Other\", \"version\": \"9.0.0.0\", \"filename\": \"x.deb\"}, " +
        Element("8.0.0.0", "../escape.deb", md5b) + ", \"not an object\"";
    for (const std::string& list : {a + ", " + odd + ", " + b, b + ", " + odd + ", " + a}) {
        WriteList("{\"UpdateList\": [" + list + "]}");
        SetNextMessageBoxAnswer(kIdYes);
        upgradeThread(true);
        ASSERT_FALSE(Opened().empty());
        EXPECT_EQ(JoinPath(DataDir(), "Talvora_v1.2.0.0.deb"), Opened().back());
        EXPECT_FALSE(platform::FileExists(app_ / "Talvora_v1.1.0.0.deb"));
    }
    EXPECT_EQ(2u, Opened().size());
    EXPECT_TRUE(LogHas("Found newest [Talvora] version [1.2.0.0] from json file\r\n"));
    EXPECT_TRUE(LogHas("unsafe file name [../escape.deb] skipped\r\n"));
    EXPECT_FALSE(platform::FileExists(app_.path() + "/../escape.deb"));
}

TEST_F(SelfUpdateTest, FailuresAreSilentUnlessAskedAndLeaveNothing) {
    // An installer that does not match the list's digest is never opened nor kept, and
    // nothing is shown, even on a manual check.
    Publish("Talvora_v1.3.0.0.deb", RandomBytes(5000, 3));
    WriteList("{\"UpdateList\": [" +
              Element("1.3.0.0", "Talvora_v1.3.0.0.deb", TextMd5("other bytes")) + "]}");
    upgradeThread(true);
    EXPECT_TRUE(TakeShownMessageBoxes().empty());
    EXPECT_TRUE(Opened().empty());
    EXPECT_EQ(0, InstallerStarts());
    EXPECT_FALSE(platform::FileExists(app_ / "Talvora_v1.3.0.0.deb"));
    for (const platform::DirEntry& e : platform::ListDir(app_.path()))
        EXPECT_EQ(std::string::npos, e.name.find(".part")) << e.name;
    EXPECT_TRUE(LogHas("download_package_file_and_verify failed\r\n"));

    // A broken list or a lost connection: the manual check says there is nothing new.
    DevService::Fault broken;
    broken.replaceBody = true;
    broken.status = 200;
    broken.body = "<html>maintenance</html>";
    ASSERT_TRUE(service_.SetFault("/update/Talvora/Talvora_update.json", broken));
    upgradeThread(false);
    EXPECT_TRUE(TakeShownMessageBoxes().empty());
    upgradeThread(true);
    ASSERT_EQ(1u, TakeShownMessageBoxes().size());
    EXPECT_TRUE(LogHas("parse_json_file failed\r\n"));

    DevService::Fault drop;
    drop.drop = true;
    ASSERT_TRUE(service_.SetFault("/update/Talvora/Talvora_update.json", drop));
    upgradeThread(true);
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"暂无新版本!", boxes[0].text);
    EXPECT_TRUE(LogHas("download_json_file failed\r\n"));
    EXPECT_TRUE(Opened().empty());
}

TEST_F(SelfUpdateTest, TestEnvironmentsReadTheGreyReleaseList) {
    Publish("Talvora_v1.0.2.0_amd64.deb", "release");
    testsupport::MakeDirs(service_.staticDir() + "/update/grayRelease/Talvora");
    ASSERT_TRUE(WriteFile(service_.staticDir() + "/update/grayRelease/Talvora/Talvora_v1.0.3.0.deb",
                          "grey"));
    g_config->isUat = true;
    SetNextMessageBoxAnswer(kIdYes);
    upgradeThread(true);
    EXPECT_EQ(1, Requests("/update/grayRelease/Talvora/Talvora_update.json"));
    EXPECT_EQ(0, Requests("/update/Talvora/Talvora_update.json"));
    EXPECT_EQ(std::vector<std::string>{JoinPath(DataDir(), "Talvora_v1.0.3.0.deb")}, Opened());
    EXPECT_EQ("grey", ReadFile(Opened()[0]));
}

TEST_F(SelfUpdateTest, ForcedUpdateShowsTheNoticeAndAStopKeepsTheInstallerClosed) {
    const std::string md5 = Publish("Talvora_v2.0.0.0.deb", "forced");
    WriteList("{\"UpdateList\": [" + Element("2.0.0.0", "Talvora_v2.0.0.0.deb", md5, "must") +
              "]}");
    StartUpgradeCheck(false);
    // The notice comes before the wait; the program closing during the wait ends the
    // check without opening anything.
    std::vector<ShownMessageBox> boxes;
    for (int i = 0; i < 3000 && boxes.empty(); ++i) {
        boxes = TakeShownMessageBoxes();
        if (boxes.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(0u, boxes[0].owner);
    EXPECT_EQ(std::wstring(kNoticeTitle), boxes[0].title);
    EXPECT_EQ(L"检测到新版本，开始升级!\n修复若干问题", boxes[0].text);
    EXPECT_EQ(static_cast<unsigned>(kMbOk | kMbIconInfo), boxes[0].flags);
    StopUpgradeChecks();
    EXPECT_TRUE(Opened().empty());
    EXPECT_EQ(0, InstallerStarts());
    EXPECT_TRUE(LogHas("must ota:" + JoinPath(DataDir(), "Talvora_v2.0.0.0.deb") + "\r\n"));
    EXPECT_TRUE(LogHas("upgradeThread exit\r\n"));
}

TEST_F(SelfUpdateTest, FinishedChecksAndNoticesAreJoinedAsTheNextStarts) {
    // Nothing newer: each silent check ends by itself. A running program starts one at
    // every click of the version; the ended ones must not be kept until exit.
    WriteList("{\"UpdateList\": [" + Element("1.0.1.0", "Talvora_v1.0.1.0.deb", "x") + "]}");
    const int checks = 8;
    for (int i = 1; i <= checks; ++i) {
        StartUpgradeCheck(false);
        for (int w = 0; w < 3000; ++w) {
            const std::string log = app_.Log();
            size_t ended = 0;
            for (size_t at = log.find("upgradeThread exit"); at != std::string::npos;
                 at = log.find("upgradeThread exit", at + 1))
                ++ended;
            if (ended >= static_cast<size_t>(i)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // Without a display the notice is answered at once and its closer waits 1 ms.
        ShowSelfClosingNotice(L"检测到新版本，开始升级!\n", 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    // The last check (its end may not be marked yet) and the one before it at most;
    // the last notice's two threads and, at most, the pair before them.
    EXPECT_LE(UpgradeCheckThreads(), 2u);
    EXPECT_LE(SelfClosingNoticeThreads(), 4u);
    StopUpgradeChecks();
    EXPECT_EQ(0u, UpgradeCheckThreads());
    EXPECT_EQ(0u, SelfClosingNoticeThreads());
    TakeShownMessageBoxes();
}

TEST(SelfUpdateHttps, ListAndInstallerAreFetchedOnlyFromAVerifiedHost) {
    if (!g_config) g_config = new Config();
    ScopedAppDir app;
    DevService service{DevService::Options{true, ""}};
    ASSERT_TRUE(service.ok());
    RecordingWindow main;
    g_hMainWnd = main.handle();
    std::vector<std::string> opened;
    platform::SetShellOpenHandler([&opened](const std::string& target) {
        opened.push_back(target);
        return true;
    });
    testsupport::MakeDirs(service.staticDir() + "/update/Talvora");
    ASSERT_TRUE(
        WriteFile(service.staticDir() + "/update/Talvora/Talvora_v1.0.2.0_amd64.deb", "tls"));
    const std::string base = service.url() + "/update/Talvora";
    ASSERT_EQ(0u, base.find("https://"));

    // A host whose certificate nobody vouches for is not believed, whatever it lists.
    ASSERT_TRUE(WriteFile(app / "settings.json", "{\"updateBase\": \"" + base + "\"}"));
    ReloadLocalSettings();
    TakeShownMessageBoxes();
    upgradeThread(true);
    std::vector<ShownMessageBox> boxes = TakeShownMessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"暂无新版本!", boxes[0].text);
    EXPECT_TRUE(opened.empty());
    EXPECT_NE(std::string::npos, app.Log().find("download_json_file failed\r\n"));

    // Its own authority trusted, the same host is.
    ASSERT_TRUE(WriteFile(
        app / "settings.json",
        "{\"updateBase\": \"" + base + "\", \"caFile\": \"" + service.certFile() + "\"}"));
    ReloadLocalSettings();
    SetNextMessageBoxAnswer(kIdYes);
    upgradeThread(true);
    EXPECT_EQ(std::vector<std::string>{JoinPath(DataDir(), "Talvora_v1.0.2.0_amd64.deb")}, opened);
    EXPECT_EQ("tls", ReadFile(opened.at(0)));

    platform::SetShellOpenHandler(nullptr);
    g_hMainWnd = 0;
    platform::RemoveFile(app / "settings.json");
    ReloadLocalSettings();
}

}  // namespace
