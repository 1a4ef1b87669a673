// The notification-area icon, its pop-up menu, and whether the desktop has a tray at all.
#pragma once

#include <QIcon>
#include <QObject>
#include <QPoint>
#include <QString>
#include <optional>
#include <utility>
#include <vector>

#include "core/app_message.h"

class QSystemTrayIcon;

// Mouse messages the tray callback carries in lParam (the Windows values).
enum : intptr_t {
    kTrayLeftButtonUp = 0x0202,
    kTrayLeftButtonDoubleClick = 0x0203,
    kTrayRightButtonDown = 0x0204,
};

// True when the desktop shows tray icons. Without one, a hidden window could not be
// brought back, so windows minimise instead of hiding.
bool TrayAvailable();
// Test seam: forces the answer of TrayAvailable; std::nullopt asks the desktop again.
void SetTrayAvailableOverride(std::optional<bool> available);

// Posts `callbackMessage` to `owner` with the mouse message in lParam for every click.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    TrayIcon(AppWindow owner, unsigned callbackMessage, const QIcon& icon, const QString& tip);
    ~TrayIcon() override;
    // Adds the icon to the tray; false (logged) when the desktop has none.
    bool Add();
    void Remove();
    bool IsShown() const;
    // A notification from the tray (logged, and kept for TakeTrayNotices).
    void ShowNotice(const QString& title, const QString& text);

private:
    AppWindow owner_;
    unsigned callbackMessage_;
    QSystemTrayIcon* icon_;  // child of this object
};

// The texts of the tray notifications shown since the last call (tests read them).
std::vector<QString> TakeTrayNotices();

// Shows a pop-up menu at `pos` and returns the chosen item's id, 0 when dismissed.
int TrackPopupMenu(const std::vector<std::pair<int, QString>>& items, const QPoint& pos);
