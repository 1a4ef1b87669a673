#include "core/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <thread>

#include "core/http_client.h"
#include "core/local_settings.h"
#include "core/machine_info.h"
#include "core/text.h"
#include "platform/fs.h"
#include "tests/support/test_support.h"

using testsupport::ReadFile;
using testsupport::ScopedAppDir;
using testsupport::WriteFile;

namespace {

// A fresh g_config for each test, as start-up makes it.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        delete g_config;
        g_config = nullptr;
        g_url = kDefaultServiceUrl;
        LoadServiceUrl();
    }
    void TearDown() override {
        delete g_config;
        g_config = nullptr;
    }

    // The on-disk line for a JSON text, bound to this machine.
    static std::string ConfigLine(const std::string& json, const std::string& key) {
        std::string b = Base64Encode(json);
        b.insert(10, key);
        return b + "\r\n";
    }

    ScopedAppDir app;
};

}  // namespace

TEST_F(SettingsTest, SaveAndRestoreRoundTripOnOneMachine) {
    {
        std::lock_guard<std::mutex> g(g_config->mutex);
        g_config->agree = true;
        g_config->area = 7;
        g_config->autoLogin = true;
        g_config->rememPw = 1;
        g_config->role = 1;
        g_config->usList = {{L"13800000001", L"pa\"ss财"}, {L"13800000002", L"x"}};
    }
    ASSERT_EQ(SaveConfig(), 0);
    std::string file = ReadFile(app / "config");
    ASSERT_GE(file.size(), 15u);
    EXPECT_EQ(file.substr(file.size() - 2), "\r\n");
    EXPECT_EQ(file.substr(10, 3), ConfigMachineKey());

    // The stored text is the styled JSON, members sorted.
    std::string body = file.substr(0, file.size() - 2);
    body.erase(10, 3);
    std::string json = Base64Decode(body);
    EXPECT_LT(json.find("\"agree\""), json.find("\"area\""));
    EXPECT_LT(json.find("\"role\""), json.find("\"usList\""));
    EXPECT_NE(json.find("\n   \"agree\" : true"), std::string::npos) << json;

    delete g_config;
    g_config = new Config();
    g_config->area = -1;
    ASSERT_EQ(RestoreConfig(), 0);
    ConfigData c = g_config->Snapshot();
    EXPECT_TRUE(c.agree);
    EXPECT_EQ(c.area, 7);
    EXPECT_TRUE(c.autoLogin);
    EXPECT_EQ(c.rememPw, 1);
    EXPECT_EQ(c.role, 1);
    EXPECT_FALSE(c.signedIn);
    ASSERT_EQ(c.usList.size(), 2u);
    EXPECT_EQ(c.usList[0].us, L"13800000001");
    EXPECT_EQ(c.usList[0].pw, L"pa\"ss财");
    EXPECT_EQ(c.account, L"13800000001");
    EXPECT_EQ(c.password, L"pa\"ss财");

    // Remembered passwords never reach the log.
    std::string log = app.Log();
    EXPECT_EQ(log.find("pa\\\"ss"), std::string::npos);
    EXPECT_NE(log.find("save config "), std::string::npos);
    EXPECT_NE(log.find("\"pw\" : \"***\""), std::string::npos);
}

TEST_F(SettingsTest, FileFromAnotherMachineIsDeleted) {
    std::string key = ConfigMachineKey();
    std::string other = key == "ABC" ? "ABD" : "ABC";
    ASSERT_TRUE(
        WriteFile(app / "config", ConfigLine("{\"usList\":[{\"us\":\"1\",\"pw\":\"2\"}]}", other)));
    EXPECT_EQ(RestoreConfig(), -1);
    EXPECT_FALSE(testsupport::ReadFile(app / "config").size());
    EXPECT_NE(app.Log().find("get login config error\r\n"), std::string::npos);
}

TEST_F(SettingsTest, ShortFileIsForeign) {
    ASSERT_TRUE(WriteFile(app / "config", "abc\r\n"));
    EXPECT_EQ(RestoreConfig(), -1);
    EXPECT_NE(app.Log().find("get login config error\r\n"), std::string::npos);
}

TEST_F(SettingsTest, MissingOrEmptyFile) {
    EXPECT_EQ(RestoreConfig(), -1);
    ASSERT_TRUE(WriteFile(app / "config", ""));
    EXPECT_EQ(RestoreConfig(), -1);
    ConfigData c = g_config->Snapshot();
    EXPECT_TRUE(c.autoLogin);  // reset before reading
    EXPECT_EQ(c.role, 0);
}

