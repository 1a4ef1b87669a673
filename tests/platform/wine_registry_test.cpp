// The machine registry read from a Wine prefix's system.reg.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "platform/registry.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using platform::RegistryKey;
using testsupport::ScopedWinePrefix;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class WineRegistryTest : public ::testing::Test {
protected:
    WineRegistryTest() : prefix_(dir_.path()) {}
    void Write(const std::string& text) { ASSERT_TRUE(WriteFile(dir_ / "system.reg", text)); }
    std::wstring Value(const RegistryKey& key, const std::wstring& name, size_t cap = 4096) {
        std::wstring v;
        EXPECT_EQ(platform::kRegOk, key.QueryString(name, cap, &v)) << "value " << name.size();
        return v;
    }
    std::vector<std::wstring> SubKeys(const RegistryKey& key) {
        std::vector<std::wstring> names;
        for (unsigned i = 0;; ++i) {
            std::wstring n;
            long rc = key.EnumSubKey(i, 255, &n);
            if (rc == platform::kRegNoMoreItems) break;
            EXPECT_EQ(platform::kRegOk, rc);
            names.push_back(n);
        }
        return names;
    }

    TempDir dir_{"reg"};
    ScopedWinePrefix prefix_;
};

const char kHeader[] = "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n";

TEST_F(WineRegistryTest, ReadsEveryValueSyntaxWineWrites) {
    Write(std::string(kHeader) +
          "#arch=win32\n\n"
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\App] 1700000000\n"
          "#time=1d9a0b1c2d3e4f5\n"
          "@=\"default text\"\n"
          "\"Plain\"=\"C:\\\\K\\\\a \\\"b\\\" c\"\n"
          "\"Escapes\"=\"tab\\tline\\nend\"\n"
          // \x escapes: four digits when a hex digit follows, short otherwise.
          "\"Hex\"=\"\\x5f00\\x7968 \\xe9\\x00e9a\"\n"
          "\"Octal\"=\"a\\001b\\0017\"\n"
          "\"Expand\"=str(2):\"%ProgramFiles%\\\\K\"\n"
          "\"Multi\"=str(7):\"first\\0second\\0\"\n"
          "\"Count\"=dword:0000002a\n"
          "\"Wrapped\"=hex(2):43,00,3a,00,5c,00,4b,00,5c,00,\\\n"
          "  78,00,2e,00,65,00,78,00,65,00,00,00\n"
          "\"Bytes\"=hex:01,02,03\n"
          "\"quote\\\"name\"=\"q\"\n");
    RegistryKey root;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    RegistryKey app;
    ASSERT_EQ(platform::kRegOk, root.OpenSubKey(L"app", &app));  // names ignore case
    EXPECT_EQ(L"default text", Value(app, L""));
    EXPECT_EQ(L"C:\\K\\a \"b\" c", Value(app, L"plain"));
    EXPECT_EQ(L"tab\tline\nend", Value(app, L"Escapes"));
    EXPECT_EQ(L"开票 \u00e9\u00e9a", Value(app, L"Hex"));
    EXPECT_EQ(std::wstring(L"a\001b\0017"), Value(app, L"Octal"));
    EXPECT_EQ(L"%ProgramFiles%\\K", Value(app, L"Expand"));
    EXPECT_EQ(L"first", Value(app, L"Multi"));
    EXPECT_EQ(L"C:\\K\\x.exe", Value(app, L"Wrapped"));
    EXPECT_EQ(L"q", Value(app, L"quote\"name"));
    std::wstring v;
    EXPECT_EQ(platform::kRegBadType, app.QueryString(L"Count", 255, &v));
    EXPECT_EQ(platform::kRegBadType, app.QueryString(L"Bytes", 255, &v));
    EXPECT_EQ(platform::kRegNotFound, app.QueryString(L"Missing", 255, &v));
}

TEST_F(WineRegistryTest, TextsThatDoNotFitTheBufferCountAsMissing) {
    // 254 code-page bytes and the terminator fill the 255-byte buffer; one more does not fit.
    Write(std::string(kHeader) +
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A]\n" +
          "\"Fits\"=\"" + std::string(254, 'x') + "\"\n\"TooLong\"=\"" + std::string(255, 'x') +
          "\"\n");
    RegistryKey root, a;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    ASSERT_EQ(platform::kRegOk, root.OpenSubKey(L"A", &a));
    std::wstring v;
    EXPECT_EQ(platform::kRegOk, a.QueryString(L"Fits", 255, &v));
    EXPECT_EQ(254u, v.size());
    EXPECT_EQ(platform::kRegMoreData, a.QueryString(L"TooLong", 255, &v));
    EXPECT_TRUE(v.empty());
}

