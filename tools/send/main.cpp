// sorlinx-send: puts one request on the clipboard, as a game would, and prints the
// plugin's reply. For trying the plugin in a real voice client without the game.
//
//   sorlinx-send GetPlayerID
//   sorlinx-send --repeat 10 3D "{7[1,2,3][RC]}"
//   sorlinx-send --timeout 5000 GetPlayerIDFromName Alice
//   sorlinx-send --raw "[kex_sorlinx][GetVersion][/kex_sorlinx]"
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "clipboard/clipboard.h"
#include "clipboard/clipboard_channel.h"
#include "clipboard/command_names.h"
#include "player_clipboard.h"
#include "send.h"

namespace {

constexpr int EXIT_NO_REPLY = 1;
constexpr int EXIT_USAGE = 2;
constexpr int EXIT_CLIPBOARD = 3;

int usage(const std::string& problem) {
  std::string answering;
  for (const sorlinx::CommandName& known : sorlinx::COMMAND_NAMES) {
    if (known.replies) {
      answering.append(answering.empty() ? "" : ", ").append(known.name);
    }
  }
  std::fprintf(
      stderr,
      "sorlinx-send: %s\n"
      "usage: sorlinx-send [OPTIONS] COMMAND [ARGUMENTS]\n"
      "       sorlinx-send [OPTIONS] --raw TEXT\n"
      "Puts [kex_sorlinx][COMMAND]ARGUMENTS[/kex_sorlinx] (or TEXT exactly as given) on the "
      "clipboard and prints the plugin's reply, then puts your clipboard text back.\n"
      "  --timeout MS       how long to wait for a reply (2000)\n"
      "  --wait, --no-wait  wait for a reply or not; by default only for the commands that "
      "answer: %s\n"
      "  --repeat N         send it N times, each a new request (#2, #3, ... after it)\n"
      "  --every MS         between the repeats (500)\n"
      "  --keep             leave the last request or reply on the clipboard\n",
      problem.c_str(), answering.c_str());
  return EXIT_USAGE;
}

bool readMilliseconds(std::string_view value, long long& result) {
  const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), result);
  return error == std::errc() && end == value.data() + value.size() && result >= 0;
}

}  // namespace

int main(int count, char** values) {
  const std::vector<std::string> argv = sorlinx::send::commandLine(count, values);
  const std::size_t argc = argv.size();
  sorlinx::send::Options options;
  bool waitChosen = false;
  bool keep = false;
  long long repeat = 1;
  long long every = 500;
  const std::string* raw = nullptr;
  std::size_t next = 1;
  for (; next < argc && std::string_view(argv[next]).starts_with("--"); ++next) {
    const std::string_view flag = argv[next];
    const bool hasValue = next + 1 < argc;
    long long number = 0;
    if (flag == "--wait" || flag == "--no-wait") {
      options.waitForReply = flag == "--wait";
      waitChosen = true;
    } else if (flag == "--keep") {
      keep = true;
    } else if (flag == "--raw" && hasValue) {
      raw = &argv[++next];
    } else if ((flag == "--timeout" || flag == "--every" || flag == "--repeat") && hasValue) {
      if (!readMilliseconds(argv[++next], number)) {
        return usage(std::string(flag) + " takes a whole number");
      }
      if (flag == "--timeout") {
        options.timeout = sorlinx::Milliseconds(number);
      } else if (flag == "--every") {
        every = number;
      } else if (number < 1) {
        return usage("--repeat takes a number from 1");
      } else {
        repeat = number;
      }
    } else {
      return usage("unknown option " + std::string(flag));
    }
  }
  std::string request;
  if (raw != nullptr) {
    if (next != argc) {
      return usage("--raw takes the whole text: nothing may follow it");
    }
    request = *raw;
  } else if (next >= argc) {
    return usage("no command given");
  } else if (argc - next > 2) {
    return usage("too many arguments: quote the argument text as one argument");
  } else {
    request = sorlinx::requestText(argv[next], next + 1 < argc ? argv[next + 1] : "");
  }
  const std::string command(sorlinx::send::commandOf(request));
  if (!waitChosen) {
    options.waitForReply = sorlinx::commandReplies(command);
  }
  if (!sorlinx::commandNamed(command)) {
    std::fprintf(stderr, "sorlinx-send: note: the plugin does not know the command \"%s\"\n",
                 command.c_str());
  }

  sorlinx::send::PlayerClipboard player;
  if (!keep) {
    player.save();
  }
  sorlinx::StopFlag neverStopped;
  sorlinx::SteadyPacer steady(neverStopped);
  sorlinx::send::ServingPacer pacer(steady);
  int exitCode = 0;
  for (long long round = 0; round < repeat; ++round) {
    const sorlinx::Milliseconds started = pacer.now();
    const std::string text = sorlinx::send::roundText(request, static_cast<int>(round));
    const auto result = sorlinx::send::sendRequest(text, options, pacer);
    switch (result.outcome) {
      case sorlinx::send::Outcome::replied:
        std::printf("%s\n", result.reply.c_str());
        break;
      case sorlinx::send::Outcome::sent:
        std::printf("sent: %s\n", text.c_str());
        break;
      case sorlinx::send::Outcome::noReply:
        std::fprintf(stderr, "sorlinx-send: no reply within %lld ms; %s\n",
                     static_cast<long long>(options.timeout.count()),
                     sorlinx::send::noReplyAdvice(command).c_str());
        exitCode = EXIT_NO_REPLY;
        break;
      case sorlinx::send::Outcome::clipboardUnavailable:
        std::fprintf(stderr, "sorlinx-send: another program keeps the clipboard open\n");
        return EXIT_CLIPBOARD;
    }
    std::fflush(stdout);
    if (round + 1 < repeat) {
      pacer.pause(started + sorlinx::Milliseconds(every) - pacer.now());
    }
  }
  if (player.saved()) {
    // A request without a reply must stand long enough for the plugin to see it.
    const std::uint64_t ours = sorlinx::clipboard::changeCount();
    pacer.pause(sorlinx::POLLING_PERIOD * 2);
    player.restore(ours);
  }
  sorlinx::send::leaveOnClipboard();
  return exitCode;
}
