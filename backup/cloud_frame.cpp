#include "backup/cloud_frame.h"

#include "backup/data_rows.h"
#include "backup/frame_jobs.h"

CloudFrame::CloudFrame(QWidget* parent) : WindowBase(parent) {}

CloudFrame::~CloudFrame() = default;

QString CloudFrame::GetSkinFile() const {
    return QStringLiteral("taxDataCloud.ui");
}

void CloudFrame::InitWindow() {}

void CloudFrame::Notify(const QString&, const QString&) {}

void CloudFrame::HandleCustomMessage(const AppMessage&) {}

void CloudFrame::OnSystemClose() {
    HideWindow();
}

bool CloudFrame::eventFilter(QObject* watched, QEvent* event) {
    return WindowBase::eventFilter(watched, event);
}
void CloudFrame::Refresh() {}
