#include "account/login_frame.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>

#include "account/environment_check.h"
#include "account/login_controls.h"
#include "core/globals.h"
#include "core/log.h"
#include "core/message_box.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/text.h"

using namespace login_controls;

const char kEarlierSignInText[] = "上一次登录尚未结束，请稍候...";
const char kQrWaitsText[] = "账号登录中，请稍候再使用微信登录";
const char kEnvCheckingText[] = "环境检测中...";

namespace {

std::mutex g_updateCheckLock;
std::function<void()> g_updateCheck;

std::function<void()> UpdateCheck() {
    std::lock_guard<std::mutex> guard(g_updateCheckLock);
    return g_updateCheck;
}

const QString kAccountPlaceholder = QStringLiteral("请输入用户名");
const QString kPasswordPlaceholder = QStringLiteral("请输入密码");
constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kPlaceholderRed = 0xFFFC5531;
constexpr QRgb kNoticeRed = 0xFFFF0000;
constexpr QRgb kProgressGrey = 0xFF5C6670;
constexpr qint64 kTabRepeatMs = 100;

// Text colour and focus border are per-widget style sheet rules on top of the
// layout's own; the two are kept as properties so either can change alone.
void ApplyLook(QWidget* w) {
    QString rules;
    QVariant color = w->property("talvoraTextColor");
    if (color.isValid()) {
        rules += QString("color: %1;").arg(QColor::fromRgba(color.toUInt()).name());
    }
    QVariant border = w->property("talvoraBorder");
    if (border.isValid()) {
        rules += border.toInt() > 0 ? QStringLiteral("border: 1px solid #01BB71;")
                                    : QStringLiteral("border: none;");
    }
    w->setStyleSheet(QString("#%1 { %2 }").arg(w->objectName(), rules));
}

void SetTextColor(QWidget* w, QRgb color) {
    if (!w) return;
    w->setProperty("talvoraTextColor", static_cast<uint>(color));
    ApplyLook(w);
}

void SetBorder(QWidget* w, int size) {
    if (!w) return;
    w->setProperty("talvoraBorder", size);
    ApplyLook(w);
}

}  // namespace

void SetLoginUpdateCheck(std::function<void()> check) {
    std::lock_guard<std::mutex> guard(g_updateCheckLock);
    g_updateCheck = std::move(check);
}

