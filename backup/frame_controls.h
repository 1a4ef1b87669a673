// Control names of the backup window (skin/taxDataLocal.ui), the restore window
// (skin/taxDataCloud.ui), their rows (skin/taxDataLocalList.ui, skin/taxDataCloudList.ui)
// and the choice dialog (skin/select.ui). The code looks controls up only through these,
// and the layout test checks every one of them.
#pragma once

namespace frame_controls {

constexpr char kLocalSkin[] = "taxDataLocal.ui";
constexpr char kCloudSkin[] = "taxDataCloud.ui";
constexpr char kLocalRowSkin[] = "taxDataLocalList.ui";
constexpr char kCloudRowSkin[] = "taxDataCloudList.ui";
constexpr char kSelectSkin[] = "select.ui";

// Both windows.
constexpr char kLoading[] = "loading";
constexpr char kLoadingTips[] = "loadingTips";
constexpr char kList[] = "kpsjList";
constexpr char kAllCheck[] = "AllKpsjCheckBox";
constexpr char kSearchEdit[] = "TaxDataSearchEdit";
constexpr char kAccount[] = "bakAccount";
constexpr char kPc[] = "bakPC";
constexpr char kAppVer[] = "kpAppVer";
constexpr char kSelect[] = "select";
// The title area the window is dragged by.
constexpr char kHeader[] = "header";

// The backup window.
constexpr char kTotalLabel[] = "taxDataTotalLabel";
constexpr char kBakInfoLabel[] = "taxDataBakInfoLabel";
constexpr char kBatchBakBtn[] = "BatchBakBtn";
constexpr char kAllScanBtn[] = "AllScanBtn";
constexpr char kBakMinBtn[] = "bakMinbtn";
constexpr char kBakCloseBtn[] = "bakClosebtn";

// The restore window.
constexpr char kSumLabel[] = "bakSumLabel";
constexpr char kSizeLabel[] = "bakSizeLabel";
constexpr char kBatchSyncBtn[] = "BatchSyncBtn";
constexpr char kSyncUpdateBtn[] = "syncUpdateBtn";
constexpr char kBatchDelBtn[] = "BatchDelBtn";
constexpr char kPruneBtn[] = "pruneBtn";
constexpr char kSyncMinBtn[] = "syncMinbtn";
constexpr char kSyncCloseBtn[] = "syncClosebtn";

constexpr const char* kLocalAll[] = {
    kLoading,     kLoadingTips, kList,      kAllCheck,    kSearchEdit, kAccount,
    kPc,          kAppVer,      kSelect,    kHeader,      kTotalLabel, kBakInfoLabel,
    kBatchBakBtn, kAllScanBtn,  kBakMinBtn, kBakCloseBtn,
};
constexpr const char* kCloudAll[] = {
    kLoading,      kLoadingTips,   kList,        kAllCheck, kSearchEdit, kAccount,
    kPc,           kAppVer,        kSelect,      kHeader,   kSumLabel,   kSizeLabel,
    kBatchSyncBtn, kSyncUpdateBtn, kBatchDelBtn, kPruneBtn, kSyncMinBtn, kSyncCloseBtn,
};

// A row: its check box, then columns 0 to 12 in this order.
constexpr char kRowItem[] = "kpsjItem";
constexpr char kRowCheck[] = "kpsjCheckBox";
constexpr const char* kColumns[] = {
    "rowNum",  "taxerName", "dirName", "typeStr", "fileSize", "fileTime",
    "account", "PCName",    "appVer",  "bakTime", "bakState", "opState",
};
constexpr int kColumnCount = 13;  // the twelve above and the action box
constexpr int kActionColumn = 12;
// The backup row's action box, button and progress bar.
constexpr char kBakOpBox[] = "bakOpBox";
constexpr char kBakOp[] = "bakOp";
constexpr char kBakProgress[] = "bakProgress";
// The restore row's.
constexpr char kSyncOpBox[] = "syncOpBox";
constexpr char kSyncOp[] = "syncOp";
constexpr char kDelOp[] = "delOp";
constexpr char kSyncProgress[] = "syncProgress";

// The choice dialog.
constexpr char kSelectCaption[] = "selectCaption";
constexpr char kLocalBtn[] = "localBtn";
constexpr char kCloudBtn[] = "cloudBtn";
constexpr char kCancelBtn[] = "cancelBtn";
constexpr char kSelectCloseBtn[] = "selectClosebtn";
constexpr char kRememberCheck[] = "rememberOpCheckBox";
constexpr const char* kSelectFields[] = {
    "localFileName", "localFileTime", "localFileSize", "localFileDevType", "localFileKPappVer",
    "cloudFileName", "cloudFileTime", "cloudFileSize", "cloudFileDevType", "cloudFileKPappVer",
};
constexpr const char* kSelectAll[] = {
    kSelectCaption, kLocalBtn, kCloudBtn, kCancelBtn, kSelectCloseBtn, kRememberCheck, kHeader,
};

}  // namespace frame_controls
