#include "software/app_list_panel.h"

#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "core/log.h"
#include "core/messages.h"
#include "core/text.h"
#include "software/app_catalogue.h"
#include "software/app_list_controls.h"
#include "software/program_start.h"
#include "ui/skin.h"

namespace names = app_list_controls;

namespace {

const char kTag[] = "tag";

template <typename T>
T* Find(QWidget* root, const char* name) {
    T* control = root->objectName() == name ? qobject_cast<T*>(root)
                                            : root->findChild<T*>(QString::fromUtf8(name));
    if (!control) WriteLog("control not found: %s in %s\r\n", name, names::kSkinFile);
    return control;
}

// The chunk of the bar carries the state: green while it runs, red once it failed; a
// failure's text is red too, since it may come before any progress.
void SetBar(QProgressBar* bar, const QString& text, const char* image) {
    bar->setFormat(text);
    if (image) {
        const bool failed = QString::fromLatin1(image) == "red.png";
        bar->setStyleSheet(QString("QProgressBar { color: %1; } "
                                   "QProgressBar::chunk { border-image: url(skin:app/%2); }")
                               .arg(failed ? "#E5533D" : "#333333", QString::fromLatin1(image)));
    }
}

// Images of the catalogue are files of the skin folder; a name that leaves it is ignored.
bool SkinRelative(const std::string& png) {
    if (png.empty() || png[0] == '/' || png[0] == '\\' || png.find(':') != std::string::npos) {
        return false;
    }
    return png.find("..") == std::string::npos;
}

}  // namespace

AppListPanel::AppListPanel(QListWidget* list, AppWindow host) : list_(list), host_(host) {}

AppListPanel::~AppListPanel() {
    stop_ = true;
    workers_.Wait();
}

void AppListPanel::StartWorker(std::function<void()> work) {
    workers_.Start(std::move(work));
}

void AppListPanel::BuildAppList(std::function<void()> then) {
    const unsigned generation = ++requested_;
    pending_.push_back(std::move(then));
    StartWorker([this, generation] {
        LoadAppCatalogue();
        // Queued to the panel: dropped by Qt if the panel is gone by then.
        QMetaObject::invokeMethod(
            this, [this, generation] { ShowRows(generation); }, Qt::QueuedConnection);
    });
}

void AppListPanel::ShowRows(unsigned generation) {
    // Only the last load asked for shows its rows; the earlier ones are its past.
    if (generation != requested_ || !list_) return;
    list_->clear();
    rows_.clear();
    const std::vector<AppEntry> entries = AppEntries();
    for (size_t i = 0; i < entries.size(); ++i) {
        const AppEntry& e = entries[i];
        QWidget* widget = LoadLayout(names::kSkinFile, nullptr);
        if (!widget) break;
        Row row;
        row.item = widget;
        row.icon = Find<QLabel>(widget, names::kIcon);
        row.name = Find<QLabel>(widget, names::kName);
        row.version = Find<QLabel>(widget, names::kVersion);
        row.progress = Find<QProgressBar>(widget, names::kProgress);
        row.startup = Find<QPushButton>(widget, names::kStartupBtn);
        row.upgrade = Find<QPushButton>(widget, names::kUpgradeBtn);
        row.install = Find<QPushButton>(widget, names::kInstallBtn);
        row.more = Find<QPushButton>(widget, names::kMoreBtn);
        if (!row.icon || !row.name || !row.version || !row.progress || !row.startup ||
            !row.upgrade || !row.install || !row.more) {
            delete widget;
            break;
        }
        if (SkinRelative(e.png)) {
            row.icon->setStyleSheet(
                QString("border-image: url(skin:%1);").arg(QString::fromUtf8(e.png.c_str())));
        }
        row.name->setText(QString::fromStdWString(Utf8ToWide(e.name)));
        row.version->setText(QString::fromStdWString(AnsiToWide(e.version)));
        row.progress->setRange(0, 100);
        row.progress->setValue(0);
        row.progress->setTextVisible(true);
        SetBar(row.progress, QString(), nullptr);
        const int index = static_cast<int>(i);
        widget->setProperty(kTag, index);
        for (QWidget* w : widget->findChildren<QWidget*>()) w->setProperty(kTag, index);

        const QString newver = QString::fromStdWString(Utf8ToWide(e.newver));
        if (e.newver != "0") {
            row.upgrade->show();
            SetBar(row.progress, QStringLiteral("*新版本:") + newver, nullptr);
        }
        if (e.installed) {
            row.startup->show();
        } else {
            row.install->show();
            row.version->setText(QStringLiteral("未安装"));
            SetBar(row.progress, QStringLiteral("未安装"), nullptr);
        }
        row.entryName = e.name;
        const auto running = installing_.find(e.name);
        if (running != installing_.end()) {
            // Rebuilt while its install runs: the same install, not a new one.
            row.install->setEnabled(false);
            row.progress->setValue(running->second);
            SetBar(row.progress, QString("%1/100").arg(running->second), "green.png");
        }
        connect(row.startup, &QPushButton::clicked, this,
                [this, b = row.startup] { OnStartup(b); });
        connect(row.install, &QPushButton::clicked, this,
                [this, b = row.install] { OnInstall(b); });
        // The upgrade button has no action of its own. The fourth is the row's panel,
        // shown by the host on a right click: it uninstalls this row.
        row.more->setText(QStringLiteral("卸载"));
        row.more->setCursor(Qt::PointingHandCursor);
        connect(row.more, &QPushButton::clicked, this, [this, index] { OnMore(index); });

        auto* item = new QListWidgetItem();
        item->setSizeHint(widget->sizeHint());
        list_->insertItem(index, item);
        list_->setItemWidget(item, widget);
        rows_.push_back(row);
    }
    std::vector<std::function<void()>> then;
    then.swap(pending_);
    for (auto& f : then) {
        if (f) f();
    }
}