TEST_F(SettingsTest, OddRoleBecomesTwoAndEmptyListFails) {
    std::string key = ConfigMachineKey();
    ASSERT_TRUE(WriteFile(app / "config",
                          ConfigLine("{\"role\":5,\"autoLogin\":true,\"usList\":[]}", key)));
    EXPECT_EQ(RestoreConfig(), -1);
    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.role, 2);
    EXPECT_TRUE(c.account.empty());
    EXPECT_NE(app.Log().find("g_config->role=2\r\n"), std::string::npos);
    EXPECT_NE(app.Log().find("listLen=0\r\n"), std::string::npos);
}

TEST_F(SettingsTest, InvalidJsonIsLeftInPlace) {
    std::string key = ConfigMachineKey();
    ASSERT_TRUE(WriteFile(app / "config", ConfigLine("{not json", key)));
    // Nothing was read, so there is nothing to sign in with.
    EXPECT_EQ(RestoreConfig(), -1);
    EXPECT_TRUE(g_config->Snapshot().usList.empty());
    EXPECT_FALSE(ReadFile(app / "config").empty());
}

TEST_F(SettingsTest, UndecodableFileKeepsPasswordsOutOfTheLog) {
    std::string key = ConfigMachineKey();
    ASSERT_TRUE(WriteFile(app / "config",
                          ConfigLine("{\"usList\":[{\"us\":\"1\",\"pw\":\"topsecret\"}", key)));
    EXPECT_EQ(RestoreConfig(), -1);
    EXPECT_EQ(app.Log().find("topsecret"), std::string::npos);
    EXPECT_NE(app.Log().find("restore config=<not JSON"), std::string::npos);
}

TEST_F(SettingsTest, ConcurrentSavesLeaveOneWholeFile) {
    auto saver = [](const wchar_t* account) {
        for (int i = 0; i < 40; ++i) {
            {
                std::lock_guard<std::mutex> g(g_config->mutex);
                g_config->usList = {{account, std::wstring(i % 7 + 1, L'p')}};
            }
            SaveConfig();
        }
    };
    std::thread a(saver, L"13800000001"), b(saver, L"13900000002000");
    a.join();
    b.join();
    // No temporary file is left beside it.
    for (const platform::DirEntry& e : platform::ListDir(app.path()))
        EXPECT_TRUE(e.name == "config" || e.name == "logs") << e.name;
    std::string file = ReadFile(app / "config");
    EXPECT_EQ(file.find("\r\n"), file.size() - 2);  // one line
    delete g_config;
    g_config = new Config();
    ASSERT_EQ(RestoreConfig(), 0);
    ASSERT_EQ(g_config->Snapshot().usList.size(), 1u);
}

TEST_F(SettingsTest, MissingListAndWrongTypes) {
    std::string key = ConfigMachineKey();
    ASSERT_TRUE(
        WriteFile(app / "config", ConfigLine("{\"rememPw\":\"1\",\"agree\":1,\"area\":3}", key)));
    EXPECT_EQ(RestoreConfig(), -1);
    ConfigData c = g_config->Snapshot();
    EXPECT_EQ(c.rememPw, 0);
    EXPECT_FALSE(c.agree);
    EXPECT_EQ(c.area, 3);
    EXPECT_NE(app.Log().find("no user record\r\n"), std::string::npos);
}

TEST_F(SettingsTest, MachineKeyIsMiddleOfTheAdapterText) {
    char mac[64] = {0};
    if (GetMacText(mac) == 0) {
        EXPECT_EQ(ConfigMachineKey(), std::string(mac + 5, 3));
    } else {
        EXPECT_EQ(ConfigMachineKey(), "000");
    }
}

TEST_F(SettingsTest, UrlFileSkipsCommentsAndSelectsUat) {
    ASSERT_TRUE(WriteFile(
        app / "url", "# test service\r\n\r\nhttps://uat-api.example.test\r\nhttps://other\r\n"));
    delete g_config;
    g_config = nullptr;
    LoadServiceUrl();
    EXPECT_EQ(g_url, "https://uat-api.example.test");
    EXPECT_TRUE(g_config->Snapshot().isUat);
    std::string log = app.Log();
    EXPECT_NE(log.find("g_url=https://uat-api.example.test\r\n"), std::string::npos);
    EXPECT_NE(log.find("uat upgrade url\r\n"), std::string::npos);
}

TEST_F(SettingsTest, NoUrlFileKeepsBuiltInRelease) {
    ASSERT_TRUE(WriteFile(app / "url", "#only a comment\n\n"));
    delete g_config;
    g_config = nullptr;
    LoadServiceUrl();
    EXPECT_EQ(g_url, kDefaultServiceUrl);
    EXPECT_FALSE(g_config->Snapshot().isUat);
    EXPECT_NE(app.Log().find("123\r\n"), std::string::npos);
    EXPECT_NE(app.Log().find("release\r\n"), std::string::npos);
}

