// The fixed file version read from real PE files built by the test build, and from
// damaged ones.
#include <gtest/gtest.h>

#include <random>

#include "platform/file_version.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

using testsupport::PeFixturePath;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

uint32_t Le32(const std::string& b, size_t off) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[off])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[off + 1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[off + 2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(b[off + 3])) << 24;
}

void Put32(std::string* b, size_t off, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[off + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

class PeVersionTest : public ::testing::Test {
protected:
    void SetUp() override {
        image_ = ReadFile(PeFixturePath("skp_version.exe"));
        ASSERT_GT(image_.size(), 1024u) << "the mingw-built fixture is missing";
    }
    bool ReadFrom(const std::string& bytes, uint32_t* ms, uint32_t* ls) {
        std::string path = dir_ / "t.exe";
        EXPECT_TRUE(WriteFile(path, bytes));
        return platform::ReadFixedFileVersion(path, ms, ls);
    }
    std::string image_;
    TempDir dir_{"pe"};
};

TEST_F(PeVersionTest, ReadsTheVersionResourceOfARealExecutable) {
    uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(platform::ReadFixedFileVersion(PeFixturePath("skp_version.exe"), &ms, &ls));
    EXPECT_EQ((3u << 16) | 25u, ms);
    EXPECT_EQ((60001u << 16) | 7u, ls);
}

TEST_F(PeVersionTest, ExecutableWithoutResourceOrMissingFileGivesNothing) {
    uint32_t ms = 0, ls = 0;
    EXPECT_FALSE(platform::ReadFixedFileVersion(PeFixturePath("plain.exe"), &ms, &ls));
    EXPECT_FALSE(platform::ReadFixedFileVersion(dir_ / "absent.exe", &ms, &ls));
    EXPECT_FALSE(platform::ReadFixedFileVersion(dir_.path(), &ms, &ls));  // a directory
    EXPECT_FALSE(ReadFrom("", &ms, &ls));
    EXPECT_FALSE(ReadFrom("MZ", &ms, &ls));
    EXPECT_FALSE(ReadFrom("plain text, not an image at all", &ms, &ls));
}

TEST_F(PeVersionTest, WindowsPathIsReadThroughThePrefix) {
    TempDir prefix("prefix");
    testsupport::ScopedWinePrefix scoped(prefix.path());
    ASSERT_TRUE(testsupport::WritePrefixSkeleton(prefix.path(), "WINE REGISTRY Version 2\n"));
    testsupport::MakeDirs(prefix / "drive_c/K");
    ASSERT_TRUE(WriteFile(prefix / "drive_c/K/newskkp.exe", image_));
    uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(platform::ReadFixedFileVersion("C:\\K\\newskkp.exe", &ms, &ls));
    EXPECT_EQ((3u << 16) | 25u, ms);
    EXPECT_FALSE(platform::ReadFixedFileVersion("Q:\\K\\newskkp.exe", &ms, &ls));
}

TEST_F(PeVersionTest, EveryTruncationFailsCleanly) {
    uint32_t ms = 0, ls = 0;
    // Cutting anywhere before the end of the version resource leaves nothing to read;
    // a cut that keeps it whole still gives the right version.
    bool seenFalse = false;
    for (size_t len = 0; len < image_.size(); len += (len < 1024 ? 1 : 61)) {
        bool ok = ReadFrom(image_.substr(0, len), &ms, &ls);
        seenFalse |= !ok;
        if (ok) {
            EXPECT_EQ((3u << 16) | 25u, ms) << "cut at " << len;
        }
    }
    EXPECT_TRUE(seenFalse);
    EXPECT_FALSE(ReadFrom(image_.substr(0, 0x40), &ms, &ls));
}

TEST_F(PeVersionTest, HostileHeadersGiveNothing) {
    uint32_t ms = 0, ls = 0;
    const uint32_t pe = Le32(image_, 0x3C);
    ASSERT_EQ(0x00004550u, Le32(image_, pe));

    std::string bad = image_;
    Put32(&bad, 0x3C, 0xFFFFFFF0u);  // PE header offset beyond the file
    EXPECT_FALSE(ReadFrom(bad, &ms, &ls));

    bad = image_;
    bad[pe + 6] = static_cast<char>(0xFF);  // 65535 sections
    bad[pe + 7] = static_cast<char>(0xFF);
    EXPECT_FALSE(ReadFrom(bad, &ms, &ls));

    bad = image_;
    bad[pe + 20] = static_cast<char>(0xFF);  // optional header larger than the file
    bad[pe + 21] = static_cast<char>(0xFF);
    EXPECT_FALSE(ReadFrom(bad, &ms, &ls));

    // Resource directory pointing outside every section.
    const size_t opt = pe + 24;
    bad = image_;
    Put32(&bad, opt + 96 + 16, 0x7FFFFFF0u);
    EXPECT_FALSE(ReadFrom(bad, &ms, &ls));

    // Every section's raw data pointer far past the end of the file.
    bad = image_;
    const size_t optSize = static_cast<unsigned char>(image_[pe + 20]) |
                           static_cast<unsigned char>(image_[pe + 21]) << 8;
    const size_t sections = static_cast<unsigned char>(image_[pe + 6]);
    for (size_t i = 0; i < sections; ++i) Put32(&bad, opt + optSize + i * 40 + 20, 0xFFFFFF00u);
    EXPECT_FALSE(ReadFrom(bad, &ms, &ls));

    // The signature of VS_FIXEDFILEINFO wiped.
    bad = image_;
    size_t sig = bad.find(std::string("\xBD\x04\xEF\xFE", 4));
    ASSERT_NE(std::string::npos, sig);
    bad[sig] = 0;
    EXPECT_FALSE(ReadFrom(bad, &ms, &ls));
}

TEST_F(PeVersionTest, RandomDamageNeverCrashes) {
    std::mt19937 rng(11);
    uint32_t ms = 0, ls = 0;
    const uint32_t pe = Le32(image_, 0x3C);
    for (int round = 0; round < 400; ++round) {
        std::string bad = image_;
        int flips = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < flips; ++i) {
            // Aim most damage at the headers and the resource tree.
            size_t at = round % 2 ? pe + rng() % 512 : rng() % bad.size();
            if (at < bad.size()) bad[at] = static_cast<char>(rng() & 0xFF);
        }
        ReadFrom(bad, &ms, &ls);  // any answer will do; a fault or overread will not
    }
    EXPECT_TRUE(ReadFrom(image_, &ms, &ls));
}

}  // namespace