const AppListPanel::Row* AppListPanel::RowAt(int index) const {
    if (index < 0 || index >= RowCount()) return nullptr;
    return &rows_[static_cast<size_t>(index)];
}

AppListPanel::Row* AppListPanel::RowFor(uintptr_t index) {
    return index < rows_.size() ? &rows_[index] : nullptr;
}

bool AppListPanel::Notify(const QString& type, const QString& sender) {
    if (sender == names::kList && type == "itemselect") {
        // The state is looked up again; the rows stay as they are.
        StartWorker([] { RefreshAppInstallState(); });
        return true;
    }
    if (sender == names::kList && type == "itemclick") {
        for (Row& row : rows_) row.more->hide();
        return true;
    }
    if (sender == names::kUninstallBtn && type == "click") {
        OnUninstall();
        return true;
    }
    return false;
}

bool AppListPanel::HandleMessage(const AppMessage& message) {
    switch (message.id) {
        case WM_CATALOG_ROW_PROGRESS:
            if (Row* row = RowFor(message.wParam)) {
                const int percent = static_cast<int>(message.lParam);
                row->progress->setValue(percent);
                SetBar(row->progress, QString("%1/100").arg(percent), "green.png");
                const auto running = installing_.find(row->entryName);
                if (running != installing_.end()) running->second = percent;
            }
            return true;
        case WM_CATALOG_ROW_FAILED:
            WriteLog("msg:%s\r\n", WideToAnsi(message.text).c_str());
            if (Row* row = RowFor(message.wParam)) {
                SetBar(row->progress, QString::fromStdWString(message.text), "red.png");
                // The whole text, should the bar be too narrow for it.
                row->progress->setToolTip(QString::fromStdWString(message.text));
            }
            return true;
        case WM_CATALOG_ROW_END:
            if (Row* row = RowFor(message.wParam)) row->install->setEnabled(true);
            return true;
        default:
            return false;
    }
}

void AppListPanel::OnStartup(QObject* button) {
    const int index = button->property(kTag).toInt();
    AppEntry entry;
    if (!GetAppEntry(index, &entry)) return;
    WriteLog("当前选中第%d行\r\nstartUp=%s\r\n", index, entry.exePath.c_str());
    RunProgram(entry.exePath, false);
}

void AppListPanel::OnInstall(QObject* button) {
    const int index = button->property(kTag).toInt();
    WriteLog("当前选中第%d行\r\n", index);
    Row* row = RowFor(static_cast<uintptr_t>(index));
    if (!row) return;
    row->install->setEnabled(false);
    const std::string name = row->entryName;
    // One install per entry: a second would download over the first one's installer.
    if (!installing_.emplace(name, 0).second) {
        WriteLog("install of row %d already running\r\n", index);
        return;
    }
    AppWindow host = host_;
    StartWorker([this, index, host, name] {
        InstallApp(index, host, &stop_);
        // Queued behind the install's own messages; dropped by Qt if the panel is gone.
        QMetaObject::invokeMethod(
            this, [this, name] { InstallEnded(name); }, Qt::QueuedConnection);
    });
}

void AppListPanel::InstallEnded(const std::string& entryName) {
    installing_.erase(entryName);
}

void AppListPanel::OnMore(int index) {
    if (list_) list_->setCurrentRow(index);
    OnUninstall();
}

void AppListPanel::OnUninstall() {
    const int index = list_ ? list_->currentRow() : -1;
    AppEntry entry;
    // No row chosen, or a list rebuilt since: nothing to uninstall.
    if (!GetAppEntry(index, &entry)) {
        WriteLog("当前选中第%d行\r\n", index);
        return;
    }
    WriteLog("当前选中第%d行\r\nstartUp=%s\r\n", index, entry.uninstaller.c_str());
    RunProgram(entry.uninstaller, false);
}

void AppListPanel::InstallEdition(KpEditionIndex edition) {
    const QString wanted = QString::fromUtf8(kKpEditions[edition].displayName);
    BuildAppList([this, wanted] {
        for (Row& row : rows_) {
            if (row.name->text() != wanted) continue;
            // Installed editions have no install to start.
            if (!row.install->isHidden()) row.install->click();
            return;
        }
    });
}