TEST_F(SettingsTest, ConfigIsPrivateAndNeverWrittenThroughALink) {
    {
        std::lock_guard<std::mutex> g(g_config->mutex);
        g_config->usList = {{L"13800000001", L"pw"}};
    }
    auto mode = [](const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0xFFFFu;
    };
    ASSERT_EQ(SaveConfig(), 0);
    EXPECT_EQ(mode(app / "config"), 0600u);

    // A file left readable by an earlier version is tightened by the next save.
    ASSERT_EQ(chmod((app / "config").c_str(), 0644), 0);
    ASSERT_EQ(SaveConfig(), 0);
    EXPECT_EQ(mode(app / "config"), 0600u);

    // A link planted at the name is replaced, its target left alone.
    testsupport::TempDir other;
    ASSERT_TRUE(WriteFile(other / "victim", "keep"));
    ASSERT_TRUE(platform::RemoveFile(app / "config"));
    ASSERT_EQ(symlink((other / "victim").c_str(), (app / "config").c_str()), 0);
    ASSERT_EQ(SaveConfig(), 0);
    EXPECT_EQ(ReadFile(other / "victim"), "keep");
    struct stat st;
    ASSERT_EQ(lstat((app / "config").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    delete g_config;
    g_config = new Config();
    EXPECT_EQ(RestoreConfig(), 0);
    EXPECT_EQ(g_config->Snapshot().usList.size(), 1u);
}

TEST_F(SettingsTest, FailedSaveIsReportedAndKeepsNothingHalfWritten) {
    // Something that cannot be replaced stands at the name.
    testsupport::MakeDirs(app / "config/inside");
    EXPECT_EQ(SaveConfig(), -1);
    EXPECT_NE(app.Log().find("save config failed\r\n"), std::string::npos);
    for (const platform::DirEntry& e : platform::ListDir(app.path()))
        EXPECT_TRUE(e.name == "config" || e.name == "logs") << e.name;
}

TEST_F(SettingsTest, HugeNumbersInSettingsAreDefaultsAndEveryRequestStillRuns) {
    // Past the 64-bit range, as an integral double, nested too deep: each is no value.
    ASSERT_TRUE(WriteFile(app / "settings.json",
                          R"({"httpTimeoutMs":18446744073709551616,"httpStallSeconds":1e19,)"
                          R"("downloadLowSpeedBytes":-1e19,"a":9223372036854775808,"b":5000.0,)"
                          R"("c":-9223372036854775808,"d":)" +
                              std::string(5000, '[') + std::string(5000, ']') + "}"));
    ReloadLocalSettings();
    EXPECT_EQ(LocalSettingInt("httpTimeoutMs", 11), 11);
    EXPECT_EQ(LocalSettingInt("httpStallSeconds", 12), 12);
    EXPECT_EQ(LocalSettingInt("downloadLowSpeedBytes", 13), 13);
    EXPECT_EQ(LocalSettingInt("a", 14), 14);
    // The whole file was refused for its nesting: nothing of it is read.
    EXPECT_EQ(LocalSettingInt("b", 15), 15);
    EXPECT_NE(app.Log().find("settings.json ignored"), std::string::npos);

    ASSERT_TRUE(
        WriteFile(app / "settings.json",
                  R"({"httpTimeoutMs":18446744073709551616,"httpStallSeconds":1e19,)"
                  R"("b":5000.0,"c":-9223372036854775808,"tlsVerify":1e19,"caFile":1e19})"));
    ReloadLocalSettings();
    EXPECT_EQ(LocalSettingInt("httpTimeoutMs", 11), 11);
    EXPECT_EQ(LocalSettingInt("httpStallSeconds", 12), 12);
    EXPECT_EQ(LocalSettingInt("b", 0), 5000);
    EXPECT_EQ(LocalSettingInt("c", 0), INT64_MIN);
    EXPECT_TRUE(LocalSettingBool("tlsVerify", true));
    EXPECT_EQ(LocalSetting("caFile", "none"), "none");
    // Every request reads its time limits here: it runs and fails for want of a server.
    EXPECT_EQ(HttpGet("http://127.0.0.1:1/", "", 2000), "");
    EXPECT_EQ(HttpPost("http://127.0.0.1:1/", "{}", "", 2000), "");
    WriteFile(app / "settings.json", "{}");
    ReloadLocalSettings();
}
