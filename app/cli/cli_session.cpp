#include "app/cli/cli_session.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "account/sign_in.h"
#include "core/message_box.h"
#include "core/settings.h"
#include "core/text.h"
#include "platform/console.h"

namespace {

std::string Ansi(const std::wstring& text) {
    std::string out = WideToAnsi(text);
    for (char& c : out)
        if (c == '\n' || c == '\r') c = ' ';
    return out;
}

bool ReadLine(std::string* line) {
    if (!std::getline(std::cin, *line)) return false;
    while (!line->empty() && (line->back() == '\r' || line->back() == '\n')) line->pop_back();
    return true;
}

// Asks on the terminal without echoing what is typed.
bool PromptPassword(std::string* password) {
    fputs("Password: ", stderr);
    fflush(stderr);
    const bool quiet = SetStdinEcho(false);
    const bool ok = ReadLine(password);
    if (quiet) SetStdinEcho(true);
    fputc('\n', stderr);
    return ok;
}

std::string Describe(const char* side, const BackupRecord& r) {
    char size[32];
    snprintf(size, sizeof(size), "%.2fMB", r.fileSize / 1048576.0);
    return std::string(side) + ": " + r.fileName + "  data time " + r.fileTime + "  " + size +
           "  " + r.typeStrEn + "  version " + r.appVer;
}

}  // namespace

int CliSignIn(const CliOptions& options) {
    if (!options.account.empty()) {
        std::string password;
        const char* env = std::getenv("TALVORA_PASSWORD");
        if (options.passwordStdin) {
            if (!ReadLine(&password)) {
                fprintf(stderr, "talvora-cli: no password on standard input\n");
                return kExitUsage;
            }
        } else if (env) {
            password = env;
        } else if (StdinIsTerminal()) {
            if (!PromptPassword(&password)) return kExitUsage;
        } else {
            fprintf(stderr,
                    "talvora-cli: no password: set TALVORA_PASSWORD or use --password-stdin\n");
            return kExitUsage;
        }
        std::lock_guard<std::mutex> guard(g_config->mutex);
        g_config->account = AnsiToWide(options.account);
        g_config->password = AnsiToWide(password);
        g_config->role = options.member ? 1 : 0;
    } else {
        RestoreConfig();
        std::lock_guard<std::mutex> guard(g_config->mutex);
        if (g_config->account.empty() && !g_config->usList.empty()) {
            g_config->account = g_config->usList.front().us;
            g_config->password = g_config->usList.front().pw;
        }
        if (g_config->account.empty()) {
            fprintf(stderr,
                    "talvora-cli: no remembered account: sign in once in the program with the "
                    "password remembered, or use --account\n");
            return kExitSignIn;
        }
    }
    std::string access, refresh;
    const int rc = RequestToken(access, refresh);
    if (rc != 0) {
        fprintf(stderr, "talvora-cli: sign-in failed (%d)\n", rc);
        return kExitSignIn;
    }
    std::lock_guard<std::mutex> guard(g_config->mutex);
    g_config->signedIn = true;
    return kExitOk;
}

void InstallStderrMessageBoxes() {
    SetMessageBoxHandler(
        [](AppWindow, const std::wstring& text, const std::wstring& title, unsigned flags) {
            fprintf(stderr, "%s: %s\n", Ansi(title).c_str(), Ansi(text).c_str());
            fflush(stderr);
            return NoChangeAnswer(flags);
        });
}

int CliQuestions::Choose(const BackupRecord& cloud, const BackupRecord& local,
                         const std::wstring& caption, bool* remember) {
    *remember = false;
    switch (mode_) {
        case Overwrite::kSkip:
            return kChoiceCancel;
        case Overwrite::kCloud:
            return kChoiceCloud;
        case Overwrite::kLocal:
            return kChoiceLocal;
        case Overwrite::kAsk:
            break;
    }
    fprintf(stderr, "%s\n  %s\n  %s\n", Ansi(caption).c_str(), Describe("local", local).c_str(),
            Describe("cloud", cloud).c_str());
    for (;;) {
        fputs("keep [l]ocal, keep [c]loud or [s]kip? (L or C: the same for the rest) ", stderr);
        fflush(stderr);
        std::string answer;
        if (!ReadLine(&answer)) return kChoiceClosed;
        if (answer == "l" || answer == "L" || answer == "c" || answer == "C") {
            *remember = answer == "L" || answer == "C";
            return (answer == "l" || answer == "L") ? kChoiceLocal : kChoiceCloud;
        }
        if (answer == "s" || answer == "S") return kChoiceCancel;
    }
}

bool CliQuestions::ConfirmVersion(const BackupRecord&, const std::wstring& text) {
    if (mode_ == Overwrite::kCloud) return true;
    if (mode_ != Overwrite::kAsk) return false;
    fprintf(stderr, "%s\n", WideToAnsi(text).c_str());
    for (;;) {
        fputs("[y]es or [n]o? ", stderr);
        fflush(stderr);
        std::string answer;
        if (!ReadLine(&answer)) return false;
        if (answer == "y" || answer == "Y") return true;
        if (answer == "n" || answer == "N") return false;
    }
}
