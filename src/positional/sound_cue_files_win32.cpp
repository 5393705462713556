// The cue files' relative paths on Windows: single backslashes.
#include "positional/sound_cues.h"

namespace sorlinx {

const char* const SON_RC = "plugins\\sorlinx\\rc.wav";
const char* const SON_RL = "plugins\\sorlinx\\rl.wav";
const char* const SON_BRUIT = "plugins\\sorlinx\\bruit.wav";

}  // namespace sorlinx
