// Text conversions through the system code page, which is 936 (GBK) in the prefix
// the Wine suite runs in, as on Chinese Windows.
#include "platform/text_codec.h"

#include <gtest/gtest.h>
#include <windows.h>

#include "core/text.h"

namespace {

const char kGbkZhongWen[] = "\xD6\xD0\xCE\xC4";  // 中文 in GBK
const char kUtf8ZhongWen[] = "\xE4\xB8\xAD\xE6\x96\x87";

TEST(Win32TextCodec, SystemCodePageIsChinese) {
    ASSERT_EQ(GetACP(), 936u) << "the suite must run with LC_ALL=zh_CN.UTF-8";
    EXPECT_EQ(platform::AnsiCodeSetName(), "GBK");
}

TEST(Win32TextCodec, ConversionsPassThroughUtf16) {
    EXPECT_EQ(AnsiToWide(kGbkZhongWen), L"\u4E2D\u6587");
    EXPECT_EQ(WideToAnsi(L"\u4E2D\u6587"), kGbkZhongWen);
    EXPECT_EQ(Utf8ToAnsi(kUtf8ZhongWen), kGbkZhongWen);
    EXPECT_EQ(AnsiToUtf8(kGbkZhongWen), kUtf8ZhongWen);
    // The display names the detection searches for survive the round trip.
    const std::string name = "\xE5\xA2\x9E\xE5\x80\xBC\xE7\xA8\x8E\xEF\xBC\x88UKey\xEF\xBC\x89";
    EXPECT_EQ(AnsiToUtf8(Utf8ToAnsi(name)), name);
    EXPECT_EQ(Utf8ToAnsi(name).size(), 3u * 2 + 2 * 2 + 4);
}

TEST(Win32TextCodec, EmptyTextsStayEmpty) {
    EXPECT_EQ(AnsiToWide(""), L"");
    EXPECT_EQ(WideToAnsi(L""), "");
    EXPECT_EQ(Utf8ToAnsi(""), "");
}

TEST(Win32TextCodec, CharacterOutsideGbkBecomesDefaultCharacter) {
    CPINFO info;
    ASSERT_TRUE(GetCPInfo(CP_ACP, &info));
    ASSERT_EQ(info.MaxCharSize, 2u);
    const std::string def(reinterpret_cast<const char*>(info.DefaultChar));
    ASSERT_FALSE(def.empty());
    // Hangul has no place in GBK.
    EXPECT_EQ(WideToAnsi(L"\u4E2D\uD55C\u6587"), std::string("\xD6\xD0") + def + "\xCE\xC4");
    EXPECT_EQ(Utf8ToAnsi("a\xED\x95\x9C"
                         "b"),
              "a" + def + "b");
}

TEST(Win32TextCodec, LongTextsConvertWhole) {
    std::wstring wide;
    for (int i = 0; i < 100000; ++i) wide += (i % 2) ? L'\u6587' : L'x';
    std::string ansi = WideToAnsi(wide);
    EXPECT_EQ(ansi.size(), 150000u);
    EXPECT_EQ(AnsiToWide(ansi), wide);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(ansi)), ansi);
}

}  // namespace
