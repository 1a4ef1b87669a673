// The fixture of the job tests: the generated Wine prefix, the local service, the object
// store behind its verifying proxy, signed in, the lists scanned; windows and the choice
// dialog are stand-ins that record what they were told.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <thread>

#include "account/sign_in.h"
#include "backup/backup_jobs.h"
#include "backup/backup_record.h"
#include "backup/cloud_service.h"
#include "backup/folder_lock.h"
#include "backup/job_choice.h"
#include "backup/job_support.h"
#include "backup/obs_client.h"
#include "backup/restore_jobs.h"
#include "backup/tax_data_scan.h"
#include "backup/zip_reader.h"
#include "backup/zip_writer.h"
#include "core/globals.h"
#include "core/local_settings.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/file_tree.h"
#include "platform/fs.h"
#include "platform/wine_prefix.h"
#include "software/kp_info.h"
#include "software/running_guard.h"
#include "software/upgrade.h"
#include "tests/backup/archive_test_tools.h"
#include "tests/support/dev_service.h"
#include "tests/support/object_store.h"
#include "tests/support/test_support.h"
#include "tests/support/wine_prefix_fixture.h"

extern char** environ;

using testsupport::DevService;
using testsupport::ObjectStore;
using testsupport::ScopedAppDir;
using testsupport::TempDir;

