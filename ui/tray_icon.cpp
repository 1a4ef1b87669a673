#include "ui/tray_icon.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <mutex>

#include "core/log.h"

namespace {

std::optional<bool>& Override() {
    static std::optional<bool> value;
    return value;
}

}  // namespace

bool TrayAvailable() {
    if (Override()) return *Override();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void SetTrayAvailableOverride(std::optional<bool> available) {
    Override() = available;
}

TrayIcon::TrayIcon(AppWindow owner, unsigned callbackMessage, const QIcon& icon, const QString& tip)
    : owner_(owner), callbackMessage_(callbackMessage), icon_(new QSystemTrayIcon(icon, this)) {
    icon_->setToolTip(tip);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                intptr_t mouse = 0;
                switch (reason) {
                    case QSystemTrayIcon::Trigger:
                        mouse = kTrayLeftButtonUp;
                        break;
                    case QSystemTrayIcon::DoubleClick:
                        mouse = kTrayLeftButtonDoubleClick;
                        break;
                    case QSystemTrayIcon::Context:
                        mouse = kTrayRightButtonDown;
                        break;
                    default:
                        return;
                }
                PostAppMessage(owner_, callbackMessage_, 0, mouse);
            });
}

TrayIcon::~TrayIcon() {
    Remove();
}

bool TrayIcon::Add() {
    if (!TrayAvailable()) {
        WriteLog("no system tray, tray icon not shown\r\n");
        return false;
    }
    icon_->show();
    return true;
}

void TrayIcon::Remove() {
    icon_->hide();
}

namespace {
std::mutex noticesLock;
std::vector<QString> notices;
}  // namespace

void TrayIcon::ShowNotice(const QString& title, const QString& text) {
    WriteLog("tray notice: %s\r\n", text.toLocal8Bit().constData());
    {
        std::lock_guard<std::mutex> guard(noticesLock);
        notices.push_back(text);
    }
    icon_->showMessage(title, text, QSystemTrayIcon::Warning);
}

std::vector<QString> TakeTrayNotices() {
    std::lock_guard<std::mutex> guard(noticesLock);
    std::vector<QString> taken;
    taken.swap(notices);
    return taken;
}

bool TrayIcon::IsShown() const {
    return icon_ && icon_->isVisible();
}

int TrackPopupMenu(const std::vector<std::pair<int, QString>>& items, const QPoint& pos) {
    QMenu menu;
    menu.setStyleSheet(
        QStringLiteral("QMenu { background: #FFFFFF; border: 1px solid #DDE2E8; padding: 4px 0px;"
                       " font-family: \"WenQuanYi Micro Hei\"; font-size: 13px; color: #333333; }"
                       "QMenu::item { padding: 6px 28px; }"
                       "QMenu::item:selected { background: #E6F8F0; color: #01BB71; }"));
    for (const auto& item : items) menu.addAction(item.second)->setData(item.first);
    QAction* chosen = menu.exec(pos);
    return chosen ? chosen->data().toInt() : 0;
}
