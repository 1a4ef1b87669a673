#include "ui/window_base.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <thread>

#include "core/messages.h"
#include "tests/support/test_support.h"
#include "ui/skin.h"
#include "ui/tray_icon.h"

using testsupport::ScopedAppDir;
using testsupport::TempDir;
using testsupport::WriteFile;

#ifdef TALVORA_COMPILED_LAYOUTS
// tests/ui/probe.ui, compiled into this test like the program's layouts.
void RegisterProbeLayouts();
#endif

namespace {


class ProbeWindow : public WindowBase {
public:
    explicit ProbeWindow(QString file = "probe.ui") : file_(std::move(file)) {}
    QStringList notes;
    std::vector<AppMessage> messages;

protected:
    QString GetSkinFile() const override { return file_; }
    void Notify(const QString& type, const QString& sender) override {
        notes << type + ":" + sender;
    }
    void HandleCustomMessage(const AppMessage& message) override { messages.push_back(message); }

private:
    QString file_;
};

class WindowBaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedSkin_ = SkinDir();
#ifdef TALVORA_COMPILED_LAYOUTS
        RegisterProbeLayouts();
#else
        ASSERT_TRUE(WriteFile(skin_ / "probe.ui",
                              testsupport::ReadFile(TALVORA_SOURCE_DIR "/tests/ui/probe.ui")));
#endif
        SetSkinDir(skin_.path());
    }
    void TearDown() override {
        SetSkinDir(savedSkin_);
        SetTrayAvailableOverride(std::nullopt);
    }
    void ShowActive(QWidget* w) {
        w->show();
        QApplication::setActiveWindow(w);
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
    }

    ScopedAppDir app_;
    TempDir skin_{"skin"};
    std::string savedSkin_;
};

}  // namespace

TEST_F(WindowBaseTest, ControlsNotifyByTypeAndName) {
    ProbeWindow w;
    ASSERT_EQ(w.Create(), 0);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("探针窗口"));
    ShowActive(&w);

    QTest::mouseClick(w.FindControl<QPushButton>("okBtn"), Qt::LeftButton);
    EXPECT_TRUE(w.notes.contains("click:okBtn"));

    w.notes.clear();
    w.FindControl<QCheckBox>("optBox")->click();
    EXPECT_TRUE(w.notes.contains("click:optBox"));
    EXPECT_TRUE(w.notes.contains("selectchanged:optBox"));

    w.notes.clear();
    auto* name = w.FindControl<QLineEdit>("nameEdit");
    auto* other = w.FindControl<QLineEdit>("otherEdit");
    name->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(name, "ab");
    QTest::keyClick(name, Qt::Key_Return);
    other->setFocus(Qt::MouseFocusReason);
    w.notes = w.notes.filter("Edit");
    EXPECT_EQ(w.notes,
              (QStringList{"setfocus:nameEdit", "textchanged:nameEdit", "textchanged:nameEdit",
                           "return:nameEdit", "killfocus:nameEdit", "setfocus:otherEdit"}));

    w.notes.clear();
    auto* combo = w.FindControl<QComboBox>("pickCombo");
    combo->addItems({"a", "b"});
    combo->setCurrentIndex(0);
    EXPECT_TRUE(w.notes.isEmpty()) << "a change made by the code is no user selection";
    // A user's choice in the drop-down list.
    emit combo->activated(1);
    EXPECT_TRUE(w.notes.contains("itemselect:pickCombo"));
}

