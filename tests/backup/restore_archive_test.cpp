// Restoring company folders from archives written by ZipDirectory, Info-ZIP zip and
// Python's zipfile, and refusing hostile or damaged archives without touching local data.
#include "backup/restore_archive.h"

#include <gtest/gtest.h>
#include <json/json.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "backup/archive_name.h"
#include "backup/archive_result.h"
#include "backup/zip_reader.h"
#include "backup/zip_writer.h"
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

// Writes the entries of a JSON list exactly as named, then damages the ones marked:
// "crc" flips a data byte, "longer"/"shorter" change the recorded size in both headers.
const char kMakeArchive[] = R"PY(
import json, struct, sys, zipfile
out, plan = sys.argv[1], json.load(open(sys.argv[2]))
with zipfile.ZipFile(out, "w") as zf:
    for e in plan:
        zi = zipfile.ZipInfo(e["name"], date_time=(2023, 1, 5, 9, 30, 0))
        zi.compress_type = zipfile.ZIP_STORED if e.get("stored") else zipfile.ZIP_DEFLATED
        if "mode" in e:
            zi.create_system = 3
            zi.external_attr = e["mode"] << 16
        zf.writestr(zi, bytes.fromhex(e["hex"]))
data = bytearray(open(out, "rb").read())
eocd = data.rfind(b"PK\x05\x06")
central = {}
pos = struct.unpack("<I", data[eocd + 16:eocd + 20])[0]
while data[pos:pos + 4] == b"PK\x01\x02":
    n, x, c = struct.unpack("<HHH", data[pos + 28:pos + 34])
    central[bytes(data[pos + 46:pos + 46 + n])] = pos
    pos += 46 + n + x + c
for e in plan:
    fault = e.get("fault")
    if not fault:
        continue
    cd = central[e["name"].encode()]
    local = struct.unpack("<I", data[cd + 42:cd + 46])[0]
    n, x = struct.unpack("<HH", data[local + 26:local + 30])
    if fault == "crc":
        data[local + 30 + n + x] ^= 0xFF
    else:
        size = struct.unpack("<I", data[local + 22:local + 26])[0]
        size += 10 if fault == "longer" else -size // 2
        data[local + 22:local + 26] = struct.pack("<I", size)
        data[cd + 24:cd + 28] = struct.pack("<I", size)
open(out, "wb").write(data)
)PY";

const char kMakeBomb[] = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as zf:
    zf.writestr(zipfile.ZipInfo("T.0/"), b"")
    zi = zipfile.ZipInfo("T.0/zeros.bin")
    zi.compress_type = zipfile.ZIP_DEFLATED
    block = bytes(1 << 20)
    with zf.open(zi, "w") as f:
        for _ in range(1024):
            f.write(block)
)PY";

struct EntryPlan {
    EntryPlan(std::string n, std::string d, int m = -1, bool s = false, std::string f = "")
        : name(std::move(n)), data(std::move(d)), mode(m), stored(s), fault(std::move(f)) {}
    std::string name;
    std::string data;
    int mode;  // Unix mode recorded in the entry, -1 for none
    bool stored;
    std::string fault;
};

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string CompactAt(time_t t) {
    struct tm tmv;
    localtime_r(&t, &tmv);
    char buf[32];
    strftime(buf, sizeof(buf), "%Y%m%d%H%M%S", &tmv);
    return buf;
}

class RestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = work_ / "root";
        outside_ = work_ / "outside";
        MakeDirs(root_ + "/T.0/sub");
        MakeDirs(root_ + "/T.1");
        MakeDirs(root_ + "/AB");
        MakeDirs(outside_ + "/victimdir");
        MakeDirs(app_ / "taxDataTmp/SKP");
        ASSERT_TRUE(WriteFile(root_ + "/T.0/old.txt", "old data"));
        ASSERT_TRUE(WriteFile(root_ + "/T.0/sub/x.txt", "old x"));
        ASSERT_TRUE(WriteFile(root_ + "/T.1/keep.txt", "another company"));
        ASSERT_TRUE(WriteFile(root_ + "/AB/keep.txt", "folder AB"));
        ASSERT_TRUE(WriteFile(outside_ + "/victim.txt", "do not touch"));
        ASSERT_TRUE(WriteFile(outside_ + "/victimdir/x.txt", "victim"));
        // A link inside the old data must never be written through.
        ASSERT_EQ(symlink((outside_ + "/victim.txt").c_str(), (root_ + "/T.0/x-link").c_str()), 0);
    }
    void TearDown() override { SetFreeSpaceProbe(nullptr); }

    std::string ArchivePath(const std::string& name = "T.0_SKP_20230105093000.zip") const {
        return app_ / ("taxDataTmp/SKP/" + name);
    }

    void MakeArchive(const std::string& path, const std::vector<EntryPlan>& entries) {
        Json::Value plan(Json::arrayValue);
        for (const EntryPlan& e : entries) {
            Json::Value v;
            v["name"] = e.name;
            v["hex"] = Hex(e.data);
            if (e.mode >= 0) v["mode"] = e.mode;
            if (e.stored) v["stored"] = true;
            if (!e.fault.empty()) v["fault"] = e.fault;
            plan.append(v);
        }
        std::string planPath = scratch_ / "plan.json";
        ASSERT_TRUE(WriteFile(planPath, Json::FastWriter().write(plan)));
        int rc = -1;
        std::string out = archivetest::RunPython(scratch_.path(), kMakeArchive,
                                                 Quote(path) + " " + Quote(planPath), &rc);
        ASSERT_EQ(rc, 0) << out;
    }

    // A tree with an empty folder, nested folders, a multi-block file and set times.
    void MakeSource(const std::string& dir) {
        MakeDirs(dir + "/empty");
        MakeDirs(dir + "/sub/deep");
        ASSERT_TRUE(WriteFile(dir + "/a.txt", "new a"));
        ASSERT_TRUE(WriteFile(dir + "/sub/deep/big.bin", RandomBytes(700000, 11)));
        ASSERT_TRUE(WriteFile(dir + "/sub/zero.bin", ""));
        SetModTime(dir + "/a.txt", 1700000001);
        SetModTime(dir + "/sub/deep/big.bin", 1690000000);
        SetModTime(dir + "/sub/deep", 1680000003);
        SetModTime(dir + "/sub", 1670000000);
        SetModTime(dir + "/empty", 1660000000);
        SetModTime(dir, 1650000005);
    }

    // Times of every entry below `dir`.
    std::map<std::string, int64_t> Times(const std::string& dir) {
        std::map<std::string, int64_t> out;
        out[""] = ModTime(dir);
        for (const auto& e : Snapshot(dir)) out[e.first] = ModTime(dir + "/" + e.first);
        return out;
    }

    // Every restored time within the two seconds of the zip format of the original.
    void ExpectTimesKept(const std::string& restored, const std::string& original) {
        auto want = Times(original);
        auto got = Times(restored);
        ASSERT_EQ(got.size(), want.size());
        for (const auto& w : want) {
            int64_t diff = got[w.first] - w.second;
            EXPECT_TRUE(diff > -2 && diff < 2)
                << w.first << ": " << got[w.first] << " vs " << w.second;
        }
    }

    std::vector<std::string> Leftovers() {
        std::vector<std::string> out;
        for (const auto& e : Snapshot(root_)) {
            if (e.first.find(".tvrbak-staging") != std::string::npos) out.push_back(e.first);
        }
        return out;
    }

    ScopedAppDir app_;
    TempDir work_{"restore"};
    TempDir scratch_{"restore-py"};
    std::string root_;
    std::string outside_;
};

