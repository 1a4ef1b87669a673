#include "app/backup_windows.h"

#include <QApplication>
#include <QScreen>
#include <algorithm>

#include "backup/cloud_frame.h"
#include "backup/local_frame.h"
#include "core/log.h"
#include "ui/window_base.h"

namespace {

std::unique_ptr<WindowBase> MakeWindow(int which) {
    std::unique_ptr<WindowBase> window;
    if (which == BackupWindows::kBackup) {
        window = std::make_unique<LocalFrame>();
    } else {
        window = std::make_unique<CloudFrame>();
    }
    // The window reads its layout before it is shown.
    if (window->Create() != 0) {
        WriteLog("%s window could not be made\r\n",
                 which == BackupWindows::kBackup ? "backup" : "restore");
        return nullptr;
    }
    return window;
}

}  // namespace

BackupWindows::BackupWindows() = default;
BackupWindows::~BackupWindows() = default;

bool BackupWindows::Open(int which) {
    std::unique_ptr<WindowBase>& slot = which == kBackup ? local_ : cloud_;
    if (slot) {
        BringToFront(slot.get());
        return true;
    }
    slot = MakeWindow(which);
    if (!slot) return false;
    if (QScreen* screen = QApplication::primaryScreen()) {
        // Centred, but never with its title area off a screen smaller than the window.
        const QRect avail = screen->availableGeometry();
        QPoint at = avail.center() - slot->rect().center();
        at.setX(std::max(at.x(), avail.left()));
        at.setY(std::max(at.y(), avail.top()));
        slot->move(at);
    }
    slot->show();
    return true;
}

QWidget* BackupWindows::Window(int which) const {
    return which == kBackup ? local_.get() : cloud_.get();
}
