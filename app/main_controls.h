// Control names of the main window's layout (skin/app.ui): the code looks controls up
// only through these, and the layout test checks every one of them.
#pragma once

namespace main_controls {

constexpr char kSkinFile[] = "app.ui";

constexpr char kVersionBtn[] = "VersionBtn";
constexpr char kMainTabs[] = "MainTabs";
constexpr char kHomeTab[] = "sytjBtn";
constexpr char kWebAppTab[] = "znfmBtn";
constexpr char kBackupTab[] = "sjbfBtn";
constexpr char kSoftwareTab[] = "rjgjBtn";
constexpr char kKpBtn[] = "kpBtn";
constexpr char kShBtn[] = "shBtn";
constexpr char kUserLab[] = "userLab";
constexpr char kLoginBtn[] = "LoginBtn";
constexpr char kMemoryProgress[] = "memoryprogress";
constexpr char kAreaCombo[] = "areaCombo";
constexpr char kPhoneQr[] = "sjkpqr";
constexpr char kPhoneQrImage[] = "sjkpqrImg";
constexpr char kDiskInfo[] = "diskinfo";
constexpr char kDiskInfoText[] = "diskinfoText";
constexpr char kWebAppPage[] = "znfmVL";
constexpr char kAppList[] = "appList";
constexpr char kLocalSum[] = "localDataSumLabel";
constexpr char kCloudSum[] = "cloudDataSumLabel";
constexpr char kBakAccount[] = "bakAccount";
constexpr char kBakPC[] = "bakPC";
constexpr char kKpAppVer[] = "kpAppVer";
constexpr char kUkVer[] = "home_uk_ver";
constexpr char kSkpVer[] = "home_skp_ver";
constexpr char kJspVer[] = "home_jsp_ver";
constexpr char kUkBtn[] = "kp_uk";
constexpr char kSkpBtn[] = "kp_skp";
constexpr char kJspBtn[] = "kp_jsp";
constexpr char kAutoBakCheck[] = "autoBakCheck";
constexpr char kAutoBakTime[] = "autoBakTime";
constexpr char kAutoBakKeep[] = "autoBakKeep";
// The title area the frameless window is dragged by.
constexpr char kHeader[] = "mainHeader";

// Handled by name in notifications only.
constexpr char kFpcyBtn[] = "gov_fpcy";
constexpr char kFpdkBtn[] = "gov_fpdk";
constexpr char kEtaxBtn[] = "gov_etax";
constexpr char kTvrWebBtn[] = "kp_tvr_web";
constexpr char kTvrPhoneBtn[] = "kp_tvr_phone";
constexpr char kBackupBtn[] = "backupBtn";
constexpr char kSyncBtn[] = "syncBtn";
constexpr char kCloseBtn[] = "mainClosebtn";
constexpr char kMinBtn[] = "mainMinbtn";
constexpr char kAboutBtn[] = "aboutBtn";
constexpr char kUninstallBtn[] = "appUninstallBtn";

constexpr const char* kAll[] = {
    kVersionBtn,  kMainTabs,     kHomeTab,    kWebAppTab,    kBackupTab,      kSoftwareTab,
    kKpBtn,       kShBtn,        kUserLab,    kLoginBtn,     kMemoryProgress, kAreaCombo,
    kPhoneQr,     kPhoneQrImage, kDiskInfo,   kDiskInfoText, kWebAppPage,     kAppList,
    kLocalSum,    kCloudSum,     kBakAccount, kBakPC,        kKpAppVer,       kUkVer,
    kSkpVer,      kJspVer,       kUkBtn,      kSkpBtn,       kJspBtn,         kHeader,
    kFpcyBtn,     kFpdkBtn,      kEtaxBtn,    kTvrWebBtn,    kTvrPhoneBtn,    kBackupBtn,
    kSyncBtn,     kCloseBtn,     kMinBtn,     kAboutBtn,     kUninstallBtn,   kAutoBakCheck,
    kAutoBakTime, kAutoBakKeep,
};

}  // namespace main_controls
