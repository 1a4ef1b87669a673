#include "ui/ui_heartbeat.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "core/local_settings.h"
#include "core/log.h"

namespace {

constexpr long long kLoggedBlockMs = 50;

struct Heartbeat {
    QTimer timer;
    QElapsedTimer sinceBeat;
    long long periodMs = 0;
    long long longestMs = 0;
};

Heartbeat* g_heartbeat = nullptr;

}  // namespace

void StartUiHeartbeat() {
    const long long period = LocalSettingInt("uiHeartbeatMs", 0);
    if (g_heartbeat || period < 1 || period > 1000) return;
    g_heartbeat = new Heartbeat();
    g_heartbeat->periodMs = period;
    g_heartbeat->timer.setTimerType(Qt::PreciseTimer);
    g_heartbeat->timer.setInterval(static_cast<int>(period));
    QObject::connect(&g_heartbeat->timer, &QTimer::timeout, [] {
        Heartbeat* h = g_heartbeat;
        const long long blocked = h->sinceBeat.restart() - h->periodMs;
        if (blocked > h->longestMs) h->longestMs = blocked;
        if (blocked > kLoggedBlockMs) WriteLog("ui thread blocked %lld ms\r\n", blocked);
    });
    // Gone with the application, before the event loop's objects are.
    QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [] {
        delete g_heartbeat;
        g_heartbeat = nullptr;
    });
    g_heartbeat->sinceBeat.start();
    g_heartbeat->timer.start();
}

long long TakeLongestUiBlockMs() {
    if (!g_heartbeat) return -1;
    const long long longest = g_heartbeat->longestMs;
    g_heartbeat->longestMs = 0;
    return longest;
}
