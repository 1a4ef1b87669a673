// What the backup and restore windows share around their lists: the loading panel, the
// account, computer and version labels, search, select-all and the selection counter.
#pragma once

#include <QString>

class DataRowList;
class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QWidget;
class WindowBase;

class FrameChrome {
public:
    // Finds the shared controls in `window`'s layout; false when one is missing.
    bool Find(const WindowBase& window);

    QListWidget* list() const { return list_; }
    QWidget* header() const { return header_; }

    void ShowLoading(const QString& text);
    void HideLoading();
    // Who is signed in, this computer and the installed editions' versions, as now.
    void ShowSignInLabels();
    // The search text, if any, applied to `rows` again.
    void ApplySearch(DataRowList* rows) const;
    // After the list was built anew: select-all off and the search applied again.
    void AfterRebuild(DataRowList* rows);
    // Select-all clicks, search edits and selection changes; true when it was one.
    bool Notify(const QString& type, const QString& sender, DataRowList* rows);

private:
    QWidget* loading_ = nullptr;
    QLabel* loadingTips_ = nullptr;
    QListWidget* list_ = nullptr;
    QCheckBox* allCheck_ = nullptr;
    QLineEdit* searchEdit_ = nullptr;
    QLabel* account_ = nullptr;
    QLabel* pc_ = nullptr;
    QLabel* appVer_ = nullptr;
    QLabel* select_ = nullptr;
    QWidget* header_ = nullptr;
};
