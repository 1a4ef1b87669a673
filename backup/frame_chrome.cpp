#include "backup/frame_chrome.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "backup/data_rows.h"
#include "backup/frame_controls.h"
#include "core/log.h"
#include "core/text.h"
#include "ui/window_base.h"

namespace names = frame_controls;

bool FrameChrome::Find(const WindowBase& window) {
    loading_ = window.FindControl<QWidget>(names::kLoading);
    loadingTips_ = window.FindControl<QLabel>(names::kLoadingTips);
    list_ = window.FindControl<QListWidget>(names::kList);
    allCheck_ = window.FindControl<QCheckBox>(names::kAllCheck);
    searchEdit_ = window.FindControl<QLineEdit>(names::kSearchEdit);
    account_ = window.FindControl<QLabel>(names::kAccount);
    pc_ = window.FindControl<QLabel>(names::kPc);
    appVer_ = window.FindControl<QLabel>(names::kAppVer);
    select_ = window.FindControl<QLabel>(names::kSelect);
    header_ = window.FindControl<QWidget>(names::kHeader);
    for (QObject* c :
         std::initializer_list<QObject*>{loading_, loadingTips_, list_, allCheck_, searchEdit_,
                                         account_, pc_, appVer_, select_, header_}) {
        if (!c) return false;
    }
    return true;
}

void FrameChrome::ShowLoading(const QString& text) {
    loadingTips_->setText(text);
    loading_->show();
    loading_->raise();
}

void FrameChrome::HideLoading() {
    loading_->hide();
}

void FrameChrome::ShowSignInLabels() {
    account_->setText(SignedInAccountText());
    pc_->setText(ComputerNameText());
    appVer_->setText(KpVersionText());
}

void FrameChrome::ApplySearch(DataRowList* rows) const {
    if (!searchEdit_->text().isEmpty())
        rows->Filter(WideToAnsi(searchEdit_->text().toStdWString()));
}

void FrameChrome::AfterRebuild(DataRowList* rows) {
    allCheck_->setChecked(false);
    ApplySearch(rows);
}

bool FrameChrome::Notify(const QString& type, const QString& sender, DataRowList* rows) {
    if (type == kNotifyClick && sender == names::kAllCheck) {
        rows->SetAllChecked(allCheck_->isChecked());
        return true;
    }
    if ((type == kNotifyTextChanged || type == kNotifyReturn) && sender == names::kSearchEdit) {
        const std::string text = WideToAnsi(searchEdit_->text().toStdWString());
        WriteLog("searchStr:%s\r\n", text.c_str());
        rows->Filter(text);
        return true;
    }
    if (type == kNotifySelectChanged) {
        select_->setText(QStringLiteral("%1个已选中").arg(rows->CheckedCount()));
        return true;
    }
    return false;
}
