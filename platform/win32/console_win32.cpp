#include <windows.h>

#include "platform/console.h"

namespace {

void (*g_onStop)() = nullptr;

bool IsConsole(DWORD which) {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}

// Runs on a thread of its own; TRUE keeps the process alive so the running step ends.
BOOL WINAPI OnConsoleControl(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            if (g_onStop) g_onStop();
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

bool StdinIsTerminal() {
    return IsConsole(STD_INPUT_HANDLE);
}

bool StdoutIsTerminal() {
    return IsConsole(STD_OUTPUT_HANDLE);
}

bool SetStdinEcho(bool on) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (!GetConsoleMode(in, &mode)) return false;
    mode = on ? (mode | ENABLE_ECHO_INPUT) : (mode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    return SetConsoleMode(in, mode) != 0;
}

void CatchConsoleStop(void (*onStop)()) {
    g_onStop = onStop;
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void WriteStderrRaw(const char* text, size_t size) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(size), &written, nullptr);
}