TEST_F(WineRegistryTest, EnumeratesSubkeysInFileOrderOnce) {
    Write(std::string(kHeader) +
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Zeta] 1\n"
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Alpha\\\\Deeper] 1\n"
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\alpha] 1\n"
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\\\x5f00\\x7968x] 1\n"
          "[Software\\\\Other\\\\Key] 1\n");
    RegistryKey root;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    EXPECT_EQ((std::vector<std::wstring>{L"Zeta", L"Alpha", L"开票x"}), SubKeys(root));
    std::wstring name;
    EXPECT_EQ(platform::kRegMoreData, root.EnumSubKey(2, 3, &name));
}

TEST_F(WineRegistryTest, Win64PrefixShowsTheThirtyTwoBitView) {
    const std::string entries =
        "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Native64] 1\n"
        "\"DisplayName\"=\"native\"\n"
        "[Software\\\\Wow6432Node\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Wow32] "
        "1\n"
        "\"DisplayName\"=\"wow\"\n";
    Write(std::string(kHeader) + "#arch=win64\n\n" + entries);
    RegistryKey root;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    EXPECT_EQ(std::vector<std::wstring>{L"Wow32"}, SubKeys(root));

    Write(std::string(kHeader) + "#arch=win32\n\n" + entries);
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    EXPECT_EQ(std::vector<std::wstring>{L"Native64"}, SubKeys(root));
}

TEST_F(WineRegistryTest, MissingFileHeaderOrKeyCannotBeOpened) {
    RegistryKey root;
    EXPECT_NE(platform::kRegOk, root.OpenMachineKey(kUninstall));  // no system.reg at all
    Write("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A]\n");
    EXPECT_NE(platform::kRegOk, root.OpenMachineKey(kUninstall));  // not a registry file
    Write(std::string(kHeader) + "[Software\\\\Microsoft\\\\Windows] 1\n");
    EXPECT_NE(platform::kRegOk, root.OpenMachineKey(kUninstall));
    EXPECT_FALSE(root.IsOpen());
}

TEST_F(WineRegistryTest, MalformedLinesAreSkipped) {
    Write(std::string(kHeader) +
          "\"Orphan\"=\"value before any key\"\n"
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Broken\n"
          "\"InBroken\"=\"x\"\n"
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Good] 1\n"
          "\"Unterminated\"=\"abc\n"
          "\"NoEquals\" \"abc\"\n"
          "\"BadDword\"=dword:xyz\n"
          "\"LongDword\"=dword:1234567890\n"
          "\"BadHex\"=hex:0g,11\n"
          "\"BadType\"=hex(zz):00\n"
          "\"BadStr\"=str(:\"x\"\n"
          "\"EndsInEscape\"=\"abc\\\n"
          "garbage line\n"
          "\"\"=\"empty name\"\n"
          "\"Ok\"=\"fine\"\n"
          "\"TrailingX\"=\"\\x\"\n");
    RegistryKey root;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    EXPECT_EQ(std::vector<std::wstring>{L"Good"}, SubKeys(root));
    RegistryKey good;
    ASSERT_EQ(platform::kRegOk, root.OpenSubKey(L"Good", &good));
    EXPECT_EQ(L"fine", Value(good, L"Ok"));
    EXPECT_EQ(L"x", Value(good, L"TrailingX"));
    std::wstring v;
    for (const wchar_t* name : {L"Unterminated", L"NoEquals", L"BadDword", L"LongDword", L"BadHex",
                                L"BadType", L"BadStr", L"EndsInEscape"}) {
        EXPECT_EQ(platform::kRegNotFound, good.QueryString(name, 255, &v)) << "value";
    }
}

TEST_F(WineRegistryTest, DamagedFilesNeverCrashTheReader) {
    const std::string valid =
        testsupport::SystemRegText(testsupport::DemoUninstallEntries(), false);
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::string text = valid;
        if (round % 3 == 0) text.resize(rng() % text.size());  // cut anywhere
        int flips = 1 + static_cast<int>(rng() % 20);
        for (int i = 0; i < flips && !text.empty(); ++i) {
            static const char kNasty[] = "\\\"[]=:,x0(\n\xff\xe5";
            text[rng() % text.size()] = kNasty[rng() % (sizeof(kNasty) - 1)];
        }
        Write(text);
        RegistryKey root;
        if (root.OpenMachineKey(kUninstall) != platform::kRegOk) continue;
        for (const std::wstring& name : SubKeys(root)) {
            RegistryKey sub;
            if (root.OpenSubKey(name, &sub) != platform::kRegOk) continue;
            std::wstring v;
            sub.QueryString(L"UninstallString", 255, &v);
            sub.QueryString(L"DisplayName", 255, &v);
        }
    }
    // The undamaged file still reads afterwards.
    Write(valid);
    RegistryKey root;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    EXPECT_EQ(4u, SubKeys(root).size());
}

