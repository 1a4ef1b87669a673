// Remembered accounts under a Chinese code page (zh_CN.GBK here, code page 936 under
// Wine): what was typed comes back exactly after a restart, and files of the earlier
// form, whose texts are in the code page, still read.
#include <gtest/gtest.h>

#include <clocale>

#include "core/settings.h"
#include "core/text.h"
#include "tests/support/test_support.h"

namespace {

class ConfigTextTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifndef _WIN32
        const char* saved = setlocale(LC_ALL, nullptr);
        savedLocale_ = saved ? saved : "C";
        ASSERT_NE(setlocale(LC_ALL, "zh_CN.GBK"), nullptr) << "zh_CN.GBK locale missing";
#endif
        ASSERT_EQ(WideToAnsi(L"财税"), "\xB2\xC6\xCB\xB0") << "not a GBK code page";
        Fresh();
    }
    void TearDown() override {
#ifndef _WIN32
        setlocale(LC_ALL, savedLocale_.c_str());
#endif
        delete g_config;
        g_config = nullptr;
    }
    // As after a restart.
    static void Fresh() {
        delete g_config;
        g_config = nullptr;
        LoadServiceUrl();
    }
    void WriteConfigJson(const std::string& json) {
        std::string line = Base64Encode(json);
        line.insert(10, ConfigMachineKey());
        ASSERT_TRUE(testsupport::WriteFile(app / "config", line + "\r\n"));
    }

    std::string savedLocale_;
    testsupport::ScopedAppDir app;
};

TEST_F(ConfigTextTest, TextsComeBackExactlyAfterARestart) {
    // GBK characters, one GBK does not have (Hangul), and the JSON escapes.
    const std::wstring password = L"密码财税\uD55Ca\"\\b";
    {
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->autoLogin = true;
        g_config->usList = {{L"13800000001", password}, {L"代账账号", L"税务UK"}};
    }
    ASSERT_EQ(SaveConfig(), 0);
    Fresh();
    ASSERT_EQ(RestoreConfig(), 0);
    const ConfigData c = g_config->Snapshot();
    ASSERT_EQ(c.usList.size(), 2u);
    EXPECT_EQ(c.usList[0].us, L"13800000001");
    EXPECT_EQ(c.usList[0].pw, password);
    EXPECT_EQ(c.usList[1].us, L"代账账号");
    EXPECT_EQ(c.usList[1].pw, L"税务UK");
    EXPECT_EQ(c.password, password);
    // Saved again unchanged, the file is the same.
    const std::string first = testsupport::ReadFile(app / "config");
    ASSERT_EQ(SaveConfig(), 0);
    EXPECT_EQ(testsupport::ReadFile(app / "config"), first);
}

TEST_F(ConfigTextTest, FilesOfTheEarlierFormStillRead) {
    // Code-page bytes in the strings, with no mark: the earlier form.
    WriteConfigJson(
        "{\n   \"autoLogin\" : true,\n   \"rememPw\" : 1,\n   \"usList\" : [\n      {\n"
        "         \"pw\" : \"" +
        WideToAnsi(L"财税密码") + "\",\n         \"us\" : \"13800000001\"\n      }\n   ]\n}\n");
    ASSERT_EQ(RestoreConfig(), 0);
    ConfigData c = g_config->Snapshot();
    ASSERT_EQ(c.usList.size(), 1u);
    EXPECT_EQ(c.usList[0].pw, L"财税密码");
    EXPECT_EQ(c.password, L"财税密码");

    // Saving it rewrites it in the marked form, which reads back the same.
    ASSERT_EQ(SaveConfig(), 0);
    Fresh();
    ASSERT_EQ(RestoreConfig(), 0);
    c = g_config->Snapshot();
    ASSERT_EQ(c.usList.size(), 1u);
    EXPECT_EQ(c.usList[0].pw, L"财税密码");
    EXPECT_EQ(c.usList[0].us, L"13800000001");
}

}  // namespace
