#include "browser/browser_page.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>
#include <QWebEngineCertificateError>
#include <QWebEngineContextMenuRequest>
#include <QWebEngineLoadingInfo>

#include "browser/browser_client.h"
#include "browser/browser_engine.h"
#include "browser/web_addresses.h"
#include "core/curl_policy.h"
#include "core/log.h"
#include "core/log_mask.h"

namespace {

constexpr int kErrorAborted = -3;

std::string ForLog(const QUrl& url) {
    return LogSafe(url.toString().toStdString());
}

// Whether nothing but the page itself was right-clicked: no editable field, no
// selection, no link, no image or media.
bool IsPlainPageMenu(const QWebEngineContextMenuRequest* request) {
    return request && !request->isContentEditable() && request->selectedText().isEmpty() &&
           request->linkUrl().isEmpty() && request->mediaUrl().isEmpty() &&
           request->mediaType() == QWebEngineContextMenuRequest::MediaTypeNone;
}

void RemoveAction(QMenu* menu, QAction* action) {
    if (action) menu->removeAction(action);
}

// Separators left at the ends or doubled once items are gone.
void TidySeparators(QMenu* menu) {
    QAction* previous = nullptr;
    for (QAction* a : menu->actions()) {
        if (a->isSeparator() && (!previous || previous->isSeparator())) {
            menu->removeAction(a);
            continue;
        }
        previous = a;
    }
    const QList<QAction*> left = menu->actions();
    if (!left.isEmpty() && left.last()->isSeparator()) menu->removeAction(left.last());
}

}  // namespace

bool IsSignInPageUrl(const QString& url) {
    return url.contains(QStringLiteral("/serviceLogin")) || url.contains(QStringLiteral("/login"));
}

QString LoadErrorHtml(const QString& failedUrl, const QString& errorText, int errorCode) {
    return QStringLiteral("<html><body bgcolor=\"white\"><h2>Failed to load URL ") +
           failedUrl.toHtmlEscaped() + QStringLiteral(" with error ") + errorText.toHtmlEscaped() +
           QStringLiteral(" (") + QString::number(errorCode) +
           QStringLiteral(").</h2></body></html>");
}

BrowserPage::BrowserPage(CBrowserClient* client, QObject* parent)
    : QWebEnginePage(BrowserProfile(), parent), client_(client) {
    connect(this, &QWebEnginePage::loadingChanged, this, &BrowserPage::OnLoadingChanged);
    connect(this, &QWebEnginePage::certificateError, this, &BrowserPage::OnCertificateError);
    // In-page routes ("#/login") change the address without a new navigation.
    connect(this, &QWebEnginePage::urlChanged, this,
            [this](const QUrl& url) { RedirectSignIn(url); });
    connect(this, &QWebEnginePage::windowCloseRequested, this, [this] {
        if (auto* view = qobject_cast<BrowserView*>(QWebEngineView::forPage(this)))
            if (view->kind() != BrowserView::Kind::Embedded) view->close();
    });
}

void BrowserPage::triggerAction(WebAction action, bool checked) {
    // Reloading the error page would only show it again: the failed address is tried.
    if ((action == Reload || action == ReloadAndBypassCache) && showsErrorPage_ &&
        errorPageFor_.isValid()) {
        load(errorPageFor_);
        return;
    }
    // The context menu's inspect command opens the program's developer-tools window.
    if (action == InspectElement && client_) {
        if (auto* view = qobject_cast<BrowserView*>(QWebEngineView::forPage(this))) {
            client_->ShowDevTools(view);
            return;
        }
    }
    QWebEnginePage::triggerAction(action, checked);
}

QWebEnginePage* BrowserPage::createWindow(WebWindowType type) {
    (void)type;
    if (!client_) return nullptr;
    BrowserView* popup = client_->CreatePopup();
    return popup ? popup->page() : nullptr;
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) {
    if (isMainFrame && RedirectSignIn(url)) return false;
    return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
}

