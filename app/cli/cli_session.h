// talvora-cli's side of the program's conversations: the sign-in, the answers to the
// jobs' questions, and message boxes turned into lines on standard error.
#pragma once

#include <string>

#include "app/cli/cli_options.h"
#include "backup/job_choice.h"

// Signs in with --account and its password, or with the account the program remembers.
// kExitOk, kExitUsage (no way to get the password) or kExitSignIn.
int CliSignIn(const CliOptions& options);

// Message boxes asked for by the jobs and the service calls: printed to standard error,
// answered with the answer that changes nothing.
void InstallStderrMessageBoxes();

// Answers from --overwrite; "ask" asks on the terminal (standard input is one).
class CliQuestions : public JobQuestions {
public:
    explicit CliQuestions(Overwrite mode) : mode_(mode) {}
    int Choose(const BackupRecord& cloud, const BackupRecord& local, const std::wstring& caption,
               bool* remember) override;
    bool ConfirmVersion(const BackupRecord& cloud, const std::wstring& text) override;

private:
    Overwrite mode_;
};