TEST_F(RestoreTest, PackedFolderComesBackWithItsTimesAndOldDataSetAside) {
    EXPECT_EQ(MakeArchiveName("T.0", "SKP", "2023-01-05 09:30:00"), "T.0_SKP_20230105093000.zip");
    EXPECT_EQ(MakeArchiveName("T.0", "UK", "2023-01-05"), "T.0_UK_.zip");
    // The edition comes from the download folder, not from letters elsewhere in the path.
    EXPECT_EQ(ArchiveEdition("/home/UKadmin/Talvora/taxDataTmp/SKP/T.0_SKP_1.zip"), "SKP");
    EXPECT_EQ(ArchiveEdition("C:\\Talvora\\taxDataTmp\\JSP\\T.0_JSP_1.zip"), "JSP");
    EXPECT_EQ(ArchiveEdition("/home/UKadmin/JSP/T.0_SKP_1.zip"), "");

    std::string src = work_ / "src/T.0";
    MakeSource(src);
    std::string archive = ArchivePath(MakeArchiveName("T.0", "SKP", "2023-01-05 09:30:00"));
    ASSERT_EQ(ZipDirectory(archive, src), kArchiveOk);

    auto oldData = Snapshot(root_ + "/T.0");
    auto others = Snapshot(root_ + "/T.1");
    // Set-aside names for the next seconds are taken: the restore must pick another.
    std::vector<std::string> taken;
    for (int k = 0; k < 5; ++k) {
        taken.push_back(root_ + "/T.0_" + CompactAt(time(nullptr) + k) + ".tvrbak");
        MakeDirs(taken.back());
        ASSERT_TRUE(WriteFile(taken.back() + "/held.txt", "earlier restore"));
    }

    std::string aside;
    ASSERT_EQ(RestoreArchive(archive, root_, "T.0", &aside), kArchiveOk);
    EXPECT_EQ(Snapshot(root_ + "/T.0"), Snapshot(src));
    ExpectTimesKept(root_ + "/T.0", src);
    // The packer keeps the even second below the time.
    EXPECT_EQ(ModTime(root_ + "/T.0"), 1650000004);
    EXPECT_EQ(ModTime(root_ + "/T.0/sub/deep"), 1680000002);

    ASSERT_FALSE(aside.empty());
    EXPECT_EQ(aside.rfind(root_ + "/T.0_", 0), 0u) << aside;
    EXPECT_EQ(aside.substr(aside.size() - 7), ".tvrbak");
    for (const std::string& t : taken) {
        EXPECT_NE(aside, t);
        EXPECT_EQ(ReadFile(t + "/held.txt"), "earlier restore");
    }
    EXPECT_EQ(Snapshot(aside), oldData);
    EXPECT_EQ(ReadFile(outside_ + "/victim.txt"), "do not touch");
    EXPECT_EQ(Snapshot(root_ + "/T.1"), others);
    EXPECT_TRUE(Leftovers().empty());
    EXPECT_FALSE(Exists(archive));
    std::string log = app_.Log();
    EXPECT_NE(log.find("zipFileName=T.0_SKP_20230105093000.zip"), std::string::npos);
    EXPECT_NE(log.find("localDataPath=" + root_ + "/T.0"), std::string::npos);
}

