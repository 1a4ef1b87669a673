// The self-closing notice: an ownerless information box titled "Talvora提示" that
// closes by itself after a while. One thread shows it; a second one waits, then asks
// every box of that title to close.
#pragma once

#include <cstddef>
#include <string>

// Shows `text` and returns at once; the box is asked to close after `milliseconds`.
void ShowSelfClosingNotice(const std::wstring& text, unsigned milliseconds);

// Cuts the waits of running notices short and joins their threads (shutdown). On the
// UI thread their boxes are given up, so this cannot wait for one.
void WaitSelfClosingNotices();

// Threads of notices not yet joined: those still running, and finished ones until the
// next notice starts.
size_t SelfClosingNoticeThreads();
