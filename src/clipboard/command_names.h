// The commands a game may write inside the envelope, by name: the one list of them. The
// dispatcher routes by it, the simulator's hints and sorlinx-send check requests against
// it, the info panel names the last request from it, and a test holds the fuzz dictionary
// (which cannot include it) against it. docs/design.md, "Adding a command", says what else
// a new one needs.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace sorlinx {

// Every command the plugin knows. The dispatcher's switch over it has no default, so a
// command added here without a handler (or a deliberate null) does not build.
enum class Command : std::uint8_t {
  position3D,
  getPlayerID,
  getPlayerIDFromName,
  mute3D,
  getVersion,
  switchPlayer,
  connectToServer,
  getCurrentChannelID,
  getChannelIDFromName,
};

struct CommandName {
  Command command;
  // As the game writes it; compared byte for byte, case included.
  std::string_view name;
  // Whether the plugin answers it on the clipboard (while connected, but for GetVersion).
  bool replies;
};

// In the order of the enumeration: COMMAND_NAMES[i].command is Command(i).
inline constexpr std::array COMMAND_NAMES{
    CommandName{Command::position3D, "3D", false},
    CommandName{Command::getPlayerID, "GetPlayerID", true},
    CommandName{Command::getPlayerIDFromName, "GetPlayerIDFromName", true},
    CommandName{Command::mute3D, "3DMUTE", false},
    CommandName{Command::getVersion, "GetVersion", true},
    CommandName{Command::switchPlayer, "SwitchPlayer", false},
    CommandName{Command::connectToServer, "ConnectToServer", false},
    CommandName{Command::getCurrentChannelID, "GetCurrentChannelID", true},
    // Reserved for a future query: known, and until it has a handler it does nothing.
    CommandName{Command::getChannelIDFromName, "GetChannelIDFromName", false},
};

constexpr bool commandsInOrder() {
  for (std::size_t i = 0; i < COMMAND_NAMES.size(); ++i) {
    if (static_cast<std::size_t>(COMMAND_NAMES[i].command) != i) {
      return false;
    }
  }
  return true;
}
static_assert(commandsInOrder(), "COMMAND_NAMES follows the order of Command");

// The command of that name, byte for byte; nothing for a name the plugin does not know.
constexpr std::optional<Command> commandNamed(std::string_view name) noexcept {
  for (const CommandName& known : COMMAND_NAMES) {
    if (known.name == name) {
      return known.command;
    }
  }
  return std::nullopt;
}

constexpr const CommandName& commandName(Command command) noexcept {
  return COMMAND_NAMES[static_cast<std::size_t>(command)];
}

// Whether the plugin answers the command of that name on the clipboard.
constexpr bool commandReplies(std::string_view name) noexcept {
  const std::optional<Command> command = commandNamed(name);
  return command && commandName(*command).replies;
}

}  // namespace sorlinx
