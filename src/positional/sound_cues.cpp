#include "positional/sound_cues.h"

#include <mutex>
#include <string_view>

#include "plugin/plugin_state.h"

namespace sorlinx {

namespace {

void playCue(const char* path, std::string_view failureText) {
  if (pluginState.hostFunctions.playWaveFile(pluginState.currentServerConnection.load(), path) !=
      0) {
    logError(failureText);
  }
}

}  // namespace

Milliseconds soundCuePass(SoundCueState& state, Pacer& pacer) {
  if (!state.cueing && pluginState.connectionStatus.load() != STATUS_CONNECTION_ESTABLISHED) {
    return CUE_IDLE_PAUSE;
  }
  std::size_t rcCount = 0;
  std::size_t rlCount = 0;
  {
    const std::lock_guard lock(pluginState.stateLock);
    rcCount = pluginState.rcClients.size();
    rlCount = pluginState.rlClients.size();
  }
  if (rcCount == 0 && rlCount == 0) {
    state = SoundCueState{};
    return CUE_IDLE_PAUSE;
  }
  state.cueing = true;
  if (rcCount != 0 && !state.rcCueStarted) {
    playCue(SON_RC, "erreur SON_RC");
    state.rcCueStarted = true;
    pacer.pause(START_CUE_GAP);
  }
  if (rlCount != 0 && !state.rlCueStarted) {
    playCue(SON_RL, "erreur SON_RL");
    state.rlCueStarted = true;
    pacer.pause(START_CUE_GAP);
  }
  playCue(SON_BRUIT, "erreur SON_BRUIT");
  // A list found empty while the other keeps the cues going gets its start cue again
  // when it fills.
  state.rcCueStarted = state.rcCueStarted && rcCount != 0;
  state.rlCueStarted = state.rlCueStarted && rlCount != 0;
  return NOISE_CUE_PERIOD;
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
