// Message boxes that any thread may ask for. The toolkit layer installs the handler
// that shows them on the UI thread; a worker that asks waits for the answer.
//
// A worker waiting for a box needs the UI thread, so the UI thread must never block on
// such a worker with a plain join: it joins workers with JoinWorker, which answers
// their boxes with the no-change answer while it waits. Without a handler (no display,
// or after the event loop has ended) every box gets that answer at once.
#pragma once

#include <functional>
#include <string>
#include <thread>
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

// Runs a task on the UI thread later (queued behind the events already waiting).
using UiThreadPoster = std::function<void(std::function<void()> task)>;

int AppMessageBox(AppWindow owner, const std::wstring& text, const std::wstring& title,
                  unsigned flags);
// Installed on the UI thread, which the handler then always runs on. Removing it
// (nullptr) gives every waiting worker the no-change answer.
void SetMessageBoxHandler(MessageBoxHandler handler, UiThreadPoster poster = nullptr);
// The answer that changes nothing for a set of flags: OK, No or Cancel.
int NoChangeAnswer(unsigned flags);

// Joins a worker thread. On the UI thread, boxes that workers ask for until the join
// returns are not shown and get the no-change answer, so the join cannot deadlock.
void JoinWorker(std::thread& worker);

// Asks every box on show with `title` to close, as the window's close command does
// (its caller gets the no-change answer). From any thread; the request runs on the UI
// thread. Nothing happens without a closer.
void CloseMessageBoxes(const std::wstring& title);
// Installed with the handler by the toolkit: closes the boxes titled `title` (UI thread).
using MessageBoxCloser = std::function<void(const std::wstring& title)>;
void SetMessageBoxCloser(MessageBoxCloser closer);

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
