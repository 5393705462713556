// sorlinx-sim: runs the plugin's own code against a simulated voice client and clipboard,
// and prints what it did. For game authors: see what the plugin makes of your requests,
// and keep them under test with expectations.
//
//   sorlinx-sim                      the built-in session, showing every command
//   sorlinx-sim my-game.session      a session of yours
//   sorlinx-sim --map map.svg ...    also draws the clients from above at the end
//   sorlinx-sim --interface 4 ...    a voice client of plugin interface 4 (26 by default)
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

#include "default_session.h"
#include "session.h"
#include "simulation.h"
#include "svg_map.h"
#include "timeline.h"

namespace {

constexpr int EXIT_EXPECTATION_FAILED = 1;
constexpr int EXIT_UNREADABLE = 2;

int usage(const std::string& problem) {
  std::cerr << "sorlinx-sim: " << problem << "\n"
            << "usage: sorlinx-sim [--json] [--map FILE.svg] [--realtime] [--until MS]\n"
            << "                   [--interface 26|4] [SESSION]\n"
            << "       sorlinx-sim --print-default-session\n"
            << "Runs SESSION (or the built-in session) against a simulated voice client and\n"
            << "prints the timeline. The voice client speaks plugin interface 26 (clients 3.6\n"
            << "and later) unless --interface 4 asks for the clients of that era. Exit code 1\n"
            << "when an expectation fails, 2 when the session cannot be read.\n";
  return EXIT_UNREADABLE;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sorlinx::sim;
  bool json = false;
  Options options;
  std::string mapFile;
  std::string sessionFile;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--json") {
      json = true;
    } else if (argument == "--realtime") {
      options.realtime = true;
    } else if (argument == "--map" && i + 1 < argc) {
      mapFile = argv[++i];
    } else if (argument == "--until" && i + 1 < argc) {
      try {
        options.until = sorlinx::Milliseconds(std::stoll(argv[++i]));
      } catch (const std::exception&) {
        return usage("--until takes a number of milliseconds");
      }
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
    } else if (argument == "--help" || argument == "-h") {
      usage("runs a session");
      return 0;
    } else if (argument.starts_with("--") || !sessionFile.empty()) {
      return usage("unexpected argument " + std::string(argument));
    } else {
      sessionFile = argument;
    }
  }

  std::string text = DEFAULT_SESSION;
  std::string name = "the built-in session";
  if (!sessionFile.empty()) {
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

  const Outcome outcome = runSession(steps, options);
  for (const Event& event : outcome.events) {
    if (json) {
      printJson(std::cout, event);
    } else {
      printText(std::cout, event);
    }
  }
  const bool allMet = outcome.failedExpectations == 0;
  if (json) {
    std::cout << "{\"event\":\"summary\",\"expectations\":" << outcome.expectations
              << ",\"failed\":" << outcome.failedExpectations << "}\n";
  } else {
    std::cout << "\n"
              << outcome.expectations << " expectation" << (outcome.expectations == 1 ? "" : "s")
              << (allMet ? (outcome.expectations == 0 ? "" : ", all met")
                         : ", " + std::to_string(outcome.failedExpectations) + " FAILED")
              << "\n";
  }

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
