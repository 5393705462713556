// The radio cues. While either radio list is non-empty, soundCueThread has the voice client
// play a start cue for each list that has just filled, then a noise cue that repeats every
// NOISE_CUE_PERIOD for as long as either list stays non-empty. Nothing plays when the lists
// empty again.
//
// The thread only reads the two lists' sizes (under stateLock, and calls the voice client
// only after letting go of it) and never waits for a sound to finish: the voice client
// plays the files on its own.
#pragma once

#include <array>
#include <cstddef>

#include "shared/host.h"
#include "shared/pacer.h"

namespace sorlinx {

// The cue files, relative to the voice client's folder, which resolves them; the build
// puts them in plugins/sorlinx/. Spelt with the separator of the platform built for
// (sound_cue_files_win32.cpp, sound_cue_files_posix.cpp): they reach the voice client as
// they stand. A voice client that can say where it installed the plugin
// (Host::pluginFolder) gets full paths instead, built from these files' names.
extern const char* const SON_RC;
extern const char* const SON_RL;
extern const char* const SON_BRUIT;

// How often the lists are looked at while both are empty or the connection is down.
inline constexpr Milliseconds CUE_IDLE_PAUSE{50};
// The noise cue's period: bruit.wav lasts as long, so that its repeats join up.
inline constexpr Milliseconds NOISE_CUE_PERIOD{818};
// Between a start cue and the next cue of the same pass.
inline constexpr Milliseconds START_CUE_GAP{1};

// Size of a cue file's full path, terminator included.
inline constexpr std::size_t CUE_PATH_SIZE = PATH_BUFFER_SIZE;

struct CuePaths {
  const char* rc;
  const char* rl;
  const char* bruit;
};

// Where the cue files are, settled once per run of soundCueThread.
class CueFiles {
 public:
  // The paths to play now. The first call that learns the plugin folder builds the full
  // paths, once: <folder>\sorlinx\rc.wav and so on (with the folder's own kind of
  // separator, added only when the folder does not end with one). Until the folder is
  // known the relative paths are used, with one log line ("erreur getPluginPath: aucun
  // ID"); a folder that is empty, fills its whole buffer (it may have been cut) or makes a
  // path too long for CUE_PATH_SIZE gives the relative paths for good, with one log line.
  CuePaths paths() noexcept;

 private:
  enum class Stage { waiting, full, relative };
  Stage stage_ = Stage::waiting;
  bool waitLogged_ = false;
  std::array<char, CUE_PATH_SIZE> rc_{};
  std::array<char, CUE_PATH_SIZE> rl_{};
  std::array<char, CUE_PATH_SIZE> bruit_{};
};

// The private state of soundCueThread, fresh each time the thread starts.
struct SoundCueState {
  // A list's start cue has been asked for since that list was last found empty (whether
  // or not the voice client managed to play it).
  bool rcCueStarted = false;
  bool rlCueStarted = false;
  // Cues are running: from a pass that finds a list non-empty to the next pass that finds
  // both empty. Meanwhile the connection status is not looked at, so a lost connection
  // does not cut the cues short.
  bool cueing = false;
  CueFiles files;
};

// One pass of soundCueThread, without the pause that follows it: reads the lists' sizes,
// plays the cues due (pausing START_CUE_GAP through `pacer` after each start cue), and
// returns the pause to take before the next pass: NOISE_CUE_PERIOD while cueing,
// CUE_IDLE_PAUSE otherwise. A cue the voice client fails to play is logged
// ("erreur SON_RC", "erreur SON_RL", "erreur SON_BRUIT") and the pass goes on.
Milliseconds soundCuePass(SoundCueState& state, Pacer& pacer);

}  // namespace sorlinx