TEST_F(WindowBaseTest, DraggingTheCaptionAreaMovesTheWindow) {
    ProbeWindow w;
    ASSERT_EQ(w.Create(), 0);
    w.move(100, 100);
    ShowActive(&w);
    QWidget* caption = w.FindControl<QWidget>("probeRoot");
    w.SetCaptionArea(caption);
    const QPoint start = w.pos();
    auto send = [&](QEvent::Type type, QPoint global, Qt::MouseButton button,
                    Qt::MouseButtons held) {
        QMouseEvent event(type, caption->mapFromGlobal(global), global, button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(caption, &event);
    };
    const QPoint grip = caption->mapToGlobal(QPoint(5, 5));
    send(QEvent::MouseButtonPress, grip, Qt::LeftButton, Qt::LeftButton);
    send(QEvent::MouseMove, grip + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
    send(QEvent::MouseButtonRelease, grip + QPoint(30, 20), Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(w.pos(), start + QPoint(30, 20));
    // Moving after the release, or with the right button, leaves it where it is.
    send(QEvent::MouseMove, grip + QPoint(90, 90), Qt::NoButton, Qt::NoButton);
    send(QEvent::MouseButtonPress, grip, Qt::RightButton, Qt::RightButton);
    send(QEvent::MouseMove, grip + QPoint(60, 60), Qt::NoButton, Qt::RightButton);
    EXPECT_EQ(w.pos(), start + QPoint(30, 20));
}

TEST_F(WindowBaseTest, LayoutsCanDeclareTheCircleGauge) {
    ProbeWindow w;
    ASSERT_EQ(w.Create(), 0);
    QWidget* gauge = w.FindControl<QWidget>("gauge");
    ASSERT_NE(gauge, nullptr);
    EXPECT_STREQ(gauge->metaObject()->className(), "CCircleProgressUI");
}

TEST_F(WindowBaseTest, MissingOrMistypedControlIsLoggedAndReported) {
    QStringList reported;
    SetMissingControlHandler(
        [&](const QString& layout, const QString& name) { reported << layout + "/" + name; });
    ProbeWindow w;
    ASSERT_EQ(w.Create(), 0);
    EXPECT_EQ(w.FindControl<QPushButton>("noSuchBtn"), nullptr);
    EXPECT_EQ(w.FindControl<QLineEdit>("okBtn"), nullptr) << "wrong type counts as missing";
    EXPECT_NE(w.FindControl<QPushButton>("okBtn"), nullptr);
    SetMissingControlHandler([](const QString& layout, const QString& name) {
        ADD_FAILURE() << "layout " << layout.toStdString() << " lacks control "
                      << name.toStdString();
    });
    EXPECT_EQ(reported, (QStringList{"probe.ui/noSuchBtn", "probe.ui/okBtn"}));
    std::string log = app_.Log();
    EXPECT_NE(log.find("control not found: noSuchBtn (QPushButton) in probe.ui"),
              std::string::npos);
}

TEST_F(WindowBaseTest, MissingLayoutFailsCreate) {
    ProbeWindow w("absent.ui");
    EXPECT_EQ(w.Create(), -1);
    EXPECT_NE(app_.Log().find("load layout failed"), std::string::npos);
}

TEST_F(WindowBaseTest, ModalShowReturnsTheCloseResult) {
    ProbeWindow w;
    ASSERT_EQ(w.Create(), 0);
    QTimer::singleShot(0, &w, [&] {
        EXPECT_TRUE(w.isVisible());
        w.Close(7);
    });
    EXPECT_EQ(w.ShowModal(), 7);
    EXPECT_FALSE(w.isVisible());

    // The system close command ends a modal run too (with the default result).
    QTimer::singleShot(0, &w, [&] { w.close(); });
    EXPECT_EQ(w.ShowModal(), 1);
}

TEST_F(WindowBaseTest, WorkerMessagesArriveOnTheUiThreadUntilTheWindowIsGone) {
    AppWindow handle;
    {
        ProbeWindow w;
        ASSERT_EQ(w.Create(), 0);
        handle = w.handle();
        std::thread worker([handle] {
            EXPECT_TRUE(PostAppMessageText(handle, WM_LOGIN_RESULT, 1, L"13800000000"));
        });
        worker.join();
        EXPECT_TRUE(w.messages.empty()) << "delivered only through the event loop";
        QCoreApplication::processEvents();
        ASSERT_EQ(w.messages.size(), 1u);
        EXPECT_EQ(w.messages[0].id, static_cast<unsigned>(WM_LOGIN_RESULT));
        EXPECT_EQ(w.messages[0].text, L"13800000000");
    }
    EXPECT_FALSE(PostAppMessage(handle, WM_LOGIN_RESULT, 1));
}

TEST_F(WindowBaseTest, HidingMinimisesWhenTheDesktopHasNoTray) {
    ProbeWindow w;
    ASSERT_EQ(w.Create(), 0);
    w.show();
    // The offscreen desktop has no tray: the real answer, no override.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_FALSE(TrayAvailable());
    w.HideWindow();
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.isMinimized());

    w.ShowAndBringToFront();
    EXPECT_FALSE(w.isMinimized());
    EXPECT_TRUE(w.isVisible());

    SetTrayAvailableOverride(true);
    w.HideWindow();
    EXPECT_FALSE(w.isVisible());
    w.ShowAndBringToFront();
    EXPECT_TRUE(w.isVisible());
}

TEST_F(WindowBaseTest, TrayClicksReachTheOwnerAsNumberedMessages) {
    ProbeWindow w;
    ASSERT_EQ(w.Create(), 0);
    TrayIcon icon(w.handle(), WM_TRAY_NOTIFY, QIcon(), QStringLiteral("Talvora财税管家"));
    auto* shell = icon.findChild<QSystemTrayIcon*>();
    ASSERT_NE(shell, nullptr);
    EXPECT_EQ(shell->toolTip(), QStringLiteral("Talvora财税管家"));
    emit shell->activated(QSystemTrayIcon::Context);
    emit shell->activated(QSystemTrayIcon::Trigger);
    emit shell->activated(QSystemTrayIcon::MiddleClick);  // not passed on
    QCoreApplication::processEvents();
    ASSERT_EQ(w.messages.size(), 2u);
    EXPECT_EQ(w.messages[0].id, static_cast<unsigned>(WM_TRAY_NOTIFY));
    EXPECT_EQ(w.messages[0].lParam, kTrayRightButtonDown);
    EXPECT_EQ(w.messages[1].lParam, kTrayLeftButtonUp);
}

TEST_F(WindowBaseTest, TrayIconIsNotShownWithoutATray) {
    TrayIcon icon(0, WM_TRAY_NOTIFY, QIcon(), QStringLiteral("Talvora财税管家"));
    EXPECT_FALSE(icon.Add());
    EXPECT_FALSE(icon.IsShown());
    EXPECT_NE(app_.Log().find("no system tray"), std::string::npos);
}

namespace {

// Acts on the pop-up menu once it is open (the menu runs its own event loop).
void WhenMenuOpens(std::function<void(QMenu*)> action) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        QMenu* menu = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && qobject_cast<QMenu*>(w)) menu = qobject_cast<QMenu*>(w);
        }
        if (!menu) return;
        timer->stop();
        timer->deleteLater();
        action(menu);
    });
    timer->start(5);
}

}  // namespace

TEST_F(WindowBaseTest, PopupMenuReturnsTheChosenId) {
    QStringList texts;
    WhenMenuOpens([&](QMenu* menu) {
        for (QAction* a : menu->actions()) texts << a->text();
        menu->setActiveAction(menu->actions().last());
        QTest::keyClick(menu, Qt::Key_Return);
    });
    EXPECT_EQ(TrackPopupMenu({{1124, QStringLiteral("显示")}, {1125, QStringLiteral("退出")}},
                             QPoint(10, 10)),
              1125);
    EXPECT_EQ(texts, (QStringList{QStringLiteral("显示"), QStringLiteral("退出")}));

    WhenMenuOpens([](QMenu* menu) { QTest::keyClick(menu, Qt::Key_Escape); });
    EXPECT_EQ(TrackPopupMenu({{1125, QStringLiteral("退出")}}, QPoint(10, 10)), 0);
}
