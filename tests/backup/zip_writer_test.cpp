// Packing folders with ZipDirectory, read back by Info-ZIP unzip and Python's zipfile.
#include "backup/zip_writer.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "backup/archive_result.h"
#include "backup/zip_reader.h"
#include "core/json_parse.h"
#include "core/text.h"
#include "tests/backup/archive_test_tools.h"
#include "tests/support/test_support.h"

using archivetest::Exists;
using archivetest::ModTime;
using archivetest::Quote;
using archivetest::SetModTime;
using archivetest::Snapshot;
using testsupport::MakeDirs;
using testsupport::RandomBytes;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::ScopedAppDir;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

// Every entry as Python's zipfile sees it, with the size zlib gives at level 6.
const char kListArchive[] = R"PY(
import hashlib, json, sys, zipfile, zlib
with zipfile.ZipFile(sys.argv[1]) as zf:
    out = {"comment": len(zf.comment), "entries": []}
    for i in zf.infolist():
        data = b"" if i.is_dir() else zf.read(i)
        co = zlib.compressobj(6, zlib.DEFLATED, -15, 8)
        out["entries"].append({
            "name": i.filename, "dir": i.is_dir(), "time": list(i.date_time),
            "method": i.compress_type, "flags": i.flag_bits, "extra": len(i.extra),
            "ext": i.external_attr, "int": i.internal_attr, "size": i.file_size,
            "csize": i.compress_size, "level6": len(co.compress(data) + co.flush()),
            "md5": hashlib.md5(data).hexdigest()})
print(json.dumps(out))
)PY";

Json::Value ListArchive(const std::string& scratch, const std::string& archive) {
    int rc = -1;
    std::string out = archivetest::RunPython(scratch, kListArchive, Quote(archive), &rc);
    EXPECT_EQ(rc, 0) << out;
    Json::Value root;
    EXPECT_TRUE(ParseJson(out, &root)) << out;
    return root;
}

// Local calendar fields of a moment at the zip format's two-second resolution.
std::vector<int> ZipFields(int64_t unixTime) {
    time_t t = static_cast<time_t>(unixTime);
    struct tm tmv;
    localtime_r(&t, &tmv);
    return {tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday,
            tmv.tm_hour,        tmv.tm_min,     tmv.tm_sec - tmv.tm_sec % 2};
}

class ZipWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        src_ = work_ / "src/T.0";
        MakeDirs(src_ + "/empty");
        MakeDirs(src_ + "/sub/deep");
        files_ = {{"a.txt", "hello archive\n"},
                  {"big.bin", RandomBytes(350000, 7)},
                  {"sub/deep/c.dat", RandomBytes(1000, 8)},
                  {"sub/zero.bin", ""}};
        for (const auto& f : files_) ASSERT_TRUE(WriteFile(src_ + "/" + f.first, f.second));
        // What the packer must leave out: a link to a system file, a link loop, a pipe.
        ASSERT_EQ(symlink("/etc/passwd", (src_ + "/passwd-link").c_str()), 0);
        ASSERT_EQ(symlink(".", (src_ + "/loop").c_str()), 0);
        ASSERT_EQ(mkfifo((src_ + "/pipe").c_str(), 0644), 0);
        // Odd seconds on some, to see them rounded down to the format's two seconds.
        times_ = {{"a.txt", 1700000003},          {"big.bin", 1690000000},
                  {"sub/deep/c.dat", 1600000011}, {"sub/zero.bin", 1500000000},
                  {"sub/deep", 1650000001},       {"sub", 1660000000},
                  {"empty", 1670000002},          {"", 1680000005}};
        for (const auto& t : times_) SetModTime(Path(t.first), t.second);
    }
    std::string Path(const std::string& rel) const { return rel.empty() ? src_ : src_ + "/" + rel; }

    ScopedAppDir app_;
    TempDir work_{"zipw"};
    std::string src_;
    std::map<std::string, std::string> files_;
    std::map<std::string, int64_t> times_;
};

