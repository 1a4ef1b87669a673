// The modal sign-in dialog: account and password as agency or member, remembered
// accounts, and the WeChat QR page. Results arrive as WM_LOGIN_RESULT messages.
#pragma once

#include <QPixmap>
#include <QString>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "account/qr_login.h"
#include "account/sign_in.h"
#include "ui/window_base.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

// The manual update check behind "检查更新", installed at start-up by the layer that
// has the updater; without one the button is hidden.
void SetLoginUpdateCheck(std::function<void()> check);

// Texts the window shows while something else decides.
extern const char kEarlierSignInText[];  // "上一次登录尚未结束，请稍候..."
extern const char kQrWaitsText[];        // "账号登录中，请稍候再使用微信登录"
extern const char kEnvCheckingText[];    // "环境检测中..."

class LoginFrame : public WindowBase {
    Q_OBJECT
public:
    explicit LoginFrame(QWidget* parent = nullptr);
    ~LoginFrame() override;

    // Opens the dialog over `owner` with an optional red notice; returns the modal result.
    static int Open(QWidget* owner, const QString& notice);

    // Shows `notice` in "loginTips" in red before the dialog runs.
    void SetNotice(const QString& notice);
    bool SignedIn() const { return signedIn_; }
    // True while the QR page polls the service.
    bool QrPolling() const { return qr_.Polling(); }
    // The QR text of the code on show (empty before the first QR request).
    std::string QrText() const { return qr_.QrText(); }
    std::string QrScene() const { return qr_.SceneStr(); }
    // True while the environment check runs.
    bool EnvCheckRunning() const { return envChecking_; }

protected:
    QString GetSkinFile() const override;
    void InitWindow() override;
    void Notify(const QString& type, const QString& sender) override;
    void HandleCustomMessage(const AppMessage& message) override;
    bool PreTranslateKey(QKeyEvent* event) override;
    void OnSystemClose() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Milliseconds of a steady clock; the Tab rule measures with it.
    virtual qint64 NowMs() const;

private:
    void LookUpControls();
    void StartLogin();
    void StartQrLogin();
    void StopQrLogin();
    void ShowAccountPage();
    void ShowQrPage();
    void ShowQrImage();
    void PaintQrPanel();
    void FocusByIndex();
    void SetRole(int role);
    void CloseDialog();
    void StartEnvironmentCheck();
    void ShowProgress(const QString& text);

    QLabel* usLabel_ = nullptr;
    QLabel* pwLabel_ = nullptr;
    QLineEdit* usEdit_ = nullptr;
    QLineEdit* pwEdit_ = nullptr;
    QComboBox* usCombo_ = nullptr;
    QCheckBox* pwEye_ = nullptr;
    QCheckBox* rememberCheck_ = nullptr;
    QCheckBox* agree_ = nullptr;
    QPushButton* forgetBtn_ = nullptr;
    QPushButton* startLogin_ = nullptr;
    QLabel* loginTips_ = nullptr;
    QPushButton* envCheckBtn_ = nullptr;
    QPushButton* upgradeBtn_ = nullptr;
    QWidget* windowBg_ = nullptr;
    QStackedWidget* loginTab_ = nullptr;
    QAbstractButton* accountLoginBtn_ = nullptr;
    QAbstractButton* wxLoginBtn_ = nullptr;
    QFrame* wxQrPanel_ = nullptr;
    QFrame* agreeTips_ = nullptr;
    QPushButton* agreeCloseBtn_ = nullptr;
    QPushButton* wxRetryBtn_ = nullptr;
    QAbstractButton* agencyOpt_ = nullptr;
    QAbstractButton* memberOpt_ = nullptr;
    QPushButton* minBtn_ = nullptr;
    QPushButton* closeBtn_ = nullptr;
    QPushButton* logoutBtn_ = nullptr;
    QWidget* header_ = nullptr;

    bool ready_ = false;  // every control of the layout was found
    std::wstring account_;
    std::wstring password_;
    int role_ = 0;
    bool signedIn_ = false;
    int focusIndex_ = 0;  // 0 account, 1 password, 2 sign-in button
    qint64 lastTabMs_ = 0;
    QPixmap qrImage_;

    QrLoginSession qr_;
    std::thread envCheck_;
    std::atomic<bool> envChecking_{false};
};
