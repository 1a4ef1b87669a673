// Control names of the login window's layout (skin/login.ui): the code looks controls
// up only through these, and the layout test checks every one of them.
#pragma once

namespace login_controls {

constexpr char kSkinFile[] = "login.ui";

constexpr char kUSlabel[] = "USlabel";
constexpr char kPWlabel[] = "PWlabel";
constexpr char kUSedit[] = "USedit";
constexpr char kPWedit[] = "PWedit";
constexpr char kUSCombo[] = "USCombo";
constexpr char kPWeye[] = "PWeye";
constexpr char kRememberPwCheck[] = "rememberPwCheck";
constexpr char kAgree[] = "agree";
constexpr char kForgetPwBtn[] = "forgrPwtBtn";
constexpr char kStartLogin[] = "startLogin";
constexpr char kLoginTips[] = "loginTips";
constexpr char kEnvCheckBtn[] = "EnvCheckBtn";
constexpr char kUpgradeBtn[] = "UpgradeBtn";
constexpr char kWindowBg[] = "windowBg";
constexpr char kLoginTab[] = "loginTab";
constexpr char kAccountLoginBtn[] = "accountLoginBtn";
constexpr char kWxLoginBtn[] = "wxLoginBtn";
constexpr char kWxQrPanel[] = "wxLgoinTab1";
constexpr char kAgreeTips[] = "agreeTipsVlay";
constexpr char kAgreeCloseBtn[] = "agreeclosebtn";
constexpr char kWxRetryBtn[] = "wxLoginRetryBtn";
constexpr char kAgencyOpt[] = "dzsOpt";
constexpr char kMemberOpt[] = "usOpt";
constexpr char kMinBtn[] = "minbtn";
constexpr char kCloseBtn[] = "closebtn";
constexpr char kLogoutBtn[] = "LogoutBtn";
// The title area the window is dragged by.
constexpr char kHeader[] = "header";

constexpr const char* kAll[] = {
    kUSlabel,         kPWlabel,       kUSedit,      kPWedit,          kUSCombo,    kPWeye,
    kRememberPwCheck, kAgree,         kForgetPwBtn, kStartLogin,      kLoginTips,  kEnvCheckBtn,
    kUpgradeBtn,      kWindowBg,      kLoginTab,    kAccountLoginBtn, kWxLoginBtn, kWxQrPanel,
    kAgreeTips,       kAgreeCloseBtn, kWxRetryBtn,  kAgencyOpt,       kMemberOpt,  kMinBtn,
    kCloseBtn,        kLogoutBtn,     kHeader,
};

}  // namespace login_controls