TEST_F(RestoreTest, CompanyFolderIsTheArchivesOwnEvenWithUnderscores) {
    MakeDirs(root_ + "/AB_C.0");
    ASSERT_TRUE(WriteFile(root_ + "/AB_C.0/old.txt", "old AB_C"));
    auto folderAB = Snapshot(root_ + "/AB");
    std::string src = work_ / "src/AB_C.0";
    MakeSource(src);
    std::string archive = ArchivePath(MakeArchiveName("AB_C.0", "SKP", "2023-01-05 09:30:00"));
    ASSERT_EQ(ZipDirectory(archive, src), kArchiveOk);
    std::string aside;
    ASSERT_EQ(RestoreArchive(archive, root_, "AB_C.0", &aside), kArchiveOk);
    EXPECT_EQ(Snapshot(root_ + "/AB_C.0"), Snapshot(src));
    EXPECT_EQ(ReadFile(aside + "/old.txt"), "old AB_C");
    EXPECT_EQ(Snapshot(root_ + "/AB"), folderAB);

    // A company with no local data yet: nothing is set aside.
    src = work_ / "src/T.9";
    MakeSource(src);
    archive = ArchivePath("T.9_SKP_20230105093000.zip");
    ASSERT_EQ(ZipDirectory(archive, src), kArchiveOk);
    ASSERT_EQ(RestoreArchive(archive, root_, "T.9", &aside), kArchiveOk);
    EXPECT_TRUE(aside.empty());
    EXPECT_EQ(Snapshot(root_ + "/T.9"), Snapshot(src));
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(RestoreTest, ArchivesFromInfoZipAndPythonRestore) {
    std::string src = work_ / "src/T.0";
    MakeSource(src);
    std::string archive = ArchivePath();
    int rc = -1;
    std::string out = RunCommand(
        "cd " + Quote(work_ / "src") + " && zip -q -r " + Quote(archive) + " T.0 2>&1", &rc);
    ASSERT_EQ(rc, 0) << out;
    ASSERT_EQ(RestoreArchive(archive, root_, "T.0"), kArchiveOk);
    EXPECT_EQ(Snapshot(root_ + "/T.0"), Snapshot(src));
    ExpectTimesKept(root_ + "/T.0", src);

    // Windows separators are separators here too; missing parent entries are created.
    MakeArchive(archive, {{"T.0\\", ""},
                          {"T.0\\sub\\", ""},
                          {"T.0\\sub\\f.txt", "backslash"},
                          {"T.0/a/b/c.txt", "deep"}});
    ASSERT_EQ(RestoreArchive(archive, root_, "T.0"), kArchiveOk);
    std::map<std::string, std::string> want = {{"sub", "dir"},
                                               {"sub/f.txt", "file:backslash"},
                                               {"a", "dir"},
                                               {"a/b", "dir"},
                                               {"a/b/c.txt", "file:deep"}};
    EXPECT_EQ(Snapshot(root_ + "/T.0"), want);

    // UnzipTo on its own, into a folder it creates; the archive stays.
    RunCommand("cd " + Quote(work_ / "src") + " && zip -q -r " + Quote(archive) + " T.0", &rc);
    ASSERT_EQ(UnzipTo(archive, work_ / "plain"), kArchiveOk);
    EXPECT_EQ(Snapshot(work_ / "plain/T.0"), Snapshot(src));
    EXPECT_TRUE(Exists(archive));
}

TEST_F(RestoreTest, HostileAndDamagedArchivesChangeNothing) {
    std::string abs = outside_ + "/abs.txt";
    struct Case {
        std::vector<EntryPlan> entries;
        int expected;
    };
    const std::string good = "good data";
    std::vector<Case> cases = {
        {{{"T.0/", ""}, {"T.0/../evil.txt", "x"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"T.0/../../evil.txt", "x"}}, kArchiveUnsafeEntry},
        {{{"../evil.txt", "x"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {abs, "x"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"C:\\evil.txt", "x"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"C:evil.txt", "x"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"T.0/C:evil.txt", "x"}}, kArchiveUnsafeEntry},
        {{{"T.0\\", ""}, {"T.0\\..\\..\\outside\\evil.txt", "x"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"T.0/a.txt", "x"}, {"T.1/keep.txt", "overwritten"}}, kArchiveUnsafeEntry},
        {{{"T.1/", ""}, {"T.1/keep.txt", "overwritten"}}, kArchiveUnsafeEntry},
        {{{"T.0/a.txt", "x"}, {"T.0/", ""}}, kArchiveUnsafeEntry},
        {{{"T.0", "a file in the folder's place"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"T.0/./x", "x"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"T.0//x", "x"}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"T.0/link", outside_ + "/victim.txt", 0120777}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"T.0/dev", "", 020644}}, kArchiveUnsafeEntry},
        {{{"T.0/", ""}, {"T.0/fifo", "", 010644}}, kArchiveUnsafeEntry},
        {{}, kArchiveOpenFailed},  // minizip opens no archive without entries
        {{{"T.0/", ""},
          {"T.0/good.txt", good},
          {"T.0/bad.bin", RandomBytes(5000, 1), -1, true, "crc"}},
         kArchiveDamaged},
        {{{"T.0/", ""},
          {"T.0/good.txt", good},
          {"T.0/bad.bin", RandomBytes(5000, 2), -1, true, "longer"}},
         kArchiveDamaged},
        {{{"T.0/", ""},
          {"T.0/good.txt", good},
          {"T.0/bad.bin", std::string(90000, 'z'), -1, false, "shorter"}},
         kArchiveDamaged},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        std::string archive = ArchivePath();
        MakeArchive(archive, cases[i].entries);
        auto before = Snapshot(work_.path());
        EXPECT_EQ(RestoreArchive(archive, root_, "T.0"), cases[i].expected) << "case " << i;
        EXPECT_EQ(Snapshot(work_.path()), before) << "case " << i;
        EXPECT_FALSE(Exists(archive)) << "case " << i;
    }

    // Not an archive at all, and unusable targets.
    auto before = Snapshot(work_.path());
    ASSERT_TRUE(WriteFile(ArchivePath(), RandomBytes(3000, 5)));
    EXPECT_EQ(RestoreArchive(ArchivePath(), root_, "T.0"), kArchiveOpenFailed);
    MakeArchive(ArchivePath(), {{"T.0/", ""}, {"T.0/a.txt", "x"}});
    EXPECT_EQ(RestoreArchive(ArchivePath(), "", "T.0"), kArchiveBadTarget);
    MakeArchive(ArchivePath(), {{"T.0/", ""}, {"T.0/a.txt", "x"}});
    EXPECT_EQ(RestoreArchive(ArchivePath(), root_ + "/T.1", "../T.0"), kArchiveBadTarget);
    EXPECT_EQ(Snapshot(work_.path()), before);
}

