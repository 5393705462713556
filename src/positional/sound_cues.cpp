#include "positional/sound_cues.h"

#include <cstring>
#include <mutex>
#include <string_view>

#include "shared/plugin_state.h"

namespace sorlinx {

namespace {

constexpr std::string_view CUE_FOLDER = "sorlinx";

CuePaths relativePaths() { return {SON_RC, SON_RL, SON_BRUIT}; }

// The file's name: what follows the last separator of its relative path.
std::string_view fileName(std::string_view relativePath) {
  return relativePath.substr(relativePath.find_last_of("\\/") + 1);
}

// Writes folder, separator, "sorlinx", separator, the file's name and a terminator into
// `path`; false, leaving `path` untouched, when that does not fit.
bool joinCuePath(std::array<char, CUE_PATH_SIZE>& path, std::string_view folder,
                 std::string_view name) {
  const char separator = folder.find('\\') != std::string_view::npos ? '\\' : '/';
  const bool ends = folder.back() == '\\' || folder.back() == '/';
  const std::size_t length = folder.size() + (ends ? 0 : 1) + CUE_FOLDER.size() + 1 + name.size();
  if (length >= path.size()) {
    return false;
  }
  char* end = std::copy(folder.begin(), folder.end(), path.data());
  if (!ends) {
    *end++ = separator;
  }
  end = std::copy(CUE_FOLDER.begin(), CUE_FOLDER.end(), end);
  *end++ = separator;
  end = std::copy(name.begin(), name.end(), end);
  *end = '\0';
  return true;
}

void playCue(const char* path, std::string_view failureText) {
  if (pluginState.host.playWaveFile(pluginState.currentServerConnection.load(), path) != 0) {
    logError(failureText);
  }
}

}  // namespace

CuePaths CueFiles::paths() noexcept {
  switch (stage_) {
    case Stage::full:
      return {rc_.data(), rl_.data(), bruit_.data()};
    case Stage::relative:
      return relativePaths();
    case Stage::waiting:
      break;
  }
  const auto pluginFolder = pluginState.host.pluginFolder;
  if (pluginFolder == nullptr) {
    stage_ = Stage::relative;
    return relativePaths();
  }
  std::array<char, CUE_PATH_SIZE> folder{};
  if (!pluginFolder(folder.data(), folder.size())) {
    if (!waitLogged_) {
      logError("erreur getPluginPath: aucun ID");
      waitLogged_ = true;
    }
    return relativePaths();
  }
  folder.back() = '\0';
  const std::string_view folderText(folder.data(), std::strlen(folder.data()));
  // A folder that fills its buffer may have lost its end: a path under it would be wrong.
  if (folderText.empty() || folderText.size() == folder.size() - 1 ||
      !joinCuePath(rc_, folderText, fileName(SON_RC)) ||
      !joinCuePath(rl_, folderText, fileName(SON_RL)) ||
      !joinCuePath(bruit_, folderText, fileName(SON_BRUIT))) {
    logError(folderText.empty() ? "erreur getPluginPath: dossier vide"
                                : "erreur getPluginPath: chemin trop long");
    stage_ = Stage::relative;
    return relativePaths();
  }
  stage_ = Stage::full;
  return {rc_.data(), rl_.data(), bruit_.data()};
}

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
    state.rcCueStarted = false;
    state.rlCueStarted = false;
    state.cueing = false;
    return CUE_IDLE_PAUSE;
  }
  state.cueing = true;
  const CuePaths files = state.files.paths();
  if (rcCount != 0 && !state.rcCueStarted) {
    playCue(files.rc, "erreur SON_RC");
    state.rcCueStarted = true;
    pacer.pause(START_CUE_GAP);
  }
  if (rlCount != 0 && !state.rlCueStarted) {
    playCue(files.rl, "erreur SON_RL");
    state.rlCueStarted = true;
    pacer.pause(START_CUE_GAP);
  }
  playCue(files.bruit, "erreur SON_BRUIT");
  // A list found empty while the other keeps the cues going gets its start cue again
  // when it fills.
  state.rcCueStarted = state.rcCueStarted && rcCount != 0;
  state.rlCueStarted = state.rlCueStarted && rlCount != 0;
  return NOISE_CUE_PERIOD;
}

}  // namespace sorlinx
