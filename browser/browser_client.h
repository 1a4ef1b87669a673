// The client behind every browser the program makes for one window: the embedded
// browser, the pop-ups it opens and developer-tools windows. It keeps their list,
// moves the embedded one in and out of view, and handles their downloads.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <functional>
#include <mutex>
#include <vector>

#include "core/app_message.h"

class BrowserPage;
class BrowserView;
class QWebEngineDownloadRequest;

// Asks where to save a download: the full path, or empty to cancel. The default
// shows the save dialog; tests answer with a seam. UI thread.
using SaveFileChooser = std::function<QString(QWidget* owner, const QString& suggestedName)>;
void SetSaveFileChooser(SaveFileChooser chooser);  // nullptr: the save dialog

class CBrowserClient : public QObject {
    Q_OBJECT
public:
    // parentWindow: the main window, parent of the embedded browser; owner: its handle,
    // owner of the download message box.
    CBrowserClient(QWidget* parentWindow, AppWindow owner);
    // Closes every browser this client made.
    ~CBrowserClient() override;

    // The embedded browser: a child of the main window at 0, 0 with size 0 x 0, loading
    // `url`. False (nothing made) without the engine or window. UI thread.
    bool CreateBrowser(const QUrl& url);
    // The first browser of the list (the embedded one), or null. UI thread.
    BrowserView* GetBrowser() const;
    // Moves the embedded browsers to left, top, right, bottom of the main window's
    // client area: 150, 40, 1000, 640 shows, 0, 0, 0, 0 hides. Pop-ups and
    // developer-tools windows are top-level windows and stay where the user has them.
    void MoveBrowsers(int left, int top, int right, int bottom);
    // Opens (or brings forward) the developer tools of `browser` in their own window.
    void ShowDevTools(BrowserView* browser);
    int BrowserCount() const;
    // Every browser of the list, oldest first.
    std::vector<BrowserView*> Browsers() const;

    // A new top-level window sharing the profile, for a page that opens one.
    BrowserView* CreatePopup();
    // A download started by one of this client's pages.
    void OnBeforeDownload(BrowserPage* page, QWebEngineDownloadRequest* request);

Q_SIGNALS:
    // A download ended: saved to `path`, or not (cancelled, failed).
    void downloadEnded(const QString& path, bool completed);

private:
    void OnAfterCreated(BrowserView* browser);
    void OnBeforeClose(QObject* browser);
    void OnDownloadUpdated(QWebEngineDownloadRequest* request, QPointer<BrowserView> popup);

    QPointer<QWidget> parentWindow_;
    AppWindow owner_;
    mutable std::mutex lock_;  // the list is read from other threads
    std::vector<BrowserView*> browserList_;
    int browserCount_ = 0;
};
