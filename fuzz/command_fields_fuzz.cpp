// How "SwitchPlayer" and "ConnectToServer" take their argument text apart, against a reading
// of the same text with a string stream: std::getline up to each comma, and each number
// extracted with >> (where an unsigned extraction would quietly wrap a negative number
// around, the plugin refuses it instead, and so does the reference). Then both handlers run
// on the text against the simulated voice client, which must see exactly the fields the
// reference reads, or nothing and one log line when a number does not read.
//
// An input is one argument text, up to its first zero byte as a clipboard text would be.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <locale>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "commands/connect_to_server.h"
#include "commands/fields.h"
#include "commands/switch_player.h"
#include "fuzz_check.h"
#include "plugin/lifecycle.h"
#include "plugin/plugin_state.h"
#include "support/fake_host.h"
#include "support/trapped_table.h"
#include "support/virtual_pacer.h"

namespace sorlinx::fuzz {
namespace {

constexpr std::string_view IDENTITY = "fuzz-identity";

// The next field: the text up to the first comma, which is taken off with it. When there is
// no comma the field is the whole remaining text, and the remaining text stays as it was.
std::string streamField(std::string& remaining) {
  std::istringstream in(remaining);
  std::string field;
  std::getline(in, field, ',');
  if (in.eof()) {
    return remaining;
  }
  remaining.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return field;
}

template <typename Number>
std::optional<Number> streamNumber(const std::string& field) {
  std::istringstream in(field);
  in.imbue(std::locale::classic());
  Number value{};
  in >> value;
  if (in.fail()) {
    return std::nullopt;
  }
  if constexpr (std::is_unsigned_v<Number>) {
    const std::size_t sign = field.find_first_not_of(" \t\n\v\f\r");
    if (field[sign] == '-' && value != 0) {
      return std::nullopt;
    }
  }
  return value;
}

template <typename Number>
void compareNumbers(const std::string& field) {
  const std::optional<Number> expected = streamNumber<Number>(field);
  const std::optional<Number> actual = readNumber<Number>(field);
  if (actual != expected) {
    fail("readNumber and the stream read a field differently", field);
  }
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

void expectCalls(const testing::FakeHost& host, std::string_view entry,
                 const std::optional<std::vector<std::string>>& args, std::string_view input) {
  const auto calls = host.callsTo(entry);
  if (!args) {
    check(calls.empty(), "a request with an unreadable number reached the voice client");
    check(host.logLines().size() == 1, "an unreadable number was not logged once");
    return;
  }
  if (calls.size() != 1 || calls[0].args != *args) {
    fail("the voice client was not asked with the fields read", input);
  }
}

void checkSwitchPlayer(std::string arguments) {
  std::string remaining = arguments;
  const std::string clientField = streamField(remaining);
  const std::string channelField = streamField(remaining);
  const auto client = streamNumber<ClientId>(clientField);
  const auto channel = streamNumber<ChannelId>(channelField);
  std::optional<std::vector<std::string>> expected;
  if (client && channel) {
    expected = {"1", std::to_string(*client), std::to_string(*channel), quoted(remaining), "null"};
  }

  testing::FakeHost host;
  pluginState.hostFunctions = testing::trappedTable(host.table());
  pluginState.connectionStatus.store(STATUS_CONNECTION_ESTABLISHED);
  const std::string input = arguments;
  handleSwitchPlayer(arguments);
  check(arguments == remaining, "SwitchPlayer left another text than the password");
  expectCalls(host, "requestChannelMove", expected, input);
  pluginState.hostFunctions = HostFunctions{};
}

void checkConnectToServer(std::string arguments) {
  std::string remaining = arguments;
  const std::string address = streamField(remaining);
  const std::string portField = streamField(remaining);
  const std::string password = streamField(remaining);
  const auto port = streamNumber<std::int32_t>(portField);
  std::optional<std::vector<std::string>> expected;
  if (port) {
    expected = {"1",
                quoted(std::string(IDENTITY)),
                quoted(address),
                std::to_string(*port),
                quoted(remaining.empty() ? "TS3 User" : remaining),
                "null",
                "\"\"",
                quoted(password)};
  }

  testing::FakeHost host;
  testing::VirtualPacer pacer;
  pluginState.pacer = &pacer;
  pluginState.hostFunctions = testing::trappedTable(host.table());
  // Not connected: nothing to leave, so the connection is started at once.
  pluginState.connectionStatus.store(STATUS_DISCONNECTED);
  pluginState.identityBuffer = new char[PATH_BUFFER_SIZE]{};
  IDENTITY.copy(pluginState.identityBuffer, IDENTITY.size());
  const std::string input = arguments;
  handleConnectToServer(arguments);
  check(arguments == remaining, "ConnectToServer left another text than the nickname");
  expectCalls(host, "startConnection", expected, input);
  finishStop();
  pluginState.hostFunctions = HostFunctions{};
  pluginState.pacer = &pluginState.steadyPacer;
}

}  // namespace
}  // namespace sorlinx::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace sorlinx;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string arguments(bytes.substr(0, bytes.find('\0')));

  // The splitter itself, field after field, until the text stops shrinking.
  std::string fast = arguments;
  std::string reference = arguments;
  for (int field = 0; field < 8; ++field) {
    const std::string expected = fuzz::streamField(reference);
    if (takeField(fast) != expected || fast != reference) {
      fuzz::fail("takeField and getline split the text differently", arguments);
    }
    fuzz::compareNumbers<ClientId>(expected);
    fuzz::compareNumbers<ChannelId>(expected);
    fuzz::compareNumbers<std::int32_t>(expected);
  }
  pluginState.currentServerConnection.store(1);
  fuzz::checkSwitchPlayer(arguments);
  fuzz::checkConnectToServer(arguments);
  return 0;
}
