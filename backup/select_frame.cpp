#include "backup/select_frame.h"

CSelectFrame::CSelectFrame(QWidget* owner, AppWindow ownerHandle)
    : WindowBase(owner), owner_(ownerHandle) {}

void CSelectFrame::SetRecords(const BackupRecord&, const BackupRecord&, const QString&) {}

int CSelectFrame::Ask(QWidget*, AppWindow, const BackupRecord&, const BackupRecord&,
                      const QString&, bool* remember) {
    *remember = false;
    return 2;
}

QString CSelectFrame::GetSkinFile() const {
    return QStringLiteral("select.ui");
}

void CSelectFrame::InitWindow() {}

void CSelectFrame::Notify(const QString&, const QString&) {}

void CSelectFrame::OnSystemClose() {
    Close(8);
}
