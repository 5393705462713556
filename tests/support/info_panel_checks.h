// The info panel seen end to end, the same way by the program that loads a shipped
// interface-26 DLL under wine and by the one that loads the Linux library: the texts as the
// voice client asks for them and hands them back, the refreshes the plugin asks for while
// the game talks, and the panel answering while the clipboard worker is held up.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shared/host.h"
#include "voice_client.h"

namespace sorlinx::testing {

// The info panel's exports, as the voice client sees them.
struct InfoPanelExports {
  const char*(SORLINX_CDECL* infoTitle)();
  void(SORLINX_CDECL* infoData)(std::uint64_t connection, std::uint64_t id, int type, char** data);
  void(SORLINX_CDECL* freeMemory)(void* data);
};

// What the plugin's heap did on the calling thread while it was logged: the blocks its C
// runtime handed out and those it took back. Each end-to-end program watches the plugin's
// heap its own way and defines these two.
struct HeapLog {
  std::vector<const void*> allocated;
  std::vector<const void*> freed;
};
void startHeapLog();
HeapLog takeHeapLog();

// The text the voice client would show for the item, asked for as it asks (infoData, then
// freeMemory); nothing for null. Checks that the text is a block allocated for that call,
// that the call leaves nothing else behind, and that freeMemory frees that block and only
// it.
std::optional<std::string> infoText(const InfoPanelExports& panel, std::uint64_t connection,
                                    std::uint64_t id, int type);

// Puts a text on the clipboard, as the game does.
using GameWrite = std::function<void(const std::string& text)>;

// The plugin started on connection 1, local client 5 "me" and client 8 "mate" in channel
// 40, no request yet. The panel before any request; then frames every 100 ms for three
// seconds with client 8 on the RC list, and the panel after them; then silence through the
// stale-frame reset, and the panel after it. Meanwhile the plugin asks the voice client to
// refresh the server's and the own client's section at most once a second, and never once
// the game is silent.
void checkThePanelFollowsTheGame(const InfoPanelExports& panel, sim::VoiceClient& host,
                                 const GameWrite& write);

// The plugin started with an identity, and told by `reportStatus` (its status callback):
// a ConnectToServer whose disconnection does not come holds the clipboard worker in its
// wait for five seconds; the panel answers meanwhile, at once, and names the request.
void checkThePanelAnswersDuringAConnectionsWait(const InfoPanelExports& panel,
                                                const GameWrite& write,
                                                const std::function<void(int)>& reportStatus);

}  // namespace sorlinx::testing
