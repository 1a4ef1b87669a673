#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QWidget>
#include <memory>

#include "account/login_controls.h"
#include "account/login_frame.h"
#include "app/main_controls.h"
#include "app/main_frame.h"
#include "backup/frame_controls.h"
#include "core/settings.h"
#include "software/app_list_controls.h"
#include "tests/support/test_support.h"
#include "ui/skin.h"

namespace {

struct WindowNames {
    const char* layout;
    std::vector<const char*> names;
};

// A backup or restore row: its item, check box, columns and action controls.
std::vector<const char*> BackupRowNames(bool local) {
    std::vector<const char*> names(std::begin(frame_controls::kColumns),
                                   std::end(frame_controls::kColumns));
    names.push_back(frame_controls::kRowItem);
    names.push_back(frame_controls::kRowCheck);
    const std::vector<const char*> actions =
        local ? std::vector<const char*>{frame_controls::kBakOpBox, frame_controls::kBakOp,
                                         frame_controls::kBakProgress}
              : std::vector<const char*>{frame_controls::kSyncOpBox, frame_controls::kSyncOp,
                                         frame_controls::kDelOp, frame_controls::kSyncProgress};
    names.insert(names.end(), actions.begin(), actions.end());
    return names;
}

std::vector<const char*> SelectNames() {
    std::vector<const char*> names(std::begin(frame_controls::kSelectAll),
                                   std::end(frame_controls::kSelectAll));
    names.insert(names.end(), std::begin(frame_controls::kSelectFields),
                 std::end(frame_controls::kSelectFields));
    return names;
}

// Every window's layout and every control name its code looks up.
std::vector<WindowNames> AllWindows() {
    return {
        {login_controls::kSkinFile, std::vector<const char*>(std::begin(login_controls::kAll),
                                                             std::end(login_controls::kAll))},
        {main_controls::kSkinFile,
         std::vector<const char*>(std::begin(main_controls::kAll), std::end(main_controls::kAll))},
        {app_list_controls::kSkinFile, std::vector<const char*>(std::begin(app_list_controls::kAll),
                                                                std::end(app_list_controls::kAll))},
        {frame_controls::kLocalSkin, std::vector<const char*>(std::begin(frame_controls::kLocalAll),
                                                              std::end(frame_controls::kLocalAll))},
        {frame_controls::kCloudSkin, std::vector<const char*>(std::begin(frame_controls::kCloudAll),
                                                              std::end(frame_controls::kCloudAll))},
        {frame_controls::kLocalRowSkin, BackupRowNames(true)},
        {frame_controls::kCloudRowSkin, BackupRowNames(false)},
        {frame_controls::kSelectSkin, SelectNames()},
    };
}

QStringList g_warnings;

void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && type != QtInfoMsg) g_warnings << text;
}

}  // namespace

// Where layouts are compiled into the program, it must have every layout of the skin;
// either way each one builds without a warning and shows every image it names.
TEST(SkinLayouts, EveryLayoutOfTheSkinBuildsCleanlyWithItsImages) {
    QDir source(QString::fromUtf8(TALVORA_SOURCE_DIR) + "/skin");
    const QStringList expected = source.entryList({"*.ui"}, QDir::Files, QDir::Name);
    ASSERT_FALSE(expected.isEmpty()) << "no layouts in " << source.path().toStdString();
    const QStringList layouts = LayoutFiles();
    EXPECT_EQ(layouts, expected);
    for (const QString& file : layouts) {
        g_warnings.clear();
        QtMessageHandler previous = qInstallMessageHandler(CollectWarnings);
        std::unique_ptr<QWidget> root(LoadLayout(file, nullptr));
        qInstallMessageHandler(previous);
        ASSERT_NE(root, nullptr) << file.toStdString();
        EXPECT_TRUE(g_warnings.isEmpty())
            << file.toStdString() << ": " << g_warnings.join("\n").toStdString();
        QFile text(source.filePath(file));
        ASSERT_TRUE(text.open(QFile::ReadOnly));
        const int named = QString::fromUtf8(text.readAll()).count("<pixmap>");
        int shown = 0;
        for (QLabel* label : root->findChildren<QLabel*>()) {
            if (!label->pixmap().isNull()) ++shown;
        }
        EXPECT_EQ(shown, named) << file.toStdString() << ": a label lacks its image";
    }
    EXPECT_EQ(LoadLayout("noSuchLayout.ui", nullptr), nullptr);
}

TEST(SkinLayouts, EveryLookedUpNameIsInItsLayout) {
    for (const WindowNames& window : AllWindows()) {
        std::unique_ptr<QWidget> root(LoadLayout(window.layout, nullptr));
        ASSERT_NE(root, nullptr) << window.layout;
        for (const char* name : window.names) {
            bool found = root->objectName() == name ||
                         root->findChild<QWidget*>(QString::fromUtf8(name)) != nullptr;
            EXPECT_TRUE(found) << window.layout << " lacks " << name;
        }
    }
}

TEST(SkinLayouts, LoginWindowFindsEveryControlWithItsKind) {
    testsupport::ScopedAppDir app;
    LoadServiceUrl();
    // A missing or mistyped control fails this test through the missing-control handler.
    LoginFrame frame;
    ASSERT_EQ(frame.Create(), 0);
}

TEST(SkinLayouts, MainWindowFindsEveryControlWithItsKind) {
    testsupport::ScopedAppDir app;
    LoadServiceUrl();
    // The constructor loads the layout; a missing or mistyped control fails the test.
    CMainFrame frame;
    EXPECT_NE(frame.Root(), nullptr);
}
