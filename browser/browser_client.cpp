#include "browser/browser_client.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QWebEngineDownloadRequest>

#include "browser/browser_engine.h"
#include "browser/browser_page.h"
#include "core/log.h"
#include "core/log_mask.h"
#include "core/message_box.h"

namespace {

std::mutex g_chooserLock;
SaveFileChooser g_chooser;

QString ChooseSaveFile(QWidget* owner, const QString& suggestedName) {
    SaveFileChooser chooser;
    {
        std::lock_guard<std::mutex> guard(g_chooserLock);
        chooser = g_chooser;
    }
    if (chooser) return chooser(owner, suggestedName);
    return QFileDialog::getSaveFileName(owner, QString(),
                                        QDir(QDir::homePath()).filePath(suggestedName));
}

}  // namespace

void SetSaveFileChooser(SaveFileChooser chooser) {
    std::lock_guard<std::mutex> guard(g_chooserLock);
    g_chooser = std::move(chooser);
}

CBrowserClient::CBrowserClient(QWidget* parentWindow, AppWindow owner)
    : parentWindow_(parentWindow), owner_(owner) {}

CBrowserClient::~CBrowserClient() {
    std::vector<BrowserView*> browsers;
    {
        std::lock_guard<std::mutex> guard(lock_);
        browsers.swap(browserList_);
        browserCount_ = 0;
    }
    // Pop-ups and developer tools are top-level windows nobody else deletes; the
    // embedded browser goes now too, before the engine can be shut down.
    for (BrowserView* view : browsers) {
        disconnect(view, nullptr, this, nullptr);
        delete view;
    }
}

bool CBrowserClient::CreateBrowser(const QUrl& url) {
    if (!BrowserProfile() || !parentWindow_) return false;
    auto* view = new BrowserView(this, BrowserView::Kind::Embedded, parentWindow_);
    view->setObjectName(QStringLiteral("webAppBrowser"));
    view->setGeometry(0, 0, 0, 0);
    OnAfterCreated(view);
    view->show();
    view->load(url);
    return true;
}

BrowserView* CBrowserClient::GetBrowser() const {
    std::lock_guard<std::mutex> guard(lock_);
    return browserList_.empty() ? nullptr : browserList_.front();
}

int CBrowserClient::BrowserCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return browserCount_;
}

std::vector<BrowserView*> CBrowserClient::Browsers() const {
    std::lock_guard<std::mutex> guard(lock_);
    return browserList_;
}

void CBrowserClient::MoveBrowsers(int left, int top, int right, int bottom) {
    for (BrowserView* view : Browsers()) {
        if (view->kind() != BrowserView::Kind::Embedded) continue;
        view->setGeometry(left, top, right - left, bottom - top);
        view->raise();
        view->update();
    }
}

void CBrowserClient::OnAfterCreated(BrowserView* browser) {
    connect(browser, &QObject::destroyed, this, &CBrowserClient::OnBeforeClose);
    std::lock_guard<std::mutex> guard(lock_);
    browserList_.push_back(browser);
    ++browserCount_;
}

void CBrowserClient::OnBeforeClose(QObject* browser) {
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = browserList_.begin(); it != browserList_.end(); ++it) {
        if (*it == browser) {
            browserList_.erase(it);
            --browserCount_;
            break;
        }
    }
}

BrowserView* CBrowserClient::CreatePopup() {
    if (!BrowserProfile()) return nullptr;
    auto* view = new BrowserView(this, BrowserView::Kind::Popup, nullptr);
    view->setAttribute(Qt::WA_DeleteOnClose, true);
    view->resize(1000, 700);
    OnAfterCreated(view);
    view->show();
    return view;
}

void CBrowserClient::ShowDevTools(BrowserView* browser) {
    if (!browser || !BrowserProfile()) return;
    if (BrowserView* open = browser->devTools()) {
        open->show();
        open->raise();
        open->activateWindow();
        return;
    }
    auto* view = new BrowserView(this, BrowserView::Kind::DevTools, nullptr);
    view->setAttribute(Qt::WA_DeleteOnClose, true);
    view->setWindowTitle(QStringLiteral("DevTools"));
    view->resize(1000, 700);
    OnAfterCreated(view);
    browser->setDevTools(view);
    browser->page()->setDevToolsPage(view->page());
    view->show();
}

void CBrowserClient::OnBeforeDownload(BrowserPage* page, QWebEngineDownloadRequest* request) {
    auto* view = qobject_cast<BrowserView*>(QWebEngineView::forPage(page));
    QPointer<BrowserView> popup;
    if (view && view->kind() == BrowserView::Kind::Popup) {
        // A window opened only for a download shows nothing: hide it at once.
        view->hide();
        popup = view;
    }
    connect(request, &QWebEngineDownloadRequest::stateChanged, this,
            [this, request, popup] { OnDownloadUpdated(request, popup); });
    const QString suggested = request->downloadFileName();
    const QString path = ChooseSaveFile(parentWindow_, suggested);
    if (path.isEmpty()) {
        WriteLog("download not saved: %s\r\n",
                 LogSafe(request->url().toString().toStdString()).c_str());
        request->cancel();
        return;
    }
    const QFileInfo target(path);
    request->setDownloadDirectory(target.absolutePath());
    request->setDownloadFileName(target.fileName());
    WriteLog("download %s to %s\r\n", LogSafe(request->url().toString().toStdString()).c_str(),
             QDir::toNativeSeparators(target.absoluteFilePath()).toLocal8Bit().constData());
    request->accept();
}

void CBrowserClient::OnDownloadUpdated(QWebEngineDownloadRequest* request,
                                       QPointer<BrowserView> popup) {
    const auto state = request->state();
    const bool completed = state == QWebEngineDownloadRequest::DownloadCompleted;
    if (!completed && state != QWebEngineDownloadRequest::DownloadCancelled &&
        state != QWebEngineDownloadRequest::DownloadInterrupted)
        return;
    if (popup) popup->close();
    const QString path = QDir::toNativeSeparators(
        QDir(request->downloadDirectory()).filePath(request->downloadFileName()));
    if (!completed) {
        WriteLog("download ended without the file: %s\r\n",
                 request->interruptReasonString().toLocal8Bit().constData());
        emit downloadEnded(path, false);
        return;
    }
    WriteLog("download complete %s\r\n", path.toLocal8Bit().constData());
    emit downloadEnded(path, true);
    // The box is modal: show it from the event loop, not inside the engine's signal.
    const AppWindow owner = owner_;
    QMetaObject::invokeMethod(
        this,
        [owner, path] {
            AppMessageBox(owner, L"文件 \"" + path.toStdWString() + L"\" 下载完成.", L"下载",
                          kMbOk | kMbIconInfo);
        },
        Qt::QueuedConnection);
}
