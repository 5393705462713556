#include "plugin/workers.h"

#include <algorithm>
#include <memory>

#include "clipboard/clipboard.h"
#include "plugin/dispatcher.h"
#include "plugin/info_panel.h"
#include "positional/sound_cues.h"
#include "shared/plugin_state.h"

namespace sorlinx {

void clipboardPass(ClipboardChannel& channel, PassKind kind) {
  readClipboardRequest(channel, dispatchRequest, kind);
  checkStaleFrame(channel.unchangedPasses, channel.requestSeen);
  refreshInfoPanel(channel.panelRefresh);
  trimClipboardBuffers(channel);
}

PassKind passKindAt(const ClipboardChannel& channel, Milliseconds now) {
  return now >= channel.nextLook ? PassKind::regular : PassKind::notice;
}

void passEnded(ClipboardChannel& channel, PassKind kind, Milliseconds now) {
  if (kind == PassKind::regular) {
    // From the pass's end, as the pause after each pass always was: a long pass (a
    // connection's wait) is followed by a whole period, not by a burst of catching up.
    channel.nextLook = now + POLLING_PERIOD;
  }
}

std::optional<PassKind> clipboardTurn(ClipboardChannel& channel, PassKind kind,
                                      ChangeNotices* notices) {
  Pacer& pacer = *pluginState.pacer;
  try {
    clipboardPass(channel, kind);
  } catch (...) {
    logError("erreur clipboardThread");
  }
  const Milliseconds now = pacer.now();
  passEnded(channel, kind, now);
  switch (pacer.awaitLook(channel.nextLook - std::min(channel.nextLook, now), notices)) {
    case Wake::stopping:
      return std::nullopt;
    case Wake::due:
      return PassKind::regular;
    case Wake::notice:
      break;
  }
  return passKindAt(channel, pacer.now());
}

unsigned long clipboardThread(void* /*unused*/) {
  ClipboardChannel channel;
  {
    // Made on this thread and gone before it ends: the platform's window (or connection)
    // that hears of changes belongs to the worker.
    // A stop wakes them during a pass too: a pass waiting for a slow owner ends at once.
    const std::unique_ptr<ChangeNotices> notices = clipboard::listenForChanges();
    pluginState.stopRequested.attach(notices.get());
    std::optional<PassKind> kind = PassKind::regular;
    while (kind && !pluginState.stopRequested.isSet()) {
      kind = clipboardTurn(channel, *kind, notices.get());
    }
    pluginState.stopRequested.attach(nullptr);
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
