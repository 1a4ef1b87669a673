// One company's tax data, on this machine or in the cloud, and the two process-wide
// lists the backup subsystem works on. Texts are in the system code page; paths keep
// their Windows form ("C:\\...\\91110108MA01ABCD1X.0"), as the log and the service
// expect; the host path comes from platform::WindowsPathToHost.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/app_message.h"

struct BackupRecord {
    int32_t edition = 0;  // 0 JSP, 1 SKP, 2 UK (local scan only)
    int32_t bakState = 0;
    int32_t opState = 0;
    int64_t fileId = 0;
    int64_t fileSize = 0;
    std::string fileMD5;
    std::string fileName;
    std::string dirName;
    std::string fileTime;  // YYYY-MM-DD hh:mm:ss
    std::string bakTime;
    std::string typeStr;    // "金税盘", "税控盘", "税务UK" (system code page)
    std::string typeStrEn;  // "JSP", "SKP", "UK"
    std::string subSn;
    std::string dirPath;
    std::string taxSn;
    std::string taxerName;
    std::string archivePath;
    std::string appVer;
    std::string account;
    std::string PCName;
    // The data's fingerprint (tree_digest.h): local records, of the folder as scanned;
    // cloud records, of what was packed ("treeDigest" of "fileInfo"; empty for backups
    // made without one).
    std::string treeDigest;
    // Cloud records: the service no longer holds the backup. The record keeps its place
    // (rows are indices) until the list is loaded again, but counts for nothing.
    bool deleted = false;
};

// Backup states (bakState) and job states (opState).
enum BackupState {
    kNotBackedUp = 0,
    kNeedsRestore = 1,
    kNeedsBackup = 2,
    kNeedsSync = 3,
    kBackedUp = 4
};
enum JobState {
    kJobNone = 0,
    kJobWaiting = 1,
    kJobSucceeded = 2,
    kJobDeleteFailed = 3,
    kJobRunning = 4,
    kJobVersionMismatch = 5,
    kJobUploadError = 6,
    kJobDownloadError = 7,
    kJobMd5Mismatch = 8,
    kJobLowDisk = 9
};

// The list texts of the states; empty for values outside the tables.
std::wstring BackupStateText(int state);
std::wstring JobStateText(int state);
// Their text colours (ARGB); 0 where the table gives none (job state 0 keeps the colour).
uint32_t BackupStateColor(int state);
uint32_t JobStateColor(int state);

// "金税盘", "税控盘", "税务UK" for "JSP", "SKP", "UK" in the system code page; empty
// for any other key.
std::string EditionLabel(const std::string& typeStrEn);

// Guards appends to localRecords, the state computation and taxerName writes. The
// windows read the lists on the UI thread once a worker has posted its completion.
extern std::mutex recordsLock;
extern std::vector<BackupRecord> localRecords;
extern std::vector<BackupRecord> cloudRecords;

// The backup and restore windows while they exist (0 otherwise): the jobs post to them.
extern std::atomic<AppWindow> g_localWindow;
extern std::atomic<AppWindow> g_cloudWindow;
