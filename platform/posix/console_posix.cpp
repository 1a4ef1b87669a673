#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include "platform/console.h"

namespace {

void (*g_onStop)() = nullptr;

extern "C" void OnStopSignal(int) {
    if (g_onStop) g_onStop();
}

}  // namespace

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

bool StdoutIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

bool SetStdinEcho(bool on) {
    termios mode{};
    if (tcgetattr(STDIN_FILENO, &mode) != 0) return false;
    if (on) {
        mode.c_lflag |= ECHO;
    } else {
        mode.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    }
    return tcsetattr(STDIN_FILENO, TCSAFLUSH, &mode) == 0;
}

void CatchConsoleStop(void (*onStop)()) {
    g_onStop = onStop;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

void WriteStderrRaw(const char* text, size_t size) {
    ssize_t ignored = write(STDERR_FILENO, text, size);
    (void)ignored;
}
