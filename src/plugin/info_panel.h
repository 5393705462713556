// The plugin's section of the voice client's info panel (interfaces 19 to 26): what the
// player sees when they select their server, their own client or another client, so that
// they can tell a plugin that runs and hears the game from one that does not.
//
// The text is built on the voice client's GUI thread from what the workers publish on the
// info board (shared/info_board.h), never from their own state: it never waits for a
// worker, holds no lock while it calls the voice client, and the workers allocate nothing
// for it. Each text is a block of its own, which the voice client hands back through
// ts3plugin_freeMemory. Times are told as ages on the pacer's clock ("2.5 s ago").
#pragma once

#include <cstdint>
#include <string>

#include "shared/host.h"
#include "shared/info_board.h"
#include "shared/pacer.h"

namespace sorlinx {

// The section's heading (ts3plugin_infoTitle): the name the voice client lists the plugin by.
extern const char* const INFO_PANEL_TITLE;

// How often, at most, the clipboard worker asks the voice client to show the panel afresh.
inline constexpr Milliseconds INFO_REFRESH_PERIOD{1000};

// ts3plugin_infoData: the text for the item of `type` (INFO_ITEM_SERVER, INFO_ITEM_CHANNEL,
// INFO_ITEM_CLIENT) and `id` (a client's ID in its low 16 bits) on `connection`,
// zero-terminated plain text with BBCode, in a block of its own to be freed with
// freeInfoPanelText; null for a channel, of which the plugin knows nothing, and when the
// text cannot be made (out of memory). The server and the local client get the same text:
// whether and when the game talked to the plugin, the last frame, the radio lists, the last
// stale-frame reset and the last failure. Another client gets where the game last placed it
// and its radio list.
char* infoPanelText(ServerConnectionId connection, std::uint64_t id, int type) noexcept;

// ts3plugin_freeMemory: frees a text infoPanelText handed out; null is ignored.
void freeInfoPanelText(void* text) noexcept;

// Part of every clipboard pass: when requests came since the panel was last refreshed and
// the last refresh is INFO_REFRESH_PERIOD old, asks the voice client to show the server's
// section afresh, and the local client's once the panel has shown it (the voice client
// redraws them if they are on show). So it asks at most once a period while the game talks,
// the last time within a period of the game's last request, and never while the game is
// silent. Does nothing where the interface has no info panel.
void refreshInfoPanel(PanelRefresh& refresh);

// An age in words: "0.4 s", "12 s", "3 min 5 s", "2 h 5 min".
std::string formatAge(Milliseconds age);

}  // namespace sorlinx
