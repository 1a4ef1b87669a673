// The browser engine of the program: one profile shared by every browser, its
// cookies and cache kept in the "browser" folder of the data folder (core/data_dir.h).
#pragma once

#include <QObject>
#include <functional>
#include <string>

class QWebEngineProfile;

// Start-up: creates the profile under <dataDir>/browser with the program's page
// settings. Returns 0, or -1 when the engine is already running. UI thread.
int InitBrowserEngine(const std::string& dataDir);
// Shutdown: every browser must be gone. The profile writes its cookies to disk.
void ShutdownBrowserEngine();
// The profile; null outside InitBrowserEngine .. ShutdownBrowserEngine. UI thread.
QWebEngineProfile* BrowserProfile();

// Runs `task` on the UI thread: at once when called there, otherwise queued behind the
// events already waiting, and dropped if `context` is gone by then.
void RunOnUiThread(QObject* context, std::function<void()> task);
