// The choice dialog: a local record beside a cloud record, and which side wins.
// Results are ChoiceAnswer values (backup/job_choice.h); with "remember" checked the
// local and cloud buttons first post WM_REMEMBER_CHOICE (0, result) to the owner.
#pragma once

#include <QString>

#include "backup/backup_record.h"
#include "ui/window_base.h"

class CSelectFrame : public WindowBase {
    Q_OBJECT
public:
    CSelectFrame(QWidget* owner, AppWindow ownerHandle);

    // Fills the dialog; `caption` is kBackupChoiceCaption or kRestoreChoiceCaption.
    void SetRecords(const BackupRecord& cloud, const BackupRecord& local, const QString& caption);
    // True when the remember box was checked as the dialog closed.
    bool Remembered() const { return remembered_; }

    // Creates the dialog over `owner`, fills it, shows it modally (centred) and returns
    // the result; *remember tells whether the answer is to be kept for the batch.
    static int Ask(QWidget* owner, AppWindow ownerHandle, const BackupRecord& cloud,
                   const BackupRecord& local, const QString& caption, bool* remember);

protected:
    QString GetSkinFile() const override;
    void InitWindow() override;
    void Notify(const QString& type, const QString& sender) override;
    void OnSystemClose() override;

private:
    void Answer(int result);

    AppWindow owner_;
    bool ready_ = false;
    bool remembered_ = false;
};
