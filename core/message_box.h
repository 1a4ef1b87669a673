// Message boxes that any thread may ask for. The toolkit layer installs the handler
// that shows them on the UI thread; the caller waits for the answer.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/app_message.h"

// Button and icon flags and answers with the Windows values.
enum : unsigned {
    kMbOk = 0x0,
    kMbOkCancel = 0x1,
    kMbYesNo = 0x4,
    kMbIconError = 0x10,
    kMbIconQuestion = 0x20,
    kMbIconWarning = 0x30,
    kMbIconInfo = 0x40,
};
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

extern const wchar_t kAppTitle[];     // "Talvora财税管家"
extern const wchar_t kNoticeTitle[];  // "Talvora提示"

using MessageBoxHandler = std::function<int(AppWindow owner, const std::wstring& text,
                                            const std::wstring& title, unsigned flags)>;

int AppMessageBox(AppWindow owner, const std::wstring& text, const std::wstring& title,
                  unsigned flags);
void SetMessageBoxHandler(MessageBoxHandler handler);

// Test seam: the next box is not shown and returns `answer`.
void SetNextMessageBoxAnswer(int answer);
struct ShownMessageBox {
    AppWindow owner;
    std::wstring text;
    std::wstring title;
    unsigned flags;
};
// Every box asked for since the last call, oldest first.
std::vector<ShownMessageBox> TakeShownMessageBoxes();
