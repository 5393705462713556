// sorlinx-send: puts one request on the clipboard, as a game would, and prints the
// plugin's reply. For trying the plugin in a real voice client without the game.
//
//   sorlinx-send GetPlayerID
//   sorlinx-send 3D "{7[1,2,3][RC]}"
//   sorlinx-send --timeout 5000 GetPlayerIDFromName Alice
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>

#include "clipboard/clipboard_channel.h"
#include "send.h"

namespace {

constexpr int EXIT_NO_REPLY = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_CLIPBOARD = 3;

int usage(const char* problem) {
  std::fprintf(stderr,
               "sorlinx-send: %s\n"
               "usage: sorlinx-send [--timeout MS] [--wait | --no-wait] COMMAND [ARGUMENTS]\n"
               "Puts [kex_sorlinx][COMMAND]ARGUMENTS[/kex_sorlinx] on the clipboard and prints "
               "the plugin's reply.\n"
               "Commands that answer: GetPlayerID, GetPlayerIDFromName, GetCurrentChannelID, "
               "GetVersion.\n"
               "The others (3D, 3DMUTE, SwitchPlayer, ConnectToServer) are sent without waiting, "
               "unless --wait.\n",
               problem);
  return EXIT_USAGE;
}

}  // namespace

int main(int argc, char** argv) {
  sorlinx::send::Options options;
  bool waitChosen = false;
  int next = 1;
  for (; next < argc && std::string_view(argv[next]).starts_with("--"); ++next) {
    const std::string_view flag = argv[next];
    if (flag == "--wait" || flag == "--no-wait") {
      options.waitForReply = flag == "--wait";
      waitChosen = true;
    } else if (flag == "--timeout" && next + 1 < argc) {
      const std::string_view value = argv[++next];
      long long milliseconds = 0;
      const auto [end, error] =
          std::from_chars(value.data(), value.data() + value.size(), milliseconds);
      if (error != std::errc() || end != value.data() + value.size() || milliseconds < 0) {
        return usage("--timeout takes a number of milliseconds");
      }
      options.timeout = sorlinx::Milliseconds(milliseconds);
    } else {
      return usage(("unknown option " + std::string(flag)).c_str());
    }
  }
  if (next >= argc) {
    return usage("no command given");
  }
  if (argc - next > 2) {
    return usage("too many arguments: quote the argument text as one argument");
  }
  const std::string_view command = argv[next];
  const std::string_view arguments = next + 1 < argc ? argv[next + 1] : "";
  if (!waitChosen) {
    options.waitForReply = sorlinx::send::commandReplies(command);
  }

  sorlinx::StopFlag neverStopped;
  sorlinx::SteadyPacer pacer(neverStopped);
  const auto result = sorlinx::send::sendRequest(command, arguments, options, pacer);
  switch (result.outcome) {
    case sorlinx::send::Outcome::replied:
      std::printf("%s\n", result.reply.c_str());
      return 0;
    case sorlinx::send::Outcome::sent:
      std::printf("sent: %s\n", sorlinx::requestText(command, arguments).c_str());
      return 0;
    case sorlinx::send::Outcome::noReply:
      std::fprintf(stderr,
                   "sorlinx-send: no reply within %lld ms (is the plugin running, the client "
                   "connected, and the command spelled exactly?)\n",
                   static_cast<long long>(options.timeout.count()));
      return EXIT_NO_REPLY;
    case sorlinx::send::Outcome::clipboardUnavailable:
      std::fprintf(stderr, "sorlinx-send: another program keeps the clipboard open\n");
      return EXIT_CLIPBOARD;
  }
  return EXIT_NO_REPLY;
}