TEST_F(ZipWriterTest, IndependentReadersSeeTheTreeAsPacked) {
    std::string archive = work_ / "out/T.0_SKP_20230105093000.zip";
    MakeDirs(work_ / "out");
    ASSERT_EQ(ZipDirectory(archive, src_), kArchiveOk);

    int rc = -1;
    std::string tested = RunCommand("unzip -t " + Quote(archive) + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << tested;
    EXPECT_NE(tested.find("No errors detected"), std::string::npos) << tested;

    Json::Value listing = ListArchive(work_.path(), archive);
    EXPECT_EQ(listing["comment"].asInt(), 0);
    std::vector<std::string> names;
    for (const Json::Value& e : listing["entries"]) {
        std::string name = e["name"].asString();
        names.push_back(name);
        std::string rel = name.substr(4);
        if (!rel.empty() && rel.back() == '/') rel.pop_back();
        EXPECT_EQ(e["extra"].asInt(), 0) << name;
        EXPECT_EQ(e["ext"].asInt(), 0) << name;
        EXPECT_EQ(e["int"].asInt() & ~1, 0) << name;  // zlib may mark text
        std::vector<int> time;
        for (const Json::Value& v : e["time"]) time.push_back(v.asInt());
        ASSERT_TRUE(times_.count(rel)) << name;
        EXPECT_EQ(time, ZipFields(times_[rel])) << name;
        if (e["dir"].asBool()) {
            EXPECT_EQ(e["size"].asInt(), 0) << name;
            EXPECT_EQ(e["csize"].asInt(), 0) << name;
        } else {
            EXPECT_EQ(e["method"].asInt(), 8) << name;     // deflate
            EXPECT_EQ(e["flags"].asInt() & 6, 0) << name;  // normal level
            // A file of one block deflates exactly as zlib does in one piece; larger ones
            // are cut into blocks, each ending with a 5-byte sync marker at most.
            const int size = e["size"].asInt();
            if (size <= 128 * 1024) {
                EXPECT_EQ(e["csize"].asInt(), e["level6"].asInt()) << name;
            } else {
                EXPECT_LE(e["csize"].asInt(), e["level6"].asInt() + 6 * (size / 131072 + 1))
                    << name;
            }
            EXPECT_EQ(e["md5"].asString(), TextMd5(files_[rel])) << name;
        }
    }
    // Folders before what they hold, the data folder first; links and the pipe left out.
    std::vector<std::string> expected = {
        "T.0/",     "T.0/a.txt",     "T.0/big.bin",        "T.0/empty/",
        "T.0/sub/", "T.0/sub/deep/", "T.0/sub/deep/c.dat", "T.0/sub/zero.bin"};
    EXPECT_EQ(names, expected);

    // Info-ZIP unpacks the same bytes and the same times.
    std::string out = work_ / "unzipped";
    RunCommand("unzip -q " + Quote(archive) + " -d " + Quote(out) + " 2>&1", &rc);
    ASSERT_EQ(rc, 0);
    std::map<std::string, std::string> want = Snapshot(src_);
    want.erase("passwd-link");
    want.erase("loop");
    want.erase("pipe");
    EXPECT_EQ(Snapshot(out + "/T.0"), want);
    for (const auto& t : times_) {
        std::string path = t.first.empty() ? out + "/T.0" : out + "/T.0/" + t.first;
        EXPECT_EQ(ModTime(path), t.second - (t.second % 2)) << t.first;
    }
    // Only the finished archive is left; nothing under a temporary name.
    EXPECT_EQ(Snapshot(work_ / "out").size(), 1u);
}

TEST_F(ZipWriterTest, UnreadableFileOrFolderFailsTheArchive) {
    std::string archive = work_ / "T.0.zip";
    ASSERT_TRUE(WriteFile(archive, "an older archive"));
    const std::string victim = src_ + "/sub/deep/c.dat";
    SetPackReadRefusal([&](const std::string& path) { return path == victim; });
    std::string failed;
    EXPECT_EQ(ZipDirectory(archive, src_, &failed), kArchiveReadFailed);
    EXPECT_EQ(failed, victim);
    EXPECT_NE(app_.Log().find("无法添加文件: " + victim + " !"), std::string::npos);
    // Neither the stale archive nor a partial one is left to be taken for a backup.
    EXPECT_FALSE(Exists(archive));
    EXPECT_FALSE(Exists(archive + ".part"));

    // A folder that cannot be listed would pack as empty: it fails the same way.
    SetPackReadRefusal([&](const std::string& path) { return path == src_ + "/sub"; });
    EXPECT_EQ(ZipDirectory(archive, src_, &failed), kArchiveReadFailed);
    EXPECT_EQ(failed, src_ + "/sub");
    SetPackReadRefusal(nullptr);
    EXPECT_FALSE(Exists(archive));

    ASSERT_EQ(ZipDirectory(archive, src_, &failed), kArchiveOk);
    EXPECT_TRUE(failed.empty());
}

TEST_F(ZipWriterTest, MissingSourceUnwritableArchiveAndSingleFile) {
    std::string archive = work_ / "x.zip";
    ASSERT_TRUE(WriteFile(archive, "an older archive"));
    EXPECT_EQ(ZipDirectory(archive, work_ / "no-such-folder"), kArchiveMissingSource);
    EXPECT_FALSE(Exists(archive));
    EXPECT_EQ(ZipDirectory(work_ / "no-such-folder/x.zip", src_), kArchiveCreateFailed);
    EXPECT_NE(app_.Log().find("无法创建zip文件! " + work_ / "no-such-folder/x.zip"),
              std::string::npos);

    ASSERT_EQ(ZipDirectory(archive, src_ + "/a.txt"), kArchiveOk);
    Json::Value listing = ListArchive(work_.path(), archive);
    ASSERT_EQ(listing["entries"].size(), 1u);
    EXPECT_EQ(listing["entries"][0]["name"].asString(), "a.txt");
    EXPECT_EQ(listing["entries"][0]["md5"].asString(), TextMd5(files_["a.txt"]));
}

// Files cut into blocks at and around the block size, an empty file, hundreds of small
// files deflated side by side, and an empty folder: every reader sees the bytes packed.
TEST_F(ZipWriterTest, BlocksAndSmallFilesInParallelMakeOneArchiveEveryReaderAccepts) {
    const size_t block = 128 * 1024;
    const std::string src = work_ / "blocks/B.0";
    MakeDirs(src + "/many");
    // Repeats within 32 KiB: each block deflates well only when primed with the one before.
    std::string repeated;
    const std::string chunk = RandomBytes(20000, 21);
    while (repeated.size() < 5 * block + 7) repeated += chunk;
    repeated.resize(5 * block + 7);
    std::map<std::string, std::string> files = {{"at.bin", RandomBytes(block, 22)},
                                                {"under.bin", RandomBytes(block - 1, 23)},
                                                {"over.bin", RandomBytes(block + 1, 24)},
                                                {"two.bin", RandomBytes(2 * block, 25)},
                                                {"repeated.bin", repeated},
                                                {"empty.bin", ""}};
    for (int i = 0; i < 300; ++i) {
        files["many/f" + std::to_string(i)] = RandomBytes(static_cast<size_t>(i * 37), 100 + i);
    }
    for (const auto& f : files) ASSERT_TRUE(WriteFile(src + "/" + f.first, f.second));
    const std::string archive = work_ / "blocks.zip";
    ASSERT_EQ(ZipDirectory(archive, src), kArchiveOk);

    int rc = -1;
    std::string tested = RunCommand("unzip -t " + Quote(archive) + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << tested;
    Json::Value listing = ListArchive(work_.path(), archive);
    std::vector<std::string> names;
    for (const Json::Value& e : listing["entries"]) {
        names.push_back(e["name"].asString());
        if (e["dir"].asBool()) continue;
        const std::string rel = e["name"].asString().substr(4);
        ASSERT_TRUE(files.count(rel)) << rel;
        EXPECT_EQ(e["md5"].asString(), TextMd5(files[rel])) << rel;
        const int blocks = e["size"].asInt() / static_cast<int>(block) + 1;
        EXPECT_LE(e["csize"].asInt(), e["level6"].asInt() + 6 * blocks) << rel;
    }
    // In tree order, whatever finished first.
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(names, sorted);
    EXPECT_EQ(names.size(), files.size() + 2);

    const std::string out = work_ / "unpacked";
    ASSERT_EQ(UnzipTo(archive, out, "B.0"), kArchiveOk);
    EXPECT_EQ(Snapshot(out + "/B.0"), Snapshot(src));

    // One entry in the middle fails its CRC: the whole unpack is undone.
    const char kBreakCrc[] = R"PY(
import sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.rfind(sys.argv[2].encode()) - 46 + 16
data[at] ^= 0xFF
open(sys.argv[1], "wb").write(data)
)PY";
    const std::string broken = work_ / "broken.zip";
    std::filesystem::copy_file(archive, broken);
    archivetest::RunPython(work_.path(), kBreakCrc, Quote(broken) + " B.0/many/f150", &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(UnzipTo(broken, work_ / "unpacked-broken", "B.0"), kArchiveDamaged);
    EXPECT_FALSE(Exists(work_ / "unpacked-broken"));

    // A small file a worker cannot read, or a large one, fails the whole archive.
    for (const std::string& victim : {src + "/many/f150", src + "/two.bin"}) {
        SetPackReadRefusal([&](const std::string& path) { return path == victim; });
        std::string failed;
        EXPECT_EQ(ZipDirectory(archive, src, &failed), kArchiveReadFailed) << victim;
        EXPECT_EQ(failed, victim);
        EXPECT_FALSE(Exists(archive));
        EXPECT_FALSE(Exists(archive + ".part"));
    }
    SetPackReadRefusal(nullptr);

    // A folder with nothing in it is an archive of its own entry alone.
    const std::string empty = work_ / "E.0";
    MakeDirs(empty);
    const std::string emptyArchive = work_ / "empty.zip";
    ASSERT_EQ(ZipDirectory(emptyArchive, empty), kArchiveOk);
    tested = RunCommand("unzip -t " + Quote(emptyArchive) + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << tested;
    listing = ListArchive(work_.path(), emptyArchive);
    ASSERT_EQ(listing["entries"].size(), 1u);
    EXPECT_EQ(listing["entries"][0]["name"].asString(), "E.0/");
    ASSERT_EQ(UnzipTo(emptyArchive, work_ / "unpacked-empty", "E.0"), kArchiveOk);
    EXPECT_TRUE(Snapshot(work_ / "unpacked-empty/E.0").empty());
    EXPECT_TRUE(archivetest::Exists(work_ / "unpacked-empty/E.0"));
}

// 300 MB of zeros packed in a child process: what it holds in memory does not grow with
// the file. (The sanitizers' allocator inflates memory, so there only the archive counts.)
TEST_F(ZipWriterTest, LargeFilePacksInBoundedMemory) {
    const std::string dir = work_ / "Z.0";
    MakeDirs(dir);
    const std::string big = dir + "/zeros.bin";
    {
        FILE* f = fopen(big.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(ftruncate(fileno(f), 300ll << 20), 0);  // sparse: no disk needed
        fclose(f);
    }
    const std::string archive = work_ / "zeros.zip";
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(ZipDirectory(archive, dir) == kArchiveOk ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    struct rusage usage;
    ASSERT_EQ(getrusage(RUSAGE_CHILDREN, &usage), 0);
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_LOG_(INFO) << "peak " << usage.ru_maxrss / 1024 << " MiB (not judged here)";
#else
    EXPECT_LT(usage.ru_maxrss, 64 * 1024) << "KiB";
#endif
    struct stat st;
    ASSERT_EQ(stat(archive.c_str(), &st), 0);
    EXPECT_LT(st.st_size, 1 << 20);
    int rc = -1;
    std::string tested = RunCommand("unzip -t " + Quote(archive) + " 2>&1", &rc);
    EXPECT_EQ(rc, 0) << tested;
}

}  // namespace
