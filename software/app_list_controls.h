// Control names of a catalogue row's layout (skin/appList.ui) and of the host window's
// controls the rows work with. The code looks controls up only through these, and the
// layout test checks every one of them.
#pragma once

namespace app_list_controls {

constexpr char kSkinFile[] = "appList.ui";

// The row: its first container holds the icon, the name box (name, version), the
// progress bar with the status text and four buttons.
constexpr char kItem[] = "appListItem";
constexpr char kRow[] = "appListRow";
constexpr char kIcon[] = "appIcon";
constexpr char kNameBox[] = "appNameBox";
constexpr char kName[] = "appName";
constexpr char kVersion[] = "appVersion";
constexpr char kProgress[] = "appProgress";
constexpr char kStartupBtn[] = "appStartupBtn";
constexpr char kUpgradeBtn[] = "appUpgradeBtn";
constexpr char kInstallBtn[] = "appInstallBtn";
// The fourth button: kept hidden.
constexpr char kMoreBtn[] = "appMoreBtn";

constexpr const char* kAll[] = {kItem,     kRow,        kIcon,       kNameBox,    kName,   kVersion,
                                kProgress, kStartupBtn, kUpgradeBtn, kInstallBtn, kMoreBtn};

// In the host window.
constexpr char kList[] = "appList";
constexpr char kUninstallBtn[] = "appUninstallBtn";

}  // namespace app_list_controls
