// sorlinx-sim: runs the plugin's own code against a simulated voice client and clipboard,
// and prints what it did. For game authors: see what the plugin makes of your requests,
// and keep them under test with expectations.
//
//   sorlinx-sim                      the built-in session, showing every command
//   sorlinx-sim my-game.session      a session of yours (- reads it from the standard input)
//   sorlinx-sim --map map.svg ...    also draws the clients from above at the end
//   sorlinx-sim --interface 4 ...    a voice client of plugin interface 4 (26 by default)
//   sorlinx-sim --live [--record F]  the plugin on the real clipboard, for a running game
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "default_session.h"
#include "live.h"
#include "session.h"
#include "shared/plugin_state.h"
#include "simulation.h"
#include "svg_map.h"
#include "timeline.h"
#include "version.h"

namespace {

constexpr int EXIT_EXPECTATION_FAILED = 1;
constexpr int EXIT_UNREADABLE = 2;

int usage(const std::string& problem) {
  std::cerr << "sorlinx-sim: " << problem << "\n"
            << "usage: sorlinx-sim [--json] [--map FILE.svg] [--realtime] [--until TIME]\n"
            << "                   [--interface 26|4] [SESSION]\n"
            << "       sorlinx-sim --live [--record FILE] [--json] [--map FILE.svg]\n"
            << "                   [--until TIME] [--interface 26|4] [WORLD-SESSION]\n"
            << "       sorlinx-sim --print-default-session | --version\n"
            << "Runs SESSION (or the built-in session; - reads it from the standard input)\n"
            << "against a simulated voice client and prints the timeline. The voice client\n"
            << "speaks plugin interface 26 (clients 3.6 and later) unless --interface 4 asks\n"
            << "for the clients of that era. Exit code 1 when an expectation fails, 2 when the\n"
            << "session cannot be read. TIME reads as in a session: 2500, 2500ms or 2.5s.\n"
            << "--live runs the plugin on the real clipboard (Windows) for a running game,\n"
            << "until quit, the end of the input or Ctrl+C; --record writes what the game did\n"
            << "as a session that replays it.\n";
  return EXIT_UNREADABLE;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sorlinx::sim;
  bool json = false;
  bool live = false;
  Options options;
  std::string mapFile;
  std::string recordFile;
  std::string sessionFile;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--json") {
      json = true;
    } else if (argument == "--realtime") {
      options.realtime = true;
    } else if (argument == "--live") {
      live = true;
    } else if (argument == "--record" && i + 1 < argc) {
      recordFile = argv[++i];
    } else if (argument == "--map" && i + 1 < argc) {
      mapFile = argv[++i];
    } else if (argument == "--until" && i + 1 < argc) {
      const std::string_view value = argv[++i];
      const auto until = parseTime(value);
      if (!until) {
        return usage("--until takes a time as a session writes it (2500, 2500ms or 2.5s), not \"" +
                     std::string(value) + "\"");
      }
      options.until = *until;
    } else if (argument == "--interface" && i + 1 < argc) {
      const std::string_view value = argv[++i];
      if (value != "26" && value != "4") {
        return usage(
            "--interface takes 26 (clients 3.6 and later) or 4 (the clients of that "
            "era), not \"" +
            std::string(value) + "\"");
      }
      options.pluginInterface = value == "4" ? 4 : 26;
    } else if (argument == "--print-default-session") {
      std::cout << DEFAULT_SESSION;
      return 0;
    } else if (argument == "--version") {
      std::cout << "sorlinx-sim " << SORLINX_VERSION_DOTTED << ", running the plugin "
                << sorlinx::VERSION_TEXT << "\n";
      return 0;
    } else if (argument == "--help" || argument == "-h") {
      usage("runs a session");
      return 0;
    } else if ((argument.starts_with("-") && argument != "-") || !sessionFile.empty()) {
      return usage("unexpected argument " + std::string(argument));
    } else {
      sessionFile = argument;
    }
  }

  if (!recordFile.empty() && !live) {
    return usage("--record writes what a game did in a --live run");
  }
  std::string text = live ? "" : DEFAULT_SESSION;
  std::string name = "the built-in session";
  if (sessionFile == "-") {
    std::ostringstream contents;
    contents << std::cin.rdbuf();
    text = contents.str();
    name = "the standard input";
  } else if (!sessionFile.empty()) {
    std::ifstream in(sessionFile, std::ios::binary);
    if (!in) {
      std::cerr << "sorlinx-sim: cannot read " << sessionFile << "\n";
      return EXIT_UNREADABLE;
    }
    std::ostringstream contents;
    contents << in.rdbuf();
    text = contents.str();
    name = sessionFile;
  }

  std::vector<Step> steps;
  try {
    steps = parseSession(text);
  } catch (const SessionError& error) {
    std::cerr << name << ": " << error.what() << "\n";
    return EXIT_UNREADABLE;
  }

  if (live) {
    return runLive(steps,
                   {.json = json,
                    .pluginInterface = options.pluginInterface,
                    .until = options.until,
                    .recordFile = recordFile,
                    .mapFile = mapFile},
                   std::cout, std::cerr);
  }

  const Outcome outcome = runSession(steps, options);
  for (const Event& event : outcome.events) {
    if (json) {
      printJson(std::cout, event);
    } else {
      printText(std::cout, event);
    }
  }
  const bool allMet = outcome.failedExpectations == 0;
  printSummary(std::cout, json, outcome.expectations, outcome.failedExpectations, outcome.behind);

  if (!mapFile.empty()) {
    std::ofstream map(mapFile, std::ios::binary);
    writeSvgMap(map, outcome);
    if (!map) {
      std::cerr << "sorlinx-sim: cannot write " << mapFile << "\n";
      return EXIT_UNREADABLE;
    }
  }
  return allMet ? 0 : EXIT_EXPECTATION_FAILED;
}
