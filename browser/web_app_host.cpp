// What the main window keeps for its web application, with or without the engine.
#include "browser/browser_client.h"
#include "browser/web_app.h"

WebAppHost::WebAppHost(QWidget* window, AppWindow handle) : window_(window), handle_(handle) {}

WebAppHost::~WebAppHost() {
    workers_.Wait();
    // Tasks the workers queued for the client are dropped with it.
    std::unique_ptr<CBrowserClient> client;
    {
        std::lock_guard<std::mutex> guard(lock_);
        client.swap(client_);
    }
}

CBrowserClient* WebAppHost::browserClient() const {
    std::lock_guard<std::mutex> guard(lock_);
    return client_.get();
}

std::wstring WebAppHost::webAppUrl() const {
    std::lock_guard<std::mutex> guard(lock_);
    return webAppUrl_;
}

void WebAppHost::StartWorker(void (*work)(WebAppHost&)) {
    workers_.Start([this, work] { work(*this); });
}
