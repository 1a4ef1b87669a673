// A stand-in for the main window's web and portal parts: the area drop-down with the
// three portal buttons on a home page, and the web-application page with the embedded
// browser in the main window's rectangle. It reacts to WM_PORTALS_READY and
// WM_LOGIN_RESULT as the main window does.
#pragma once

#include <QComboBox>
#include <QPushButton>
#include <QWidget>
#include <memory>

#include "browser/portal_loader.h"
#include "browser/web_app.h"
#include "ui/message_target.h"

class HostWindow : public QWidget {
    Q_OBJECT
public:
    HostWindow();
    ~HostWindow() override;

    AppWindow handle() const { return target_->handle(); }
    WebAppHost& webApp() { return *webApp_; }
    PortalLoader& loader() { return loader_; }
    QComboBox* areaCombo() const { return areaCombo_; }
    int currentArea() const { return currentArea_; }

    // The main window's initialisation: portal loader and web application.
    void Start();
    // The home page (browser hidden) and the web-application page (browser shown).
    void ShowHome();
    void ShowWebApp();
    // The portal buttons' clicks.
    void Click(const char* name);

private:
    void HandleCustomMessage(const AppMessage& message);

    std::unique_ptr<MessageTarget> target_;
    QComboBox* areaCombo_ = nullptr;
    QWidget* home_ = nullptr;
    int currentArea_ = 0;
    PortalLoader loader_;
    std::unique_ptr<WebAppHost> webApp_;
};
