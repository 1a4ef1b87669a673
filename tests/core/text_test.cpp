#include "core/text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstdlib>

#include "tests/support/test_support.h"

using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

std::string ShellDigest(const std::string& cmd) {
    std::string out = RunCommand(cmd);
    return out.substr(0, out.find_first_of(" \n"));
}

}  // namespace

TEST(Md5, KnownVectors) {
    EXPECT_EQ(TextMd5(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(TextMd5("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(TextMd5(std::string("a\0b", 3)), "70350f6027bce3713f6b76473084309b");
}

TEST(Md5, FilesMatchMd5sumAcrossBlockBoundaries) {
    TempDir dir;
    // Sizes around the 1024-byte read block catch a dropped or repeated tail.
    for (size_t size :
         {size_t(0), size_t(1), size_t(1023), size_t(1024), size_t(1025), size_t(300000)}) {
        std::string path = dir / ("f" + std::to_string(size));
        std::string bytes = testsupport::RandomBytes(size, static_cast<unsigned>(size) + 7);
        ASSERT_TRUE(WriteFile(path, bytes));
        std::string expected = ShellDigest("md5sum '" + path + "'");
        EXPECT_EQ(FileMd5(path), expected) << size;
        EXPECT_EQ(TextMd5(bytes), expected) << size;
    }
    EXPECT_EQ(FileMd5(dir / "missing"), "");
}

TEST(Base64, KnownVectorsAndShapes) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("f"), "Zg==");
    EXPECT_EQ(Base64Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64Encode("foobar"), "Zm9vYmFy");
    std::string hundred = testsupport::RandomBytes(100, 3);
    std::string enc = Base64Encode(hundred);
    EXPECT_EQ(enc.size(), 136u);
    EXPECT_EQ(enc.find('\n'), std::string::npos);
    EXPECT_EQ(Base64Decode(enc).size(), std::string(hundred.c_str()).size());
}

TEST(Base64, MatchesCoreutilsOnRandomInput) {
    TempDir dir;
    for (unsigned seed = 1; seed <= 5; ++seed) {
        std::string bytes = testsupport::RandomBytes(seed * 997, seed);
        std::string path = dir / "in";
        ASSERT_TRUE(WriteFile(path, bytes));
        std::string expected = RunCommand("base64 -w0 '" + path + "'");
        EXPECT_EQ(Base64Encode(bytes), expected);
    }
    // Text without zero bytes survives a round trip, long enough to span many lines
    // of the filter's own line length.
    std::string text;
    for (int i = 0; i < 5000; ++i) text += static_cast<char>('A' + i % 26);
    EXPECT_EQ(Base64Decode(Base64Encode(text)), text);
}

TEST(Base64, DecodeStopsAtFirstZeroByte) {
    EXPECT_EQ(Base64Decode(Base64Encode(std::string("ab\0cd", 5))), "ab");
    EXPECT_EQ(Base64Decode("!!!not base64"), "");
}

TEST(Base64, CoreRefusesSmallBuffer) {
    char out[5];
    EXPECT_EQ(Base64EncodeInto("abcd", out, 4), -1);  // needs 8
    char big[9];
    EXPECT_EQ(Base64EncodeInto("abcd", big, 8), 8);
    EXPECT_STREQ(big, "YWJjZA==");
}

TEST(TextConversion, Utf8RoundTripsThroughWide) {
    std::string utf8 = "Talvora财税管家 – 发票";
    EXPECT_EQ(WideToUtf8(Utf8ToWide(utf8)), utf8);
    EXPECT_EQ(Utf8ToWide("财税"), std::wstring(L"财税"));
    EXPECT_EQ(AnsiToWide(""), L"");
}

TEST(TextConversion, GbkCodePage) {
    const char* saved = setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    if (!setlocale(LC_ALL, "zh_CN.GBK")) GTEST_SKIP() << "zh_CN.GBK locale not generated";
    // "财税" in GBK.
    EXPECT_EQ(WideToAnsi(L"财税"), "\xB2\xC6\xCB\xB0");
    EXPECT_EQ(AnsiToWide("\xB2\xC6\xCB\xB0"), L"财税");
    EXPECT_EQ(AnsiToUtf8("\xB2\xC6\xCB\xB0"), "财税");
    EXPECT_EQ(Utf8ToAnsi("财税"), "\xB2\xC6\xCB\xB0");
    // A character GBK cannot hold becomes the default character.
    EXPECT_EQ(WideToAnsi(L"a\u0E01b"), "a?b");
    setlocale(LC_ALL, restore.c_str());
}

TEST(AppDir, IsTheExecutablesFolder) {
    std::string dir = GetAppDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_NE(dir.back(), '/');
    EXPECT_EQ(dir, std::string(TALVORA_BIN_DIR).substr(0, std::string(TALVORA_BIN_DIR).rfind('/')) +
                       "/tests/bin");
}

TEST(AppDir, ProgramAtTheFileSystemRootKeepsTheRoot) {
    std::string probe = std::string(TALVORA_BIN_DIR) + "/../tests/bin/app_dir_probe";
    TempDir dir;
    std::string copy = dir / "probe";
    ASSERT_EQ(system(("cp '" + probe + "' '" + copy + "'").c_str()), 0);
    EXPECT_EQ(RunCommand("'" + copy + "'"), dir.path());

    std::string atRoot = "/talvora-app-dir-probe-" + std::to_string(getpid());
    if (system(("cp '" + probe + "' '" + atRoot + "' 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "cannot write to /";
    }
    std::string seen = RunCommand("'" + atRoot + "'");
    unlink(atRoot.c_str());
    EXPECT_EQ(seen, "/");
}
