#include "app/backup_windows.h"

#include <QApplication>
#include <QScreen>

#include "core/log.h"
#include "ui/window_base.h"

// The windows come from the backup folder's window library when it is part of the build.
#if __has_include("backup/local_frame.h") && __has_include("backup/cloud_frame.h")
#include "backup/cloud_frame.h"
#include "backup/local_frame.h"
#define TALVORA_HAVE_BACKUP_WINDOWS 1
#endif

namespace {

std::unique_ptr<QWidget> MakeWindow(int which) {
#ifdef TALVORA_HAVE_BACKUP_WINDOWS
    std::unique_ptr<QWidget> window;
    if (which == BackupWindows::kBackup) {
        window = std::make_unique<LocalFrame>();
    } else {
        window = std::make_unique<CloudFrame>();
    }
    // Windows built on the skin loader read their layout before they are shown.
    if (auto* base = qobject_cast<WindowBase*>(window.get())) {
        if (!base->Root() && base->Create() != 0) return nullptr;
    }
    return window;
#else
    WriteLog("%s window is not part of this build\r\n",
             which == BackupWindows::kBackup ? "backup" : "restore");
    return nullptr;
#endif
}

}  // namespace

BackupWindows::BackupWindows() = default;
BackupWindows::~BackupWindows() = default;

bool BackupWindows::Open(int which) {
    std::unique_ptr<QWidget>& slot = which == kBackup ? local_ : cloud_;
    if (slot) {
        BringToFront(slot.get());
        return true;
    }
    slot = MakeWindow(which);
    if (!slot) return false;
    if (QScreen* screen = QApplication::primaryScreen()) {
        slot->move(screen->availableGeometry().center() - slot->rect().center());
    }
    slot->show();
    return true;
}

QWidget* BackupWindows::Window(int which) const {
    return which == kBackup ? local_.get() : cloud_.get();
}
