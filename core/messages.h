// Numbered messages between workers and windows. The numbers are a contract: keep them.
#pragma once

enum AppMessageId : unsigned {
    WM_TRAY_NOTIFY = 1124,
    WM_BAK_PROGRESS_TEXT = 1126,
    WM_UPDATE_INSTALLER_STARTED = 1127,
    WM_APP_ACTIVATE = 1128,
    WM_BAK_COUNTS_CHANGED = 1130,
    WM_GO_HOME = 1131,
    WM_OPEN_BACKUP_WINDOW = 1132,
    WM_SHOW_PHONE_QR = 1133,
    WM_CATALOG_ROW_PROGRESS = 1324,
    WM_CATALOG_ROW_FAILED = 1325,
    WM_CATALOG_ROW_END = 1326,
    WM_LOGIN_RESULT = 1424,
    // The login window's environment check ended: wParam 1 when every item passed,
    // text the report.
    WM_ENV_CHECK_RESULT = 1425,
    WM_LOCAL_LIST = 1524,
    WM_DOWNLOAD_PROGRESS = 1525,
    WM_LOCAL_ROW_ENABLE = 1526,
    WM_LOCAL_START = 1527,
    WM_REMEMBER_CHOICE = 1529,
    WM_CLOUD_DELETE = 1530,
    // wParam 0-4 as the restore window documents; kCloudListAppended: records were
    // added at the end of cloudRecords (a backup finished), lParam 0.
    WM_CLOUD_LIST = 1535,
    WM_CLOUD_BUTTONS = 1536,
    // A backup or restore item's stage and percentage, to the window that shows its
    // row: wParam the row, lParam (stage << 8) | percent (backup/job_report.h).
    WM_JOB_PROGRESS = 1537,
    WM_MEMORY_GAUGE = 1724,
    WM_PORTALS_READY = 1725,
};

// Earlier rows keep their indices, their selection and their running items.
constexpr unsigned kCloudListAppended = 5;
