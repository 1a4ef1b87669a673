#include "backup/backup_record.h"

#include "core/text.h"

std::mutex recordsLock;
std::vector<BackupRecord> localRecords;
std::vector<BackupRecord> cloudRecords;
std::atomic<AppWindow> g_localWindow{0};
std::atomic<AppWindow> g_cloudWindow{0};

namespace {

struct StateRow {
    const wchar_t* text;
    uint32_t color;
};

const StateRow kBackupStates[] = {
    {L"未备份", 0xFFFF0000}, {L"需恢复", 0xFFFCC70D}, {L"需备份", 0xF00000FF},
    {L"需同步", 0xF00000FF}, {L"已备份", 0xFF2BA245},
};

const StateRow kJobStates[] = {
    {L"", 0},
    {L"等待中...", 0xFFE3B902},
    {L"成功", 0xFF2BA245},
    {L"删除失败", 0xFFFF0000},
    {L"执行中...", 0xFFE3B902},
    {L"开票软件版本不匹配", 0xFFFF0000},
    {L"上传错误", 0xFFFF0000},
    {L"下载错误", 0xFFFF0000},
    {L"MD5不匹配", 0xFFFF0000},
    {L"剩余磁盘空间不足", 0xFFFF0000},
};

template <size_t N>
const StateRow* Row(const StateRow (&table)[N], int state) {
    return state >= 0 && static_cast<size_t>(state) < N ? &table[state] : nullptr;
}

}  // namespace

std::wstring BackupStateText(int state) {
    const StateRow* row = Row(kBackupStates, state);
    return row ? row->text : L"";
}

std::wstring JobStateText(int state) {
    const StateRow* row = Row(kJobStates, state);
    return row ? row->text : L"";
}

uint32_t BackupStateColor(int state) {
    const StateRow* row = Row(kBackupStates, state);
    return row ? row->color : 0;
}

uint32_t JobStateColor(int state) {
    const StateRow* row = Row(kJobStates, state);
    return row ? row->color : 0;
}

std::string EditionLabel(const std::string& typeStrEn) {
    if (typeStrEn == "JSP") return Utf8ToAnsi("金税盘");
    if (typeStrEn == "SKP") return Utf8ToAnsi("税控盘");
    if (typeStrEn == "UK") return Utf8ToAnsi("税务UK");
    return std::string();
}
