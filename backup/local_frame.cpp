#include "backup/local_frame.h"

#include "backup/data_rows.h"
#include "backup/frame_jobs.h"

LocalFrame::LocalFrame(QWidget* parent) : WindowBase(parent) {}

LocalFrame::~LocalFrame() = default;

QString LocalFrame::GetSkinFile() const {
    return QStringLiteral("taxDataLocal.ui");
}

void LocalFrame::InitWindow() {}

void LocalFrame::Notify(const QString&, const QString&) {}

void LocalFrame::HandleCustomMessage(const AppMessage&) {}

void LocalFrame::OnSystemClose() {
    HideWindow();
}

bool LocalFrame::eventFilter(QObject* watched, QEvent* event) {
    return WindowBase::eventFilter(watched, event);
}
void LocalFrame::Rescan() {}
