// The system clipboard, as the clipboard channel needs it: 8-bit text only.
//
// Three implementations, chosen by the build: clipboard_win32.cpp (the Windows clipboard, in
// the shipped DLL), clipboard_x11.cpp (the X11 CLIPBOARD selection, in the shipped Linux
// library) and clipboard_memory.cpp (an in-memory clipboard for tests and the simulator;
// memory_clipboard.h drives it). Only clipboardThread calls these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "shared/pacer.h"

namespace sorlinx::clipboard {

// A counter that moves whenever the clipboard's contents change. 0 means that the platform
// cannot tell, and the caller must read the text to find out.
std::uint64_t changeCount() noexcept;

// The largest text the clipboard channel reads. Where a text is handed over whole before
// it can be looked at (X11: its owner puts it into a property of the reader's window), a
// larger one is refused unread, as too large to copy.
inline constexpr std::size_t MAX_TEXT_SIZE = std::size_t{16} << 20;

// Copies the clipboard's text, up to its first zero byte, into `text`. Returns false and
// leaves `text` as it was when the clipboard cannot be opened (another program holds it),
// holds no text, or (X11) its owner has not answered yet: the question then stands, and a
// later call takes the answer. May throw std::bad_alloc, also for a text too large to copy;
// the clipboard is closed again in every case.
bool readText(std::string& text);

// Replaces the clipboard's contents with `text`. Returns false when the text could not be
// put there. A failed attempt leaves the clipboard as it was, unless the clipboard refused
// the text after it had been emptied for it: it then stays empty, and `emptiedAt` receives
// the change counter as that left it, so that the caller can tell its own change from
// another program's.
bool writeText(std::string_view text, std::uint64_t& emptiedAt) noexcept;

// Starts listening for the platform's notices that the clipboard changed, for the calling
// thread (clipboardThread, when it starts; it drops them when it ends, before release()).
// Null when this platform sends none, or they cannot be had now (logged): the worker then
// only looks every polling period, as it always did.
std::unique_ptr<ChangeNotices> listenForChanges() noexcept;

// Lets go of whatever the platform holds for the clipboard (X11: the connection, its window
// and the text served from it), when clipboardThread ends. The next call starts afresh.
void release() noexcept;

}  // namespace sorlinx::clipboard
