// The UI heartbeat: off without its setting; with it, a UI thread held up for a while
// shows as the longest block and as a log line.
#include <gtest/gtest.h>

#include <QTest>
#include <chrono>
#include <thread>

#include "core/local_settings.h"
#include "tests/support/test_support.h"
#include "ui/ui_heartbeat.h"

TEST(UiHeartbeat, MeasuresHowLongTheUiThreadWasHeldUp) {
    testsupport::ScopedAppDir app;
    ReloadLocalSettings();
    StartUiHeartbeat();
    EXPECT_EQ(TakeLongestUiBlockMs(), -1);

    ASSERT_TRUE(testsupport::WriteFile(app / "settings.json", "{\"uiHeartbeatMs\":10}"));
    ReloadLocalSettings();
    StartUiHeartbeat();
    QTest::qWait(100);
    TakeLongestUiBlockMs();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    QTest::qWait(50);
    const long long blocked = TakeLongestUiBlockMs();
    EXPECT_GE(blocked, 250);
    EXPECT_LT(blocked, 5000);
    EXPECT_NE(app.Log().find("ui thread blocked "), std::string::npos) << app.Log();
    // Taken: the next stretch starts from nothing.
    QTest::qWait(50);
    EXPECT_LT(TakeLongestUiBlockMs(), blocked);
    std::remove((app / "settings.json").c_str());
    ReloadLocalSettings();
}
