#include "backup/select_frame.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <cstdio>

#include "backup/frame_controls.h"
#include "backup/job_choice.h"
#include "core/log.h"
#include "core/messages.h"
#include "core/text.h"

namespace names = frame_controls;

namespace {

QString Ansi(const std::string& text) {
    return QString::fromStdWString(AnsiToWide(text));
}

QString SizeText(int64_t bytes) {
    char text[64];
    snprintf(text, sizeof(text), "%.2fMB", static_cast<double>(bytes) / (1024.0 * 1024.0));
    return QString::fromLatin1(text);
}

}  // namespace

CSelectFrame::CSelectFrame(QWidget* owner, AppWindow ownerHandle)
    : WindowBase(owner), owner_(ownerHandle) {
    setObjectName(QStringLiteral("TalvoraSelectFrame"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
}

QString CSelectFrame::GetSkinFile() const {
    return QString::fromLatin1(names::kSelectSkin);
}

void CSelectFrame::InitWindow() {
    setWindowTitle(QStringLiteral("TalvoraSelectFrame"));
    bool complete = true;
    for (const char* name : names::kSelectAll) complete = FindControl<QWidget>(name) && complete;
    for (const char* name : names::kSelectFields) complete = FindControl<QLabel>(name) && complete;
    complete = FindControl<QCheckBox>(names::kRememberCheck) && complete;
    ready_ = complete;
}

void CSelectFrame::SetRecords(const BackupRecord& cloud, const BackupRecord& local,
                              const QString& caption) {
    if (!ready_) return;
    WriteLog("L:%lld  C:%lld\r\n", static_cast<long long>(local.fileSize),
             static_cast<long long>(cloud.fileSize));
    auto fill = [this](const char* side, const BackupRecord& r) {
        auto set = [this, side](const char* field, const QString& text) {
            QLabel* label = FindControl<QLabel>((std::string(side) + field).c_str());
            label->ensurePolished();
            const int room = label->maximumWidth() - 4;
            const QString shown =
                QFontMetrics(label->font()).elidedText(text, Qt::ElideMiddle, room);
            label->setText(shown);
            label->setToolTip(shown == text ? QString() : text);
        };
        // Data not yet backed up has no archive name: its folder names it.
        set("FileName", Ansi(r.fileName.empty() ? r.dirName : r.fileName));
        set("FileTime", Ansi(r.fileTime));
        set("FileSize", SizeText(r.fileSize));
        set("FileDevType", Ansi(r.typeStr));
        set("FileKPappVer", Ansi(r.appVer));
    };
    fill("local", local);
    fill("cloud", cloud);
    FindControl<QLabel>(names::kSelectCaption)->setText(caption);
}

int CSelectFrame::Ask(QWidget* owner, AppWindow ownerHandle, const BackupRecord& cloud,
                      const BackupRecord& local, const QString& caption, bool* remember) {
    *remember = false;
    QPointer<CSelectFrame> dialog = new CSelectFrame(owner, ownerHandle);
    if (dialog->Create() != 0) {
        delete dialog.data();
        return kChoiceCancel;
    }
    dialog->SetRecords(cloud, local, caption);
    QRect area;
    if (owner && owner->isVisible()) {
        area = owner->frameGeometry();
    } else if (QScreen* screen = QApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    dialog->move(area.center() - dialog->rect().center());
    const int result = dialog->ShowModal();
    if (!dialog) return kChoiceCancel;
    *remember = dialog->Remembered();
    dialog->deleteLater();
    return result;
}

void CSelectFrame::Notify(const QString& type, const QString& sender) {
    if (!ready_ || type != kNotifyClick) return;
    if (sender == names::kLocalBtn) {
        Answer(kChoiceLocal);
    } else if (sender == names::kCloudBtn) {
        Answer(kChoiceCloud);
    } else if (sender == names::kCancelBtn) {
        Close(kChoiceCancel);
    } else if (sender == names::kSelectCloseBtn) {
        Close(kChoiceClosed);
    }
}

void CSelectFrame::Answer(int result) {
    if (FindControl<QCheckBox>(names::kRememberCheck)->isChecked()) {
        remembered_ = true;
        PostAppMessage(owner_, WM_REMEMBER_CHOICE, 0, result);
    }
    Close(result);
}

void CSelectFrame::OnSystemClose() {
    Close(kChoiceClosed);
}
