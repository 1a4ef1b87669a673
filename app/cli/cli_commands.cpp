#include "app/cli/cli_commands.h"

#include <json/json.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <set>
#include <utility>

#include "app/cli/cli_progress.h"
#include "app/cli/cli_session.h"
#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/cloud_service.h"
#include "backup/restore_jobs.h"
#include "backup/retention.h"
#include "backup/verified_backups.h"
#include "backup/verify_jobs.h"
#include "core/http_client.h"
#include "core/text.h"
#include "platform/console.h"

namespace {

std::string Ansi(const std::wstring& text) {
    return WideToAnsi(text);
}

std::string LocalLabel(const BackupRecord& r) {
    return r.dirName + " " + r.typeStrEn;
}

std::string CloudLabel(const BackupRecord& r) {
    return r.dirName + " " + r.typeStrEn + " #" + std::to_string(r.fileId);
}

// Copies of the lists: the jobs write states into them while they run.
std::vector<BackupRecord> Snapshot(const std::vector<BackupRecord>& list) {
    std::lock_guard<std::mutex> guard(recordsLock);
    return list;
}

// The cloud list from the service; false, said on standard error, when it cannot be read.
bool ReadCloudList() {
    const int listed = RunCloudRefresh();
    if (listed == kListTooLarge) {
        fprintf(stderr, "talvora-cli: the cloud list is larger than %lld MiB and cannot be read\n",
                static_cast<long long>(kMaxReplyBytes >> 20));
        return false;
    }
    if (listed < 0) {
        fprintf(stderr, "talvora-cli: the cloud list cannot be read\n");
        return false;
    }
    return true;
}

int ExitFor(const JobReport& report, int missing, const std::atomic<bool>& stop) {
    if (stop || report.stopped) return kExitInterrupted;
    if (missing > 0 || report.refused || report.Count(ItemOutcome::kFailed) > 0 ||
        report.Count(ItemOutcome::kNotRun) > 0) {
        return kExitFailed;
    }
    return kExitOk;
}

// Runs a job with the printer and the answers wired in, prints the summary.
template <typename Job>
int RunJob(const char* verb, const std::vector<int>& rows, const std::vector<BackupRecord>& list,
           bool cloudSide, const CliOptions& options, int missing, const std::atomic<bool>& stop,
           Job job) {
    ProgressPrinter printer(stdout, StdoutIsTerminal());
    std::map<int, std::string> labels;
    for (int row : rows)
        labels[row] = cloudSide ? CloudLabel(list[static_cast<size_t>(row)])
                                : LocalLabel(list[static_cast<size_t>(row)]);
    printer.Begin(rows, labels);
    CliQuestions questions(options.overwrite);
    JobHooks hooks;
    hooks.questions = &questions;
    hooks.stop = &stop;
    hooks.progress = [&printer](const ItemProgress& p) { printer.OnProgress(p); };
    hooks.finished = [&](const ItemResult& r) {
        BackupRecord now;
        std::string state;
        {
            std::lock_guard<std::mutex> guard(recordsLock);
            const std::vector<BackupRecord>& records = cloudSide ? cloudRecords : localRecords;
            if (r.row >= 0 && static_cast<size_t>(r.row) < records.size())
                state = Ansi(JobStateText(records[static_cast<size_t>(r.row)].opState));
        }
        printer.OnFinished(r, state);
    };
    JobReport report = job(rows, hooks);
    printer.Summary(verb, report);
    return ExitFor(report, missing, stop);
}

Json::Value RecordJson(const BackupRecord& r, int row, bool cloud) {
    Json::Value v(Json::objectValue);
    v["row"] = row;
    if (cloud) {
        v["fileId"] = static_cast<Json::Int64>(r.fileId);
        v["fileName"] = AnsiToUtf8(r.fileName);
        v["account"] = AnsiToUtf8(r.account);
        v["PCName"] = AnsiToUtf8(r.PCName);
    } else {
        v["dirPath"] = AnsiToUtf8(r.dirPath);
    }
    v["edition"] = r.typeStrEn;
    v["typeStr"] = AnsiToUtf8(r.typeStr);
    v["dirName"] = AnsiToUtf8(r.dirName);
    v["taxSn"] = AnsiToUtf8(r.taxSn);
    v["subSn"] = AnsiToUtf8(r.subSn);
    v["taxerName"] = AnsiToUtf8(r.taxerName);
    v["fileSize"] = static_cast<Json::Int64>(r.fileSize);
    v["fileTime"] = r.fileTime;
    v["bakTime"] = r.bakTime;
    v["appVer"] = AnsiToUtf8(r.appVer);
    // Only local data has a backup state.
    if (!cloud) {
        v["bakState"] = r.bakState;
        v["bakStateText"] = WideToUtf8(BackupStateText(r.bakState));
    }
    return v;
}

void PrintList(const std::vector<BackupRecord>& list, bool cloud, bool json) {
    const std::map<long long, std::string> verified =
        cloud ? VerifiedBackups() : std::map<long long, std::string>();
    auto verifiedText = [&verified](const BackupRecord& r) {
        auto it = verified.find(r.fileId);
        return it == verified.end() ? std::string() : "verified " + it->second;
    };
    if (json) {
        Json::Value all(Json::arrayValue);
        for (size_t i = 0; i < list.size(); ++i) {
            Json::Value v = RecordJson(list[i], static_cast<int>(i), cloud);
            auto it = verified.find(list[i].fileId);
            if (cloud && it != verified.end()) v["verified"] = it->second;
            all.append(v);
        }
        Json::StreamWriterBuilder builder;
        builder["emitUTF8"] = true;
        builder["indentation"] = "  ";
        std::cout << Json::writeString(builder, all) << std::endl;
        return;
    }
    if (cloud)
        printf("%-8s %-4s %-24s %10s  %-19s  %-19s  %s\n", "id", "ed.", "folder", "size",
               "data time", "backup time", "company");
    else
        printf("%-3s %-4s %-24s %10s  %-19s  %-19s  %s\n", "#", "ed.", "folder", "size",
               "data time", "backed up", "state / company");
    for (size_t i = 0; i < list.size(); ++i) {
        const BackupRecord& r = list[i];
        if (cloud) {
            const std::string mark = verifiedText(r);
            printf("%-8lld %-4s %-24s %10s  %-19s  %-19s  %s%s%s\n",
                   static_cast<long long>(r.fileId), r.typeStrEn.c_str(), r.dirName.c_str(),
                   ByteText(r.fileSize).c_str(), r.fileTime.c_str(), r.bakTime.c_str(),
                   r.taxerName.c_str(), r.taxerName.empty() || mark.empty() ? "" : "  ",
                   mark.c_str());
        } else {
            printf("%-3zu %-4s %-24s %10s  %-19s  %-19s  %s  %s\n", i + 1, r.typeStrEn.c_str(),
                   r.dirName.c_str(), ByteText(r.fileSize).c_str(), r.fileTime.c_str(),
                   r.bakTime.c_str(), Ansi(BackupStateText(r.bakState)).c_str(),
                   r.taxerName.c_str());
        }
    }
    printf("%zu %s\n", list.size(), cloud ? "cloud backups" : "local data sets");
}

int Scan() {
    if (RunLocalScan() < 0) {
        fprintf(stderr, "talvora-cli: the lists are busy\n");
        return kExitFailed;
    }
    std::map<std::string, int> editions;
    std::map<int, int> states;
    const std::vector<BackupRecord> local = Snapshot(localRecords);
    for (const BackupRecord& r : local) {
        ++editions[r.typeStrEn];
        ++states[r.bakState];
    }
    // "not backed up" counts what the backup window counts as needing a backup.
    printf(
        "found %zu invoicing data sets (JSP %d, SKP %d, UK %d); %d not backed up "
        "(%d %s, %d %s), %d %s, %d %s\n",
        local.size(), editions["JSP"], editions["SKP"], editions["UK"],
        states[kNotBackedUp] + states[kNeedsBackup], states[kNotBackedUp],
        Ansi(BackupStateText(kNotBackedUp)).c_str(), states[kNeedsBackup],
        Ansi(BackupStateText(kNeedsBackup)).c_str(), states[kNeedsRestore],
        Ansi(BackupStateText(kNeedsRestore)).c_str(), states[kBackedUp],
        Ansi(BackupStateText(kBackedUp)).c_str());
    return kExitOk;
}

int Prune(const CliOptions& options, const std::set<std::string>& taxSns,
          const std::atomic<bool>& stop);

// Backs up the companies in state 0 or 2 as they are; lists the others.
int BackupChanged(const CliOptions& options, const std::atomic<bool>& stop) {
    const std::vector<BackupRecord> local = Snapshot(localRecords);
    int unchanged = 0, newer = 0;
    std::set<std::string> taxSns;
    for (const BackupRecord& r : local) {
        taxSns.insert(r.taxSn);
        if (r.bakState == kBackedUp) {
            printf("%s  unchanged\n", LocalLabel(r).c_str());
            ++unchanged;
        } else if (r.bakState == kNeedsRestore) {
            printf("%s  cloud copy newer: not backed up\n", LocalLabel(r).c_str());
            ++newer;
        }
    }
    const std::vector<int> rows = RowsInState({kNotBackedUp, kNeedsBackup});
    if (stop) return kExitInterrupted;
    int rc =
        RunJob("backup", rows, local, false, options, 0, stop,
               [](const std::vector<int>& r, const JobHooks& h) { return RunChangedBackup(r, h); });
    printf("unchanged: %d, cloud copy newer: %d\n", unchanged, newer);
    if (rc == kExitOk && options.keepLast >= 0) rc = Prune(options, taxSns, stop);
    return rc;
}

int Backup(const CliOptions& options, const std::atomic<bool>& stop) {
    if (RunLocalScan() < 0) return kExitFailed;
    if (options.changed) return BackupChanged(options, stop);
    const std::vector<BackupRecord> local = Snapshot(localRecords);
    std::vector<int> rows;
    int missing = 0;
    const std::set<std::string> wanted(options.args.begin(), options.args.end());
    std::set<std::string> found;
    for (size_t i = 0; i < local.size(); ++i) {
        if (options.all || wanted.count(local[i].taxSn)) {
            rows.push_back(static_cast<int>(i));
            found.insert(local[i].taxSn);
        }
    }
    for (const std::string& taxSn : options.args) {
        if (found.count(taxSn)) continue;
        fprintf(stderr, "talvora-cli: %s: no invoicing data of this tax number here\n",
                taxSn.c_str());
        ++missing;
    }
    if (stop) return kExitInterrupted;
    return RunJob(
        "backup", rows, local, false, options, missing, stop,
        [](const std::vector<int>& r, const JobHooks& h) { return RunBatchBackup(r, h); });
}

// The newest backup of every data folder and edition of the tax number.
std::vector<int> LatestOf(const std::vector<BackupRecord>& cloud, const std::string& taxSn) {
    std::map<std::pair<std::string, std::string>, int> newest;
    for (size_t i = 0; i < cloud.size(); ++i) {
        const BackupRecord& r = cloud[i];
        if (r.taxSn != taxSn) continue;
        auto key = std::make_pair(r.dirName, r.typeStrEn);
        auto it = newest.find(key);
        if (it == newest.end()) {
            newest[key] = static_cast<int>(i);
            continue;
        }
        const BackupRecord& best = cloud[static_cast<size_t>(it->second)];
        if (r.bakTime > best.bakTime || (r.bakTime == best.bakTime && r.fileId > best.fileId))
            it->second = static_cast<int>(i);
    }
    std::vector<int> rows;
    for (const auto& entry : newest) rows.push_back(entry.second);
    return rows;
}

// Rows of the cloud list with these identifiers; unknown ones are reported.
std::vector<int> RowsOfIds(const std::vector<BackupRecord>& cloud,
                           const std::vector<std::string>& ids, int* missing) {
    std::vector<int> rows;
    for (const std::string& id : ids) {
        const long long fileId = std::stoll(id);
        bool found = false;
        for (size_t i = 0; i < cloud.size() && !found; ++i) {
            if (cloud[i].fileId != fileId) continue;
            found = true;
            if (std::find(rows.begin(), rows.end(), static_cast<int>(i)) == rows.end())
                rows.push_back(static_cast<int>(i));
        }
        if (!found) {
            fprintf(stderr, "talvora-cli: %s: no such cloud backup\n", id.c_str());
            ++*missing;
        }
    }
    return rows;
}

int Restore(const CliOptions& options, const std::atomic<bool>& stop) {
    // The local list is needed to compare with; its scan also reads the cloud list.
    if (RunLocalScan() < 0) return kExitFailed;
    const std::vector<BackupRecord> cloud = Snapshot(cloudRecords);
    int missing = 0;
    std::vector<int> rows;
    if (options.latest) {
        for (const std::string& taxSn : options.args) {
            std::vector<int> latest = LatestOf(cloud, taxSn);
            if (latest.empty()) {
                fprintf(stderr, "talvora-cli: %s: no cloud backup of this tax number\n",
                        taxSn.c_str());
                ++missing;
            }
            for (int row : latest)
                if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
        }
    } else {
        rows = RowsOfIds(cloud, options.args, &missing);
    }
    if (stop) return kExitInterrupted;
    return RunJob(
        "restore", rows, cloud, true, options, missing, stop,
        [](const std::vector<int>& r, const JobHooks& h) { return RunBatchRestore(r, h); });
}

std::string PruneLine(const char* verb, const BackupRecord& r) {
    return std::string(verb) + " " + CloudLabel(r) + "  " + r.bakTime + "  " + ByteText(r.fileSize);
}

// Deletes (or with --dry-run lists) the backups the rule does not keep, of the groups of
// `taxSns` (all when empty).
int Prune(const CliOptions& options, const std::set<std::string>& taxSns,
          const std::atomic<bool>& stop) {
    if (RunCloudRefresh() < 0) {
        fprintf(stderr, "talvora-cli: the cloud list cannot be read\n");
        return kExitFailed;
    }
    const std::vector<BackupRecord> cloud = Snapshot(cloudRecords);
    RetentionRule rule;
    rule.keepLast = options.keepLast;
    rule.keepDaily = options.keepDaily;
    rule.keepMonthly = options.keepMonthly;
    const std::vector<int> rows = RowsToPrune(cloud, rule, taxSns);
    int considered = 0;
    for (const BackupRecord& r : cloud)
        if (!r.deleted && (taxSns.empty() || taxSns.count(r.taxSn))) ++considered;
    const int kept = considered - static_cast<int>(rows.size());
    int64_t bytes = 0;
    if (options.dryRun) {
        for (int row : rows) {
            const BackupRecord& r = cloud[static_cast<size_t>(row)];
            printf("%s\n", PruneLine("would delete", r).c_str());
            bytes += r.fileSize;
        }
        printf("prune: %zu would be deleted (%s), %d kept\n", rows.size(), ByteText(bytes).c_str(),
               kept);
        return kExitOk;
    }
    if (stop) return kExitInterrupted;
    JobHooks hooks;
    hooks.stop = &stop;
    int failed = 0, deleted = 0;
    hooks.finished = [&](const ItemResult& result) {
        const BackupRecord& r = cloud[static_cast<size_t>(result.row)];
        if (result.outcome == ItemOutcome::kDone) {
            printf("%s\n", PruneLine("deleted", r).c_str());
            bytes += r.fileSize;
            ++deleted;
        } else {
            printf("%s: %s\n", PruneLine("not deleted", r).c_str(),
                   result.note.empty() ? "the service did not delete it" : result.note.c_str());
            ++failed;
        }
    };
    const JobReport report = RunBatchDelete(rows, hooks);
    printf("prune: %d deleted (%s), %d failed, %d kept\n", deleted, ByteText(bytes).c_str(), failed,
           kept + failed);
    if (stop || report.stopped) return kExitInterrupted;
    return failed > 0 ? kExitFailed : kExitOk;
}

int Verify(const CliOptions& options, const std::atomic<bool>& stop) {
    // The local fingerprints decide the byte comparison; the scan also reads the cloud list.
    if (RunLocalScan() < 0) return kExitFailed;
    const std::vector<BackupRecord> cloud = Snapshot(cloudRecords);
    int missing = 0;
    std::vector<int> rows;
    if (options.all) {
        for (size_t i = 0; i < cloud.size(); ++i)
            if (!cloud[i].deleted) rows.push_back(static_cast<int>(i));
    } else if (options.latest) {
        for (const std::string& taxSn : options.args) {
            std::vector<int> latest = LatestOf(cloud, taxSn);
            if (latest.empty()) {
                fprintf(stderr, "talvora-cli: %s: no cloud backup of this tax number\n",
                        taxSn.c_str());
                ++missing;
            }
            for (int row : latest)
                if (std::find(rows.begin(), rows.end(), row) == rows.end()) rows.push_back(row);
        }
    } else {
        rows = RowsOfIds(cloud, options.args, &missing);
    }
    if (stop) return kExitInterrupted;
    return RunJob(
        "verify", rows, cloud, true, options, missing, stop,
        [](const std::vector<int>& r, const JobHooks& h) { return RunBatchVerify(r, h); });
}

int Delete(const CliOptions& options, const std::atomic<bool>& stop) {
    if (!ReadCloudList()) return kExitFailed;
    const std::vector<BackupRecord> cloud = Snapshot(cloudRecords);
    int missing = 0;
    std::vector<int> rows = RowsOfIds(cloud, options.args, &missing);
    if (stop) return kExitInterrupted;
    return RunJob(
        "delete", rows, cloud, true, options, missing, stop,
        [](const std::vector<int>& r, const JobHooks& h) { return RunBatchDelete(r, h); });
}

}  // namespace

int RunCliCommand(const CliOptions& options, const std::atomic<bool>& stop) {
    if (stop) return kExitInterrupted;
    if (options.command == "scan") return Scan();
    if (options.command == "list") {
        if (options.cloud) {
            if (!ReadCloudList()) return kExitFailed;
            PrintList(Snapshot(cloudRecords), true, options.json);
            return kExitOk;
        }
        if (RunLocalScan() < 0) return kExitFailed;
        PrintList(Snapshot(localRecords), false, options.json);
        return kExitOk;
    }
    if (options.command == "backup") return Backup(options, stop);
    if (options.command == "restore") return Restore(options, stop);
    if (options.command == "delete") return Delete(options, stop);
    if (options.command == "prune") {
        return Prune(options, std::set<std::string>(options.args.begin(), options.args.end()),
                     stop);
    }
    if (options.command == "verify") return Verify(options, stop);
    return kExitUsage;
}
