// One browser of the program: a view and its page on the program's profile. The page
// handles pop-ups, sign-in pages, load errors and certificate errors; the view the
// context menu and the F5 and F12 keys.
#pragma once

#include <QPointer>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

class CBrowserClient;
class QMenu;
class QWebEngineCertificateError;
class QWebEngineLoadingInfo;

// True when an address is a sign-in page that the agency sign-in page replaces: it
// contains "/serviceLogin" or "/login" (case-sensitive).
bool IsSignInPageUrl(const QString& url);

// The page shown when a load fails, naming the address, the error text and its code.
// Both texts are escaped: the address comes from the network and the page takes on
// its origin.
QString LoadErrorHtml(const QString& failedUrl, const QString& errorText, int errorCode);

class BrowserPage : public QWebEnginePage {
    Q_OBJECT
public:
    BrowserPage(CBrowserClient* client, QObject* parent);
    CBrowserClient* client() const { return client_; }
    // True once the main frame's last load has ended well: not while one runs, not
    // after a failed one, and not for the error page that replaced it.
    bool LoadSucceeded() const { return loadSucceeded_; }
    // A reload of the error page loads the failed address again.
    void triggerAction(WebAction action, bool checked = false) override;

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;

private:
    void OnLoadingChanged(const QWebEngineLoadingInfo& info);
    void OnCertificateError(const QWebEngineCertificateError& error);
    // Sends the page to the agency sign-in page; false when `url` is no sign-in page
    // or the agency page itself would be one (that would never end).
    bool RedirectSignIn(const QUrl& url);

    QPointer<CBrowserClient> client_;
    bool loadingData_ = false;  // the load running began at a data address
    bool loadSucceeded_ = false;
    bool showsErrorPage_ = false;
    QUrl errorPageFor_;  // the address the last error page stands for
};

class BrowserView : public QWebEngineView {
    Q_OBJECT
public:
    enum class Kind { Embedded, Popup, DevTools };
    BrowserView(CBrowserClient* client, Kind kind, QWidget* parent);
    ~BrowserView() override;

    Kind kind() const { return kind_; }
    BrowserPage* browserPage() const { return page_; }
    // The developer-tools window of this browser, while it is open.
    BrowserView* devTools() const { return devTools_; }
    void setDevTools(BrowserView* view) { devTools_ = view; }

Q_SIGNALS:
    // The menu a right click offers after trimming, just before it is shown; an empty
    // menu is not shown.
    void contextMenuBuilt(QMenu* menu);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    QPointer<CBrowserClient> client_;
    Kind kind_;
    BrowserPage* page_;
    QPointer<BrowserView> devTools_;
};