TEST_F(WineRegistryTest, OnlyHexValuesWrapOntoTheNextLine) {
    // Texts that merely contain "=hex" and end in an escaped backslash are whole on
    // their line; the value after them is a value of its own.
    Write(std::string(kHeader) +
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\A] 1\n"
          "\"Path\"=\"C:\\\\=hex\\\\\"\n"
          "\"Next\"=\"y\"\n"
          "\"name=hex:01\"=\"z\\\\\"\n"
          "\"Last\"=\"w\"\n"
          "\"Spaced\" = hex(2):41,00,\\\n"
          "  42,00,00,00\n");
    RegistryKey root, a;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    ASSERT_EQ(platform::kRegOk, root.OpenSubKey(L"A", &a));
    EXPECT_EQ(L"C:\\=hex\\", Value(a, L"Path"));
    EXPECT_EQ(L"y", Value(a, L"Next"));
    EXPECT_EQ(L"z\\", Value(a, L"name=hex:01"));
    EXPECT_EQ(L"w", Value(a, L"Last"));
    EXPECT_EQ(L"AB", Value(a, L"Spaced"));
}

TEST_F(WineRegistryTest, MultiMegabyteNameBeforeWrappedHexReadsBack) {
    // A name of several MB ahead of thousands of continuation lines: the wrapped data is
    // joined once, not searched again for every line it adds.
    const std::string name(6 << 20, 'n');
    std::string data = "\"" + name + "\"=hex(2):";
    std::wstring expected;
    for (int line = 0; line < 4000; ++line) {
        char c = static_cast<char>('a' + line % 26);
        char hex[8];
        snprintf(hex, sizeof(hex), "%02x,00,", c);
        data += hex;
        data += "\\\n  ";
        expected.push_back(static_cast<wchar_t>(c));
    }
    data += "00,00\n";
    Write(std::string(kHeader) +
          "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\Big] 1\n" + data +
          "\"After\"=\"still read\"\n");
    RegistryKey root, big;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    ASSERT_EQ(platform::kRegOk, root.OpenSubKey(L"Big", &big));
    EXPECT_EQ(expected, Value(big, std::wstring(name.begin(), name.end()), 8192));
    EXPECT_EQ(L"still read", Value(big, L"After"));
}

TEST_F(WineRegistryTest, FifoOrFolderInPlaceOfTheFileIsNotRead) {
    const std::string path = dir_ / "system.reg";
    ASSERT_EQ(0, mkfifo(path.c_str(), 0644));
    long rc = platform::kRegOk;
    RegistryKey root;
    EXPECT_TRUE(testsupport::FinishesWithoutBlocking([&] { rc = root.OpenMachineKey(kUninstall); },
                                                     {path}));
    EXPECT_EQ(platform::kRegNotFound, rc);
    EXPECT_FALSE(root.IsOpen());

    // A link to a FIFO elsewhere is no better.
    ASSERT_EQ(0, unlink(path.c_str()));
    const std::string fifo = dir_ / "elsewhere";
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0644));
    ASSERT_EQ(0, symlink(fifo.c_str(), path.c_str()));
    rc = platform::kRegOk;
    EXPECT_TRUE(testsupport::FinishesWithoutBlocking([&] { rc = root.OpenMachineKey(kUninstall); },
                                                     {fifo}));
    EXPECT_EQ(platform::kRegNotFound, rc);

    ASSERT_EQ(0, unlink(path.c_str()));
    ASSERT_EQ(0, mkdir(path.c_str(), 0755));
    EXPECT_EQ(platform::kRegNotFound, root.OpenMachineKey(kUninstall));
}

TEST_F(WineRegistryTest, ReadingLeavesTheFileUntouched) {
    const std::string text = testsupport::SystemRegText(testsupport::DemoUninstallEntries(), false);
    Write(text);
    chmod((dir_ / "system.reg").c_str(), 0444);
    struct stat before {};
    stat((dir_ / "system.reg").c_str(), &before);
    RegistryKey root;
    ASSERT_EQ(platform::kRegOk, root.OpenMachineKey(kUninstall));
    root.Close();
    struct stat after {};
    stat((dir_ / "system.reg").c_str(), &after);
    EXPECT_EQ(text, testsupport::ReadFile(dir_ / "system.reg"));
    EXPECT_EQ(before.st_mtim.tv_sec, after.st_mtim.tv_sec);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
}

}  // namespace
