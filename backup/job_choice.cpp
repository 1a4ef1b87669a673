#include "backup/job_choice.h"

#include "core/text.h"

const wchar_t kBackupChoiceCaption[] = L"备份,本地数据覆盖云端";
const wchar_t kRestoreChoiceCaption[] = L"恢复,云端数据覆盖本地";

std::wstring VersionQuestionText(const std::string& cloudVersion,
                                 const std::string& installedVersion) {
    return L"云端文件开票软件版本:[" + AnsiToWide(cloudVersion) + L"]与本地开票软件版本:[" +
           AnsiToWide(installedVersion) + L"]不匹配\n是否仍用云端数据覆盖本地数据?";
}
