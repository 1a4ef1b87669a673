// The backup and restore windows of the main window: made on first use, then only
// shown again; they live until the main window goes.
#pragma once

#include <QWidget>
#include <memory>

class WindowBase;

class BackupWindows {
public:
    enum Which { kBackup = 0, kRestore = 1 };

    BackupWindows();
    ~BackupWindows();

    // Makes the window the first time (centred on the screen) and shows it, or shows
    // the existing one and brings it forward. False (logged) when it cannot be made.
    bool Open(int which);
    // The window once made, else null.
    QWidget* Window(int which) const;

private:
    std::unique_ptr<WindowBase> local_;
    std::unique_ptr<WindowBase> cloud_;
};
