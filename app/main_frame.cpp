#include "app/main_frame.h"

#include <QVBoxLayout>

#include "core/globals.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/settings.h"

CMainFrame::CMainFrame() {
    setObjectName("TalvoraMainWnd");
    setWindowTitle(QStringLiteral("Talvora财税管家"));
    bool uat = g_config && g_config->Snapshot().isUat;
    QString version = QString(uat ? "V%1(uat)" : "V%1").arg(kAppVersion);
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("Talvora财税管家  ") + version, this);
    label->setObjectName("versionBtn");
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    resize(960, 640);
    target_ = std::make_unique<MessageTarget>(
        this, [this](const AppMessage& m) { HandleCustomMessage(m); });
    g_hMainWnd = target_->handle();
}

CMainFrame::~CMainFrame() {
    if (g_hMainWnd == target_->handle()) g_hMainWnd = 0;
}

void CMainFrame::HandleCustomMessage(const AppMessage& message) {
    if (message.id == WM_APP_ACTIVATE) {
        WriteLog("WM_APP_ACTIVATE\r\n");
        ShowAndBringToFront();
    }
}

void CMainFrame::ShowAndBringToFront() {
    if (isMinimized()) {
        showNormal();
    } else {
        show();
    }
    raise();
    activateWindow();
}
