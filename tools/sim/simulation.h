// Runs a session: the plugin's own code against the simulated voice client, and checks the
// session's expectations against what it did.
//
// On the virtual clock (the default) the clipboard passes and the cue passes are run in
// order at their due times, without threads: two runs of a session print the same
// timeline, and a minute of session takes a blink. In real time the plugin is started
// through its exports, with its own threads, and the session plays at wall-clock speed, in
// step with the same schedule (see real_time.h): a session that passes on one clock passes
// on the other. Live, the plugin runs in real time on the real clipboard, where a game
// writes its requests, until it is told to stop.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "real_time.h"
#include "session.h"
#include "timeline.h"
#include "voice_client.h"

namespace sorlinx::sim {

struct Options {
  bool realtime = false;
  // The plugin interface the simulated voice client speaks: 26, as the clients players
  // run today (3.6 and later), or 4, as the clients of that era.
  int pluginInterface = 26;
  // Run at least this long, past the session's last step. Live: stop then (0: never).
  Milliseconds until{0};
  // Real time on the real clipboard (live_platform.h), until stopped. The session then
  // only sets up the world: the game writes on the clipboard.
  bool live = false;
  // Live: every event, as it is recorded (from the plugin's threads, one at a time).
  std::function<void(const Event&)> onEvent;
  // Real time and live: the clock, once the session starts; its requestStop() ends it.
  std::function<void(RealTime&)> onStart;
};

struct Outcome {
  // Every event in time order, expectations included.
  std::vector<Event> events;
  int expectations = 0;
  int failedExpectations = 0;
  // The world at the end, for the map.
  std::vector<ClientInfo> clients;
  ClientId localClient = 0;
  std::vector<ClientId> rcClients;
  std::vector<ClientId> rlClients;
  // Real time and live: how far behind the wall clock the plugin's work ran, at worst.
  std::optional<Milliseconds> behind;
};

// The world a session starts in, before its steps at time 0 change it: connected (status
// 4, connection 1) to a server where the local client 1, "Player", sits in channel 1, and
// an identity in the voice client's secrets file. With interface 26 the voice client also
// hands the plugin an ID and, asked with it, reports as the folder of the installed plugins
// the folder "plugins" inside its configuration folder.
inline constexpr ClientId DEFAULT_LOCAL_CLIENT = 1;
inline constexpr const char* DEFAULT_IDENTITY = "sim-identity";
inline constexpr const char* SIM_PLUGIN_ID = "sim-plugin-id";

Outcome runSession(const std::vector<Step>& steps, const Options& options);

}  // namespace sorlinx::sim