LoginFrame::LoginFrame(QWidget* parent) : WindowBase(parent) {
    setObjectName(QStringLiteral("Talvora财税管家-登录"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
}

LoginFrame::~LoginFrame() {
    // Stop the workers while the window can still receive (and drop) their messages.
    // A password sign-in still running finishes on its own: it works on copies and its
    // messages to this window are dropped once it is gone.
    qr_.Stop();
    JoinWorker(envCheck_);
}

int LoginFrame::Open(QWidget* owner, const QString& notice) {
    LoginFrame frame(owner);
    if (frame.Create() != 0) return -1;
    if (!notice.isEmpty()) frame.SetNotice(notice);
    if (owner) {
        frame.move(owner->geometry().center() - frame.rect().center());
    } else if (QScreen* screen = QApplication::primaryScreen()) {
        frame.move(screen->availableGeometry().center() - frame.rect().center());
    }
    return frame.ShowModal();
}

QString LoginFrame::GetSkinFile() const {
    return QString::fromLatin1(kSkinFile);
}

qint64 LoginFrame::NowMs() const {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return clock.elapsed();
}

void LoginFrame::LookUpControls() {
    usLabel_ = FindControl<QLabel>(kUSlabel);
    pwLabel_ = FindControl<QLabel>(kPWlabel);
    usEdit_ = FindControl<QLineEdit>(kUSedit);
    pwEdit_ = FindControl<QLineEdit>(kPWedit);
    usCombo_ = FindControl<QComboBox>(kUSCombo);
    pwEye_ = FindControl<QCheckBox>(kPWeye);
    rememberCheck_ = FindControl<QCheckBox>(kRememberPwCheck);
    agree_ = FindControl<QCheckBox>(kAgree);
    forgetBtn_ = FindControl<QPushButton>(kForgetPwBtn);
    startLogin_ = FindControl<QPushButton>(kStartLogin);
    loginTips_ = FindControl<QLabel>(kLoginTips);
    envCheckBtn_ = FindControl<QPushButton>(kEnvCheckBtn);
    upgradeBtn_ = FindControl<QPushButton>(kUpgradeBtn);
    windowBg_ = FindControl<QWidget>(kWindowBg);
    loginTab_ = FindControl<QStackedWidget>(kLoginTab);
    accountLoginBtn_ = FindControl<QAbstractButton>(kAccountLoginBtn);
    wxLoginBtn_ = FindControl<QAbstractButton>(kWxLoginBtn);
    wxQrPanel_ = FindControl<QFrame>(kWxQrPanel);
    agreeTips_ = FindControl<QFrame>(kAgreeTips);
    agreeCloseBtn_ = FindControl<QPushButton>(kAgreeCloseBtn);
    wxRetryBtn_ = FindControl<QPushButton>(kWxRetryBtn);
    agencyOpt_ = FindControl<QAbstractButton>(kAgencyOpt);
    memberOpt_ = FindControl<QAbstractButton>(kMemberOpt);
    minBtn_ = FindControl<QPushButton>(kMinBtn);
    closeBtn_ = FindControl<QPushButton>(kCloseBtn);
    logoutBtn_ = FindControl<QPushButton>(kLogoutBtn);
    header_ = FindControl<QWidget>(kHeader);
}

void LoginFrame::InitWindow() {
    LookUpControls();
    // The layout names every control; a missing one has been reported, and the window
    // must not act on half a layout.
    for (QObject* c : std::initializer_list<QObject*>{
             usLabel_,       pwLabel_,         usEdit_,     pwEdit_,     usCombo_,   pwEye_,
             rememberCheck_, agree_,           forgetBtn_,  startLogin_, loginTips_, windowBg_,
             loginTab_,      accountLoginBtn_, wxLoginBtn_, wxQrPanel_,  agreeTips_, agreeCloseBtn_,
             wxRetryBtn_,    agencyOpt_,       memberOpt_,  minBtn_,     closeBtn_,  logoutBtn_,
             header_,        envCheckBtn_,     upgradeBtn_}) {
        if (!c) return;
    }
    ready_ = true;
    // A button that could do nothing is not offered.
    upgradeBtn_->setVisible(static_cast<bool>(UpdateCheck()));
    // Status lines keep their place when hidden so the window does not jump.
    QSizePolicy tipsPolicy = loginTips_->sizePolicy();
    tipsPolicy.setRetainSizeWhenHidden(true);
    loginTips_->setSizePolicy(tipsPolicy);
    wxQrPanel_->installEventFilter(this);
    SetCaptionArea(header_);

    ConfigData config = g_config ? g_config->Snapshot() : ConfigData();
    if (config.role == 0) {
        agencyOpt_->setChecked(true);
        role_ = 0;
    } else if (config.role == 1) {
        memberOpt_->setChecked(true);
        role_ = 1;
    } else {
        role_ = 0;
    }

    ShowAccountPage();
    WriteLog("=========1\r\n");
    lastTabMs_ = NowMs();
    signedIn_ = false;

    account_ = config.account;
    password_ = config.password;
    pwLabel_->setText(QString());
    usEdit_->setText(QString::fromStdWString(account_));
    SetTextColor(usEdit_, kBlack);
    pwEdit_->setText(QString::fromStdWString(password_));
    rememberCheck_->setChecked(config.rememPw != 0);
    agree_->setChecked(config.agree);
    WriteLog("=========2\r\n");

    usCombo_->clear();
    for (const SavedAccount& saved : config.usList) {
        usCombo_->addItem(QString::fromStdWString(saved.us));
    }
    usCombo_->setCurrentIndex(-1);
    // An arrow that opens an empty list would look broken.
    usCombo_->setVisible(usCombo_->count() > 0);
    WriteLog("=========3\r\n");
}

void LoginFrame::SetNotice(const QString& notice) {
    if (!ready_) return;
    loginTips_->setText(notice);
    SetTextColor(loginTips_, kNoticeRed);
    loginTips_->setVisible(true);
}

void LoginFrame::Notify(const QString& type, const QString& sender) {
    if (!ready_) return;
    if (type == kNotifyClick) {
        if (sender == kStartLogin) {
            StartLogin();
        } else if (sender == kLogoutBtn) {
            PostAppMessage(g_hMainWnd, WM_LOGIN_RESULT, 2, 0);
            CloseDialog();
        } else if (sender == kCloseBtn) {
            CloseDialog();
        } else if (sender == kMinBtn) {
            Minimize();
        } else if (sender == kUpgradeBtn) {
            // The updater tells what it found in boxes of its own.
            if (std::function<void()> check = UpdateCheck()) check();
        } else if (sender == kEnvCheckBtn) {
            StartEnvironmentCheck();
        } else if (sender == kRememberPwCheck) {
            std::lock_guard<std::mutex> guard(g_config->mutex);
            g_config->rememPw = rememberCheck_->isChecked() ? 1 : 0;
        } else if (sender == kAgree) {
            {
                std::lock_guard<std::mutex> guard(g_config->mutex);
                g_config->agree = agree_->isChecked();
            }
            SaveConfig();
            if (agree_->isChecked()) agreeTips_->hide();
        } else if (sender == kPWeye) {
            // Checked shows the password as plain text.
            pwEdit_->setEchoMode(pwEye_->isChecked() ? QLineEdit::Normal : QLineEdit::Password);
        } else if (sender == kAccountLoginBtn) {
            ShowAccountPage();
            StopQrLogin();
        } else if (sender == kWxLoginBtn) {
            if (SharedPasswordSignIn().Running()) {
                // One sign-in at a time: the password sign-in under way decides.
                accountLoginBtn_->setChecked(true);
                wxLoginBtn_->setChecked(false);
                ShowProgress(QString::fromUtf8(kQrWaitsText));
            } else if (agree_->isChecked()) {
                ShowQrPage();
                StartQrLogin();
            } else {
                // The page stays; so does its option.
                accountLoginBtn_->setChecked(loginTab_->currentIndex() == 0);
                wxLoginBtn_->setChecked(loginTab_->currentIndex() == 1);
                agreeTips_->show();
            }
        } else if (sender == kAgreeCloseBtn) {
            agreeTips_->hide();
        } else if (sender == kWxRetryBtn) {
            wxRetryBtn_->hide();
            StartQrLogin();
        } else if (sender == kAgencyOpt) {
            SetRole(0);
        } else if (sender == kMemberOpt) {
            SetRole(1);
        }
    } else if (type == kNotifySetFocus) {
        if (sender == kUSedit) {
            focusIndex_ = 0;
            if (usEdit_->text() == kAccountPlaceholder) usEdit_->clear();
            SetTextColor(usEdit_, kBlack);
            SetBorder(usLabel_, 1);
        } else if (sender == kPWedit) {
            focusIndex_ = 1;
            pwLabel_->setText(QString());
            SetBorder(pwLabel_, 1);
        }
    } else if (type == kNotifyKillFocus) {
        if (sender == kUSedit) {
            if (usEdit_->text().isEmpty()) {
                usEdit_->setText(kAccountPlaceholder);
                SetTextColor(usEdit_, kPlaceholderRed);
            }
            SetBorder(usLabel_, 0);
        } else if (sender == kPWedit) {
            password_ = pwEdit_->text().toStdWString();
            if (pwEdit_->text().isEmpty()) pwLabel_->setText(kPasswordPlaceholder);
            SetBorder(pwLabel_, 0);
        }
    } else if (type == kNotifyDropDown && sender == kUSCombo) {
        // The list drops below the whole account box, not just below its arrow.
        QWidget* popup = usCombo_->view()->window();
        popup->setFixedWidth(usLabel_->width());
        popup->move(usLabel_->mapToGlobal(QPoint(0, usLabel_->height() + 2)));
    } else if (type == kNotifyItemSelect && sender == kUSCombo) {
        int index = usCombo_->currentIndex();
        std::wstring text = usCombo_->currentText().toStdWString();
        WriteLog("选中%d-%s\r\n", index, WideToAnsi(text).c_str());
        ConfigData config = g_config->Snapshot();
        for (const SavedAccount& saved : config.usList) {
            if (saved.us != text) continue;
            account_ = saved.us;
            password_ = saved.pw;
            usEdit_->setText(QString::fromStdWString(account_));
            SetTextColor(usEdit_, kBlack);
            pwEdit_->setText(QString::fromStdWString(password_));
            // The placeholder lies under the edit; it must not show through a filled box.
            if (!password_.empty()) pwLabel_->setText(QString());
            break;
        }
    }
}

void LoginFrame::SetRole(int role) {
    role_ = role;
    std::lock_guard<std::mutex> guard(g_config->mutex);
    g_config->role = role;
}

void LoginFrame::ShowProgress(const QString& text) {
    loginTips_->setText(text);
    SetTextColor(loginTips_, kProgressGrey);
    loginTips_->setVisible(true);
}

void LoginFrame::StartLogin() {
    if (!startLogin_->isEnabled()) return;
    // A sign-in from a login window closed meanwhile still waits for its answer: this
    // window shows it instead of starting another.
    if (SharedPasswordSignIn().Attach(handle())) {
        startLogin_->setEnabled(false);
        agree_->setEnabled(false);
        ShowProgress(QString::fromUtf8(kEarlierSignInText));
        WriteLog("sign-in under way, window attached\r\n");
        return;
    }
    if (!agree_->isChecked()) {
        agreeTips_->show();
        return;
    }
    // Checked before the button is disabled: disabling it hands the keyboard focus to
    // the account box, whose focus handling would clear the placeholders again.
    // The red placeholder itself is no account.
    QString accountText = usEdit_->text();
    if (accountText == kAccountPlaceholder) accountText.clear();
    account_ = accountText.toStdWString();
    if (account_.empty()) {
        usEdit_->setText(kAccountPlaceholder);
        SetTextColor(usEdit_, kPlaceholderRed);
        return;
    }
    if (pwEdit_->text().isEmpty()) {
        pwLabel_->setText(kPasswordPlaceholder);
        SetTextColor(pwLabel_, kPlaceholderRed);
        return;
    }
    startLogin_->setEnabled(false);
    // What is in the box now, not what it held when the focus last left it.
    password_ = pwEdit_->text().toStdWString();
    ShowProgress(QStringLiteral("登录中..."));

    // The digest is what the service accepts as the password, so it stays out of the log.
    WriteLog("us=%s,pwMd5=***\r\n", WideToAnsi(account_).c_str());

    PasswordSignInRequest request;
    request.account = account_;
    request.password = password_;
    request.role = role_;
    request.remember = rememberCheck_->isChecked();
    request.loginWindow = handle();
    request.mainWindow = g_hMainWnd;
    agree_->setEnabled(false);
    if (SharedPasswordSignIn().Start(request)) return;
    // Another window's sign-in started in between: wait for its answer here.
    if (SharedPasswordSignIn().Attach(handle())) {
        ShowProgress(QString::fromUtf8(kEarlierSignInText));
        return;
    }
    loginTips_->hide();
    startLogin_->setEnabled(true);
    agree_->setEnabled(true);
}

void LoginFrame::StartEnvironmentCheck() {
    if (envChecking_) return;
    JoinWorker(envCheck_);
    envChecking_ = true;
    envCheckBtn_->setEnabled(false);
    ShowProgress(QString::fromUtf8(kEnvCheckingText));
    EnvironmentProbe probe = DefaultEnvironmentProbe();
    // Short limits: closing the window waits for the check.
    probe.timeoutMs = 5000;
    const AppWindow window = handle();
    envCheck_ = std::thread([probe, window] {
        EnvironmentReport report = CheckEnvironment(probe);
        PostAppMessageText(window, WM_ENV_CHECK_RESULT, report.AllOk() ? 1 : 0,
                           EnvironmentReportText(report));
    });
}

void LoginFrame::HandleCustomMessage(const AppMessage& message) {
    if (!ready_) return;
    if (message.id == WM_ENV_CHECK_RESULT) {
        envChecking_ = false;
        envCheckBtn_->setEnabled(true);
        if (loginTips_->text() == QString::fromUtf8(kEnvCheckingText)) loginTips_->hide();
        AppMessageBox(handle(), message.text, kNoticeTitle,
                      kMbOk | (message.wParam == 1 ? kMbIconInfo : kMbIconWarning));
        return;
    }
    if (message.id != WM_LOGIN_RESULT) return;
    switch (message.wParam) {
        case 1:
            signedIn_ = true;
            loginTips_->hide();
            startLogin_->setEnabled(true);
            agree_->setEnabled(true);
            CloseDialog();
            break;
        case 0:
            signedIn_ = false;
            loginTips_->setText(QString::fromStdWString(message.text));
            SetTextColor(loginTips_, kPlaceholderRed);
            loginTips_->setVisible(true);
            agree_->setEnabled(true);
            startLogin_->setEnabled(true);
            break;
        case 2:
            loginTips_->setText(QString::fromStdWString(message.text));
            SetTextColor(loginTips_, kPlaceholderRed);
            loginTips_->setVisible(true);
            wxRetryBtn_->show();
            agree_->setEnabled(true);
            break;
        default:
            break;
    }
}

bool LoginFrame::PreTranslateKey(QKeyEvent* event) {
    if (!ready_) return false;
    switch (event->key()) {
        case Qt::Key_Tab: {
            qint64 now = NowMs();
            // Held keys and doubled presses arrive in bursts; one move per burst.
            if (now - lastTabMs_ >= kTabRepeatMs) {
                lastTabMs_ = now;
                focusIndex_ = (focusIndex_ + 1) % 3;
                FocusByIndex();
            }
            return true;
        }
        case Qt::Key_Backtab:
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (loginTab_->currentIndex() == 0) StartLogin();
            return true;
        case Qt::Key_Escape:
        case Qt::Key_Space:
            WriteLog("key \r\n");
            return event->key() == Qt::Key_Escape;
        default:
            return false;
    }
}

void LoginFrame::FocusByIndex() {
    switch (focusIndex_) {
        case 0:
            usEdit_->setFocus(Qt::TabFocusReason);
            break;
        case 1:
            pwEdit_->setFocus(Qt::TabFocusReason);
            break;
        default:
            startLogin_->setFocus(Qt::TabFocusReason);
            break;
    }
}

void LoginFrame::ShowAccountPage() {
    loginTab_->setCurrentIndex(0);
    accountLoginBtn_->setChecked(true);
}

void LoginFrame::ShowQrPage() {
    loginTab_->setCurrentIndex(1);
    wxLoginBtn_->setChecked(true);
}

void LoginFrame::StartQrLogin() {
    wxRetryBtn_->hide();
    loginTips_->hide();
    // The agreement cannot change while a scan may sign the user in.
    agree_->setEnabled(false);
    // Without a new code the panel keeps what it showed; a qr.bmp left from an earlier
    // run would be a code the service no longer knows.
    if (qr_.Start(role_, handle(), g_hMainWnd) == 0) ShowQrImage();
}

void LoginFrame::StopQrLogin() {
    qr_.Stop();
    // A password sign-in under way keeps the agreement locked.
    if (agree_ && !SharedPasswordSignIn().Running()) agree_->setEnabled(true);
}

void LoginFrame::ShowQrImage() {
    // Read the file afresh: it is rewritten for every code under the same name.
    QImage image;
    QFile file(QString::fromLocal8Bit(QrImagePath().c_str()));
    if (file.open(QFile::ReadOnly)) image.loadFromData(file.readAll());
    if (!image.isNull()) qrImage_ = QPixmap::fromImage(image);
    wxQrPanel_->update();
}

void LoginFrame::PaintQrPanel() {
    QPainter painter(wxQrPanel_);
    QRect area = wxQrPanel_->rect().adjusted(1, 1, -1, -1);
    painter.fillRect(area, Qt::white);
    if (qrImage_.isNull()) {
        painter.setPen(QColor(0xA3, 0xAB, 0xB5));
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("二维码加载中..."));
        return;
    }
    // Native size keeps the modules sharp; only a code larger than the frame is scaled.
    QSize size = qrImage_.size();
    if (size.width() > area.width() || size.height() > area.height()) {
        size.scale(area.size(), Qt::KeepAspectRatio);
    }
    QRect target(QPoint(0, 0), size);
    target.moveCenter(area.center());
    painter.drawPixmap(target, qrImage_);
    if (wxRetryBtn_->isVisible()) painter.fillRect(area, QColor(255, 255, 255, 200));
}

bool LoginFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == wxQrPanel_ && event->type() == QEvent::Paint) {
        PaintQrPanel();
    }
    return WindowBase::eventFilter(watched, event);
}

void LoginFrame::OnSystemClose() {
    CloseDialog();
}

void LoginFrame::CloseDialog() {
    StopQrLogin();
    Close(1);
}