namespace {

const char kDownloadPath[] = "/v1/elec/archives/common/download/";
const char kSlotPath[] = "/v1/elec/archives/invoice/info/backups/get/upload";
const char kDonePath[] = "/v1/elec/archives/invoice/info/backups/upload/done";
const char kListPath[] = "/v1/elec/archives/common/list/invoiceInfoBackups";

// Stands in for the choice dialog: set answers, and what was asked.
class CannedQuestions : public JobQuestions {
public:
    struct Answer {
        int choice;
        bool remember;
    };
    int Choose(const BackupRecord&, const BackupRecord&, const std::wstring& caption,
               bool* remember) override {
        captions.push_back(caption);
        if (answers.empty()) {
            ADD_FAILURE() << "a question no answer was set for";
            return kChoiceCancel;
        }
        Answer a = answers.front();
        answers.pop_front();
        *remember = a.remember;
        return a.choice;
    }
    bool ConfirmVersion(const BackupRecord&, const std::wstring& text) override {
        versionTexts.push_back(text);
        return versionAnswer;
    }
    std::deque<Answer> answers;
    std::vector<std::wstring> captions;
    bool versionAnswer = false;
    std::vector<std::wstring> versionTexts;
};

// Stands in for a window the jobs post to.
class RecordingWindow : public AppMessageSink {
public:
    RecordingWindow() : handle_(RegisterAppWindow(this)) {}
    ~RecordingWindow() override { UnregisterAppWindow(handle_); }
    void Deliver(AppMessage message) override {
        std::lock_guard<std::mutex> guard(lock_);
        messages_.push_back(message);
    }
    std::vector<AppMessage> Take() {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<AppMessage> out;
        out.swap(messages_);
        return out;
    }
    AppWindow handle() const { return handle_; }

private:
    std::mutex lock_;
    std::vector<AppMessage> messages_;
    AppWindow handle_;
};

// A sleeping process whose executable is named `name`.
class NamedProcess {
public:
    NamedProcess(const TempDir& dir, const std::string& name) {
        const std::string exe = dir / name;
        std::filesystem::copy_file(std::string(TALVORA_BIN_DIR) + "/talvora-test-sleeper", exe,
                                   std::filesystem::copy_options::overwrite_existing);
        chmod(exe.c_str(), 0755);
        std::string arg0 = name;
        char* argv[] = {&arg0[0], nullptr};
        if (posix_spawn(&pid_, exe.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
    }
    ~NamedProcess() {
        if (pid_ <= 0) return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

class JobsTest : public ::testing::Test {
protected:
    JobsTest() : scoped_(prefix_.path()), service_(store_.ServiceOptions()) {}

    void SetUp() override {
        ASSERT_TRUE(store_.ok()) << store_.Log();
        ASSERT_TRUE(service_.ok());
        std::string error;
        ASSERT_TRUE(testsupport::WriteDemoPrefix(prefix_.path(), false, &error)) << error;
        UseSettings("");
        ASSERT_EQ(obs_initialize(OBS_INIT_ALL), OBS_STATUS_OK);
        delete g_config;
        g_config = new Config();
        g_url = service_.url();
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->account = AnsiToWide(testsupport::kDemoAgencyMobile);
            g_config->password = AnsiToWide(testsupport::kDemoPassword);
            g_config->role = 0;
        }
        std::string access, refresh;
        ASSERT_EQ(RequestToken(access, refresh), 0);
        {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->signedIn = true;
        }
        ResetEditionDataRoots();
        DetectKpSoftware();
        g_localWindow = localWindow_.handle();
        g_cloudWindow = cloudWindow_.handle();
        g_hMainWnd = mainWindow_.handle();
        ASSERT_EQ(RunRescan(), 8);
        hooks_.questions = &questions_;
        TakeShownMessageBoxes();
    }
    void TearDown() override {
        SetFreeSpaceProbe(nullptr);
        g_localWindow = 0;
        g_cloudWindow = 0;
        g_hMainWnd = 0;
        obs_deinitialize();
        std::remove((app_ / "settings.json").c_str());
        ReloadLocalSettings();
    }

    void UseSettings(const std::string& extra) {
        ASSERT_TRUE(testsupport::WriteFile(
            app_ / "settings.json",
            "{\"obsEndpoint\":\"" + store_.url() + "\",\"obsPathStyle\":true" + extra + "}"));
        ReloadLocalSettings();
    }
    int LocalRow(const std::string& dirName) {
        std::lock_guard<std::mutex> guard(recordsLock);
        for (size_t i = 0; i < localRecords.size(); ++i)
            if (localRecords[i].dirName == dirName) return static_cast<int>(i);
        ADD_FAILURE() << dirName;
        return -1;
    }
    std::vector<int> CloudRows(const std::string& dirName) {
        std::lock_guard<std::mutex> guard(recordsLock);
        std::vector<int> rows;
        for (size_t i = 0; i < cloudRecords.size(); ++i)
            if (cloudRecords[i].dirName == dirName) rows.push_back(static_cast<int>(i));
        return rows;
    }
    std::string Folder(const std::string& dirName) {
        return platform::WindowsPathToHost(
            localRecords[static_cast<size_t>(LocalRow(dirName))].dirPath);
    }
    // Files anywhere below the working folder: archives and downloads must all be gone.
    std::vector<std::string> WorkFiles() {
        std::vector<std::string> files;
        for (const auto& entry : archivetest::Snapshot(app_ / "taxDataTmp"))
            if (entry.second != "dir") files.push_back(entry.first);
        return files;
    }
    int RequestsTo(const std::string& prefix) {
        int n = 0;
        for (const Json::Value& r : service_.Requests())
            if (r["path"].asString().compare(0, prefix.size(), prefix) == 0) ++n;
        return n;
    }
    bool AnswerWith(const std::string& path, const std::string& body, int status = 0) {
        DevService::Fault f;
        f.replaceBody = true;
        f.body = body;
        f.status = status;
        return service_.SetFault(path, f);
    }
    // Serves the stored archive of a backup from the service's files and makes the
    // download address point there; returns the archive's size.
    long long ServeArchiveFromFiles(long long fileId, std::string* md5) {
        std::string url;
        EXPECT_EQ(GetDownload(fileId, &url, md5), 0);
        Upgrade fetch;
        fetch.packageUrl = url;
        fetch.packagePath = service_.staticDir() + "/archive.zip";
        fetch.expectedMd5 = *md5;
        EXPECT_EQ(RunDownloadJob(&fetch), 0);
        EXPECT_TRUE(AnswerWith(kDownloadPath + std::to_string(fileId),
                               "{\"code\":0,\"fileUrl\":\"" + service_.FileUrl("archive.zip") +
                                   "\",\"fileMd5\":\"" + *md5 + "\"}"));
        return static_cast<long long>(testsupport::ReadFile(fetch.packagePath).size());
    }
    BackupRecord Cloud(int row) {
        std::lock_guard<std::mutex> guard(recordsLock);
        return cloudRecords.at(static_cast<size_t>(row));
    }
    BackupRecord Local(int row) {
        std::lock_guard<std::mutex> guard(recordsLock);
        return localRecords.at(static_cast<size_t>(row));
    }

    ScopedAppDir app_;
    TempDir prefix_{"prefix"};
    testsupport::ScopedWinePrefix scoped_;
    ObjectStore store_;
    DevService service_;
    RecordingWindow localWindow_;
    RecordingWindow cloudWindow_;
    RecordingWindow mainWindow_;
    CannedQuestions questions_;
    JobHooks hooks_;
};

inline std::vector<int> Rows(int n) {
    std::vector<int> rows;
    for (int i = 0; i < n; ++i) rows.push_back(i);
    return rows;
}

}  // namespace