bool BrowserPage::RedirectSignIn(const QUrl& url) {
    if (!IsSignInPageUrl(url.toString())) return false;
    const QUrl agency(QString::fromStdString(AgencySignInUrl()));
    if (IsSignInPageUrl(agency.toString())) {
        WriteLog("agency sign-in page %s is itself a sign-in address, not redirected\r\n",
                 ForLog(agency).c_str());
        return false;
    }
    WriteLog("sign-in page %s, agency sign-in page instead\r\n", ForLog(url).c_str());
    // Not from inside the navigation callback.
    QTimer::singleShot(0, this, [this, agency] { load(agency); });
    return true;
}

void BrowserPage::OnLoadingChanged(const QWebEngineLoadingInfo& info) {
    switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            // The error page starts as a data address and ends under the failed one.
            loadingData_ = info.url().scheme() == QLatin1String("data");
            loadSucceeded_ = false;
            showsErrorPage_ = false;
            return;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            loadSucceeded_ = !loadingData_;
            showsErrorPage_ = loadingData_ && errorPageFor_.isValid();
            return;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            loadSucceeded_ = false;
            return;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            loadSucceeded_ = false;
            break;
    }
    // An HTTP error status still brings the server's page; an aborted load (a
    // redirect, a stop, a download) leaves the page as it is.
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) return;
    if (info.errorCode() == kErrorAborted) return;
    const QUrl failed = info.url();
    WriteLog("load error %d %s: %s\r\n", info.errorCode(),
             info.errorString().toLocal8Bit().constData(), ForLog(failed).c_str());
    errorPageFor_ = failed;
    setHtml(LoadErrorHtml(failed.toString(), info.errorString(), info.errorCode()), failed);
}

void BrowserPage::OnCertificateError(const QWebEngineCertificateError& error) {
    QWebEngineCertificateError e = error;
    // The program's one TLS rule: certificates are checked unless settings.json says
    // "tlsVerify": false.
    if (!HttpTlsVerifyEnabled() && e.isOverridable()) {
        WriteLog("certificate error accepted (tlsVerify false): %s %s\r\n", ForLog(e.url()).c_str(),
                 e.description().toLocal8Bit().constData());
        e.acceptCertificate();
        return;
    }
    WriteLog("certificate error refused: %s %s\r\n", ForLog(e.url()).c_str(),
             e.description().toLocal8Bit().constData());
    e.rejectCertificate();
}

BrowserView::BrowserView(CBrowserClient* client, Kind kind, QWidget* parent)
    : QWebEngineView(parent), client_(client), kind_(kind), page_(new BrowserPage(client, this)) {
    setPage(page_);
}

BrowserView::~BrowserView() = default;

bool BrowserView::event(QEvent* event) {
    // Keys reach the render widget the engine puts inside the view; watch them there.
    if (event->type() == QEvent::ChildAdded) {
        auto* child = static_cast<QChildEvent*>(event)->child();
        if (child && child->isWidgetType()) child->installEventFilter(this);
    }
    return QWebEngineView::event(event);
}

bool BrowserView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_F5) {
            page_->triggerAction(QWebEnginePage::ReloadAndBypassCache);
        } else if (key->key() == Qt::Key_F12) {
            WriteLog("F12 pressed\r\n");
            if (client_) client_->ShowDevTools(this);
        }
    }
    // The keys also go on to the page.
    return QWebEngineView::eventFilter(watched, event);
}

void BrowserView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    RemoveAction(menu, page_->action(QWebEnginePage::ViewSource));
    RemoveAction(menu, page_->action(QWebEnginePage::SavePage));
    if (IsPlainPageMenu(lastContextMenuRequest())) {
        // Back, forward, reload and the rest: the page offers no menu of its own.
        menu->clear();
    }
    TidySeparators(menu);
    emit contextMenuBuilt(menu);
    if (menu->actions().isEmpty()) {
        delete menu;
        return;
    }
    menu->setAttribute(Qt::WA_DeleteOnClose, true);
    menu->popup(event->globalPos());
}
