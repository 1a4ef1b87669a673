// Entry names of archives: both builds write UTF-8 names with the language-encoding flag
// and read flagged names, the older Windows program's code page 936 names and older
// unflagged UTF-8 names into the same file names. Runs on Linux and under Wine.
#include <gtest/gtest.h>
#include <minizip/unzip.h>
#include <minizip/zip.h>

#include <map>
#include <string>
#include <vector>

#include "backup/archive_result.h"
#include "backup/entry_path.h"
#include "backup/zip_reader.h"
#include "backup/zip_writer.h"
#include "platform/fs.h"
#include "platform/text_codec.h"
#include "tests/support/test_support.h"

namespace {

using testsupport::ReadFile;
using testsupport::TempDir;

// "发票数据" and "清单.txt", UTF-8 and code page 936.
const char kFolderUtf8[] = "\xE5\x8F\x91\xE7\xA5\xA8\xE6\x95\xB0\xE6\x8D\xAE";
const char kFolderGbk[] = "\xB7\xA2\xC6\xB1\xCA\xFD\xBE\xDD";
const char kFileUtf8[] = "\xE6\xB8\x85\xE5\x8D\x95.txt";
const char kFileGbk[] = "\xC7\xE5\xB5\xA5.txt";

// A UTF-8 name as the file functions of this system take it.
std::string Host(const std::string& utf8) {
    return platform::FromWide(platform::ToWide(utf8, platform::CodePage::Utf8),
                              platform::kFileNameCodePage);
}

// Writes an archive with the given raw entry names and general-purpose flag.
bool WriteRawArchive(const std::string& path, const std::vector<std::string>& names,
                     const std::string& body, unsigned long flag) {
    zipFile zip = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (!zip) return false;
    bool ok = true;
    for (const std::string& name : names) {
        zip_fileinfo zi = {};
        const bool dir = name.back() == '/';
        ok = ok && zipOpenNewFileInZip4_64(zip, name.c_str(), &zi, nullptr, 0, nullptr, 0, nullptr,
                                           dir ? 0 : Z_DEFLATED, dir ? 0 : 6, 0, -MAX_WBITS, 8,
                                           Z_DEFAULT_STRATEGY, nullptr, 0, 0, flag, 0) == ZIP_OK;
        if (!dir) {
            ok = ok && zipWriteInFileInZip(zip, body.data(), static_cast<unsigned>(body.size())) ==
                           ZIP_OK;
        }
        ok = ok && zipCloseFileInZip(zip) == ZIP_OK;
    }
    return zipClose(zip, nullptr) == ZIP_OK && ok;
}

// Entry name -> flag of every entry.
std::map<std::string, unsigned long> ReadEntries(const std::string& path) {
    std::map<std::string, unsigned long> out;
    unzFile zip = unzOpen64(path.c_str());
    if (!zip) return out;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        unz_file_info64 info;
        char name[1024] = {0};
        if (unzGetCurrentFileInfo64(zip, &info, name, sizeof(name) - 1, nullptr, 0, nullptr, 0) !=
            UNZ_OK)
            break;
        out[name] = info.flag;
    }
    unzClose(zip);
    return out;
}

TEST(EntryNameTest, WrittenNamesAreFlaggedUtf8AndComeBackTheSame) {
    TempDir dir("names");
    const std::string src = dir / "src/T.0";
    // Through the platform layer: std::filesystem takes no ANSI names on Windows.
    testsupport::MakeDirs(src);
    ASSERT_TRUE(platform::CreateDir(src + "/" + Host(kFolderUtf8)));
    ASSERT_TRUE(
        testsupport::WriteFile(src + "/" + Host(kFolderUtf8) + "/" + Host(kFileUtf8), "x1"));
    const std::string archive = dir / "a.zip";
    ASSERT_EQ(ZipDirectory(archive, src), kArchiveOk);

    const auto entries = ReadEntries(archive);
    const std::string folder = std::string("T.0/") + kFolderUtf8 + "/";
    const std::string file = folder + kFileUtf8;
    std::string names;
    for (const auto& e : entries) names += e.first + "\n";
    ASSERT_EQ(entries.count(folder), 1u) << names;
    ASSERT_EQ(entries.count(file), 1u) << names;
    for (const auto& e : entries) EXPECT_TRUE(e.second & kZipUtf8Flag) << e.first;

    ASSERT_EQ(UnzipTo(archive, dir / "out", "T.0"), kArchiveOk);
    EXPECT_EQ(ReadFile(dir / "out/T.0/" + Host(kFolderUtf8) + "/" + Host(kFileUtf8)), "x1");
}

TEST(EntryNameTest, UnflaggedNamesAreCodePage936OrOlderUtf8) {
    TempDir dir("names");
    // The older Windows program: ANSI names of Chinese Windows, no flag.
    const std::string gbk = dir / "gbk.zip";
    ASSERT_TRUE(WriteRawArchive(gbk,
                                {"T.0/", std::string("T.0/") + kFolderGbk + "/",
                                 std::string("T.0/") + kFolderGbk + "/" + kFileGbk},
                                "from the old program", 0));
    ASSERT_EQ(UnzipTo(gbk, dir / "gbk", "T.0"), kArchiveOk);
    EXPECT_EQ(ReadFile(dir / "gbk/T.0/" + Host(kFolderUtf8) + "/" + Host(kFileUtf8)),
              "from the old program");

    // Older archives of the Linux build: the disk's UTF-8 bytes, no flag.
    const std::string utf8 = dir / "utf8.zip";
    ASSERT_TRUE(WriteRawArchive(utf8,
                                {"T.0/", std::string("T.0/") + kFolderUtf8 + "/",
                                 std::string("T.0/") + kFolderUtf8 + "/" + kFileUtf8},
                                "from an older build", 0));
    ASSERT_EQ(UnzipTo(utf8, dir / "utf8", "T.0"), kArchiveOk);
    EXPECT_EQ(ReadFile(dir / "utf8/T.0/" + Host(kFolderUtf8) + "/" + Host(kFileUtf8)),
              "from an older build");

    // A flagged name is UTF-8 even where it would also read as something else.
    EXPECT_EQ(HostNameFromEntry(kFolderUtf8, kZipUtf8Flag), Host(kFolderUtf8));
    EXPECT_EQ(EntryNameFromHost(Host(kFolderUtf8)), kFolderUtf8);
}

}  // namespace
