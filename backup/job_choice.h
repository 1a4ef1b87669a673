// The questions a backup or restore job puts to whoever started it: the choice between
// a local and a cloud copy of the same company data, and whether to restore data of
// another invoicing software version. The windows answer with their dialog, talvora-cli
// from its options, the tests with set answers; the jobs themselves show no window.
#pragma once

#include <string>

#include "backup/backup_record.h"

// Results of the choice dialog.
enum ChoiceAnswer : int {
    kChoiceCancel = 2,
    kChoiceClosed = 8,
    kChoiceCloud = 101,  // the cloud copy wins: a restore goes ahead, a backup does not
    kChoiceLocal = 102,  // the local copy wins: a backup goes ahead, a restore does not
};

extern const wchar_t kBackupChoiceCaption[];   // "备份,本地数据覆盖云端"
extern const wchar_t kRestoreChoiceCaption[];  // "恢复,云端数据覆盖本地"

// "云端文件开票软件版本:[cloud]与本地开票软件版本:[installed]不匹配\n是否仍用云端数据覆盖本地数据?"
std::wstring VersionQuestionText(const std::string& cloudVersion,
                                 const std::string& installedVersion);

// Called on the job's thread, which waits for the answer.
class JobQuestions {
public:
    virtual ~JobQuestions() = default;
    // The choice dialog for `cloud` and `local` under `caption`. Returns a ChoiceAnswer;
    // setting *remember keeps a kChoiceCloud or kChoiceLocal answer for the rest of the
    // batch.
    virtual int Choose(const BackupRecord& cloud, const BackupRecord& local,
                       const std::wstring& caption, bool* remember) = 0;
    // The version question (text from VersionQuestionText); true restores anyway.
    virtual bool ConfirmVersion(const BackupRecord& cloud, const std::wstring& text) = 0;
};
