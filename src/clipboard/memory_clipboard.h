// Controls of the in-memory clipboard, for the programs built with it (tests, simulator).
// They act as the other programs on a real desktop would: putting text on the clipboard,
// holding it open, emptying it. All of them are safe to call from any thread.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace sorlinx::memory_clipboard {

// Puts `text` on the clipboard as another program would; the change counter moves.
void setText(std::string_view text);
// Empties the clipboard: it holds no text; the change counter moves.
void clear();
// The clipboard's text, or nothing when it holds none.
std::optional<std::string> text();
// While held, opening the clipboard fails, as when another program keeps it open.
void setHeld(bool held);
// The next `count` attempts to open the clipboard fail (reads and writes alike).
void failNextOpens(int count);
// The next `count` writes through clipboard::writeText fail to open the clipboard.
void failNextWrites(int count);
// The next `count` writes that open the clipboard empty it and are then refused, as when
// the clipboard will not take the text over.
void refuseNextWritesAfterEmptying(int count);
// While on, reading the clipboard fails for lack of memory (std::bad_alloc), as copying a
// text too large for the process does.
void setReadsOutOfMemory(bool outOfMemory);
// Whether the change counter is reported; when off, changeCount() answers 0 (unknown),
// as some platforms do.
void setChangeCountSupported(bool supported);
// Writes made through clipboard::writeText since the last reset.
std::uint64_t writeCount();
// Reads made through clipboard::readText (successful or not) since the last reset.
std::uint64_t readCount();
// Calls of clipboard::changeCount since the last reset: one per clipboard pass, and one
// before each try to write a reply.
std::uint64_t counterLookCount();
// Runs after every successful clipboard::writeText, with the text written, on the writing
// thread (the plugin's replies). Nothing to stop observing.
void setWriteObserver(std::function<void(std::string_view)> observer);
// Runs after every successful clipboard::readText, with the text read, on the reading
// thread (the plugin's clipboard worker, before it takes the text).
void setReadObserver(std::function<void(std::string_view)> observer);
// Runs after every change of the clipboard's contents (other programs' and the plugin's
// own, a write refused after emptying it included), on the changing thread, outside the
// clipboard's lock. The worker listening (clipboard::listenForChanges) hears of each at
// once; the simulator uses this to deliver the notice after a delay of its own.
void setChangeObserver(std::function<void()> observer);
// Back to the start: no text, not held, reads not out of memory, counters at zero, change
// counter supported, no observers, no notice waiting.
void reset();

}  // namespace sorlinx::memory_clipboard
