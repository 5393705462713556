#include "plugin/workers.h"

#include "clipboard/clipboard.h"
#include "plugin/dispatcher.h"
#include "plugin/info_panel.h"
#include "positional/sound_cues.h"
#include "shared/plugin_state.h"

namespace sorlinx {

void clipboardPass(ClipboardChannel& channel) {
  readClipboardRequest(channel, dispatchRequest);
  checkStaleFrame(channel.unchangedPasses, channel.requestSeen);
  refreshInfoPanel(channel.panelRefresh);
  trimClipboardBuffers(channel);
}

unsigned long clipboardThread(void* /*unused*/) {
  ClipboardChannel channel;
  while (!pluginState.stopRequested.isSet()) {
    try {
      clipboardPass(channel);
    } catch (...) {
      logError("erreur clipboardThread");
    }
    pluginState.pacer->pause(POLLING_PERIOD);
  }
  clipboard::release();
  return 0;
}

unsigned long soundCueThread(void* /*unused*/) {
  SoundCueState state;
  while (!pluginState.stopRequested.isSet()) {
    Milliseconds pause = CUE_IDLE_PAUSE;
    try {
      pause = soundCuePass(state, *pluginState.pacer);
    } catch (...) {
      logError("erreur soundCueThread");
    }
    pluginState.pacer->pause(pause);
  }
  return 0;
}

}  // namespace sorlinx