TEST_F(RestoreTest, ExistingLinksInTheTargetAreNeverWrittenThrough) {
    std::string archive = ArchivePath();
    MakeArchive(archive, {{"T.0/", ""}, {"T.0/x.txt", "evil"}, {"T.0/f.txt", "evil"}});

    // The company folder itself is a link to somewhere else.
    MakeDirs(work_ / "t1");
    ASSERT_EQ(symlink((outside_ + "/victimdir").c_str(), (work_ / "t1/T.0").c_str()), 0);
    auto before = Snapshot(outside_);
    EXPECT_EQ(UnzipTo(archive, work_ / "t1", "T.0"), kArchiveUnsafeEntry);
    EXPECT_EQ(Snapshot(outside_), before);

    // A file inside it is a link.
    MakeDirs(work_ / "t2/T.0");
    ASSERT_EQ(symlink((outside_ + "/victim.txt").c_str(), (work_ / "t2/T.0/f.txt").c_str()), 0);
    EXPECT_EQ(UnzipTo(archive, work_ / "t2", "T.0"), kArchiveUnsafeEntry);
    EXPECT_EQ(Snapshot(outside_), before);
    // What the failed run created is gone again; the link stays as it was.
    EXPECT_EQ(Snapshot(work_ / "t2"),
              (std::map<std::string, std::string>{
                  {"T.0", "dir"}, {"T.0/f.txt", "link:" + outside_ + "/victim.txt"}}));

    // A hard link is replaced, not written through.
    MakeDirs(work_ / "t3/T.0");
    ASSERT_EQ(link((outside_ + "/victim.txt").c_str(), (work_ / "t3/T.0/f.txt").c_str()), 0);
    EXPECT_EQ(UnzipTo(archive, work_ / "t3", "T.0"), kArchiveOk);
    EXPECT_EQ(ReadFile(work_ / "t3/T.0/f.txt"), "evil");
    EXPECT_EQ(Snapshot(outside_), before);
}

TEST_F(RestoreTest, ZipBombFailsBeforeAndWhileWritingWithoutFillingTheDisk) {
    std::string bomb = scratch_ / "bomb.zip";
    int rc = -1;
    std::string out = archivetest::RunPython(scratch_.path(), kMakeBomb, Quote(bomb), &rc);
    ASSERT_EQ(rc, 0) << out;
    auto before = Snapshot(work_.path());

    // 1 GiB does not fit in 100 MiB: refused before anything is written.
    int calls = 0;
    SetFreeSpaceProbe([&](const std::string&, uint64_t* freeBytes) {
        ++calls;
        *freeBytes = 100ull << 20;
        return true;
    });
    std::filesystem::copy_file(bomb, ArchivePath());
    EXPECT_EQ(RestoreArchive(ArchivePath(), root_, "T.0"), kArchiveNoSpace);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(Snapshot(work_.path()), before);

    // The space goes while it is written: the restore stops at the next block.
    calls = 0;
    int64_t largest = 0;
    SetFreeSpaceProbe([&](const std::string& dir, uint64_t* freeBytes) {
        struct stat st;
        if (stat((dir + "/T.0/zeros.bin").c_str(), &st) == 0 && st.st_size > largest) {
            largest = st.st_size;
        }
        *freeBytes = ++calls == 1 ? (4ull << 30) : (64ull << 20);
        return true;
    });
    std::filesystem::copy_file(bomb, ArchivePath());
    EXPECT_EQ(RestoreArchive(ArchivePath(), root_, "T.0"), kArchiveNoSpace);
    EXPECT_GE(calls, 2);
    EXPECT_LT(largest, 1 << 20);
    EXPECT_EQ(Snapshot(work_.path()), before);
    EXPECT_TRUE(Leftovers().empty());
}

TEST_F(RestoreTest, LeftoverStagingFoldersAreRemovedAndSetAsideDataKept) {
    MakeDirs(root_ + "/T.0_20240101000000.tvrbak-staging/T.0");
    ASSERT_TRUE(WriteFile(root_ + "/T.0_20240101000000.tvrbak-staging/T.0/a.txt", "half"));
    MakeDirs(root_ + "/T.0_20240101000000.tvrbak");
    ASSERT_TRUE(WriteFile(root_ + "/T.0_20240101000000.tvrbak/a.txt", "old"));
    auto t0 = Snapshot(root_ + "/T.0");
    EXPECT_EQ(RemoveRestoreLeftovers(root_), 1);
    EXPECT_TRUE(Leftovers().empty());
    EXPECT_EQ(ReadFile(root_ + "/T.0_20240101000000.tvrbak/a.txt"), "old");
    EXPECT_EQ(Snapshot(root_ + "/T.0"), t0);
}

}  // namespace
