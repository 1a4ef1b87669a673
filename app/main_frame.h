// The main window.
#pragma once

#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <memory>
#include <thread>

#include "ui/message_target.h"

class CMainFrame : public QWidget {
    Q_OBJECT
public:
    CMainFrame();
    ~CMainFrame() override;
    AppWindow handle() const { return target_->handle(); }

private:
    void InitMainWindow();
    void HandleCustomMessage(const AppMessage& message);
    void OnLoginClicked();
    void OnVersionClicked();
    void ShowSignedIn(const QString& account);
    void ShowSignedOut();

    std::unique_ptr<MessageTarget> target_;
    QPushButton* versionBtn_ = nullptr;
    QLabel* userLab_ = nullptr;
    QPushButton* loginBtn_ = nullptr;
    QLabel* kpAppVer_ = nullptr;
    QLabel* bakPC_ = nullptr;
    std::thread autoSignIn_;
};
