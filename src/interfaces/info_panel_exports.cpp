// The info panel's exports, which the voice clients of interfaces 19 to 26 look for (and
// interface 4's do not): linked into the interface-26 libraries only.
//
// All three are called on the voice client's GUI thread. infoData hands out a text that the
// plugin allocated for that call; the voice client gives it back through freeMemory, which
// frees only what infoData handed out.
#include <cstdint>

#include "plugin/exports.h"
#include "plugin/info_panel.h"

extern "C" {

SORLINX_EXPORT const char* ts3plugin_infoTitle();
SORLINX_EXPORT void ts3plugin_infoData(std::uint64_t serverConnection, std::uint64_t id, int type,
                                       char** data);
SORLINX_EXPORT void ts3plugin_freeMemory(void* data);

const char* ts3plugin_infoTitle() { return sorlinx::INFO_PANEL_TITLE; }

void ts3plugin_infoData(std::uint64_t serverConnection, std::uint64_t id, int type, char** data) {
  if (data != nullptr) {
    *data = sorlinx::infoPanelText(serverConnection, id, type);
  }
}

void ts3plugin_freeMemory(void* data) { sorlinx::freeInfoPanelText(data); }

}  // extern "C"
