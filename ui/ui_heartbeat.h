// A timer on the UI thread that measures how long the thread was kept from it: the
// longest time the windows could not answer. Off unless settings.json sets
// "uiHeartbeatMs" (the period, 1 to 1000); each gap of more than 50 ms beyond the
// period is logged as "ui thread blocked %lld ms".
#pragma once

// Starts the timer when the setting asks for it; call on the UI thread.
void StartUiHeartbeat();
// The longest gap beyond the period since the last call (or the start), in ms; -1 when
// the timer is off.
long long TakeLongestUiBlockMs();
