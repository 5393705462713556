// The game's clipboard code of the protocol guide, on the real (wine) clipboard: what it
// writes must reach the plugin byte for byte and carry the three history markers, and the
// player's text must come back only while nobody wrote after the game.
#include <cstdio>
#include <optional>
#include <thread>

#include "game_clipboard_win32.cpp"  // the example is one file, meant to be copied whole

namespace {

int passed = 0;
int failed = 0;

void check(bool condition, const std::string& what) {
  ++(condition ? passed : failed);
  if (!condition) {
    std::printf("FAILED: %s\n", what.c_str());
  }
}

// The bytes of one format on the clipboard, as the block holds them; nothing when absent.
std::optional<std::string> formatBytes(UINT format) {
  std::optional<std::string> bytes;
  if (game_clipboard::openClipboard(nullptr)) {
    const HANDLE data = GetClipboardData(format);
    const char* chars = data == nullptr ? nullptr : static_cast<const char*>(GlobalLock(data));
    if (chars != nullptr) {
      bytes.emplace(chars, GlobalSize(data));
      GlobalUnlock(data);
    }
    CloseClipboard();
  }
  return bytes;
}

std::string upToZero(const std::optional<std::string>& bytes) {
  return bytes ? bytes->substr(0, bytes->find('\0')) : "(none)";
}

void checkMarked(const std::string& what) {
  const auto exclude =
      formatBytes(RegisterClipboardFormatA("ExcludeClipboardContentFromMonitorProcessing"));
  check(exclude.has_value(), what + ": ExcludeClipboardContentFromMonitorProcessing is there");
  for (const char* name : {"CanIncludeInClipboardHistory", "CanUploadToCloudClipboard"}) {
    const auto value = formatBytes(RegisterClipboardFormatA(name));
    check(value && value->size() >= sizeof(DWORD) &&
              value->compare(0, sizeof(DWORD), std::string(sizeof(DWORD), '\0')) == 0,
          what + ": " + name + " holds a DWORD 0");
  }
}

// What another program does: plain text, no markers.
void writePlain(const std::string& text) {
  const HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
  void* target = block == nullptr ? nullptr : GlobalLock(block);
  if (target != nullptr) {
    std::memcpy(target, text.c_str(), text.size() + 1);
    GlobalUnlock(block);
  }
  if (target == nullptr || !game_clipboard::openClipboard(nullptr)) {
    return;
  }
  EmptyClipboard();
  SetClipboardData(CF_TEXT, block);
  CloseClipboard();
}

}  // namespace

int main() {
  using game_clipboard::requestText;
  // The player's text, saved before the game writes.
  const std::wstring playerText = L"the player's own text, \u00eb \u6f22";
  game_clipboard::writeMarked(nullptr, CF_UNICODETEXT, playerText.c_str(),
                              (playerText.size() + 1) * sizeof(wchar_t));
  const game_clipboard::PlayerText player = game_clipboard::savePlayerText(nullptr);
  check(player.saved && player.text == playerText, "the player's text is saved");

  // A nickname in UTF-8 must reach CF_TEXT as these very bytes, and CF_UNICODETEXT (what
  // wine hands the plugin on Linux) as the same characters, not an ANSI reading of them.
  for (const auto& [request, wide] :
       {std::pair<std::string, std::wstring>{requestText("GetVersion", "", 2),
                                             L"[kex_sorlinx][GetVersion][/kex_sorlinx]#2"},
        {requestText("GetPlayerIDFromName", "Zo\xc3\xab", 3),
         L"[kex_sorlinx][GetPlayerIDFromName]Zo\u00eb[/kex_sorlinx]#3"}}) {
    check(game_clipboard::writeRequest(nullptr, request) != 0, request + ": written");
    check(upToZero(formatBytes(CF_TEXT)) == request, request + ": CF_TEXT holds its bytes");
    const auto unicode = formatBytes(CF_UNICODETEXT).value_or("");
    check(std::wstring(reinterpret_cast<const wchar_t*>(unicode.data()),
                       wcsnlen(reinterpret_cast<const wchar_t*>(unicode.data()),
                               unicode.size() / sizeof(wchar_t))) == wide,
          request + ": CF_UNICODETEXT holds its characters");
    checkMarked(request);
  }

  // The plugin's reply, 50 ms after the request.
  std::string reply;
  DWORD sequence = game_clipboard::writeRequest(nullptr, requestText("GetVersion", "", 5));
  std::thread plugin([] {
    Sleep(50);
    writePlain("sorlinx beta 0.8");
  });
  const bool replied = game_clipboard::readReply(nullptr, sequence, 2000, reply);
  plugin.join();
  check(replied && reply == "sorlinx beta 0.8", "the reply is read: " + reply);

  // The player's text comes back, marked, after the reply...
  check(game_clipboard::restorePlayerText(nullptr, player, sequence), "the player's text is back");
  const auto back = formatBytes(CF_UNICODETEXT);
  check(back && back->compare(0, playerText.size() * sizeof(wchar_t),
                              reinterpret_cast<const char*>(playerText.c_str()),
                              playerText.size() * sizeof(wchar_t)) == 0,
        "the player's text is back whole");
  checkMarked("the player's text");
  // ...and after a request that has no reply (readReply gives up after its time), such as an
  // unanswered probe...
  sequence = game_clipboard::writeRequest(nullptr, requestText("GetVersion", "", 6));
  check(!game_clipboard::readReply(nullptr, sequence, 150, reply) &&
            game_clipboard::restorePlayerText(nullptr, player, sequence) &&
            formatBytes(CF_UNICODETEXT) == back,
        "the player's text is back after an unanswered probe");
  // ...but never over a text some program wrote after the game, nor after a failed write.
  sequence = game_clipboard::writeRequest(nullptr, requestText("3D", "{7[1,2,3]}", 7));
  writePlain("copied later");
  check(!game_clipboard::restorePlayerText(nullptr, player, sequence) &&
            upToZero(formatBytes(CF_TEXT)) == "copied later",
        "a later text stays");
  check(!game_clipboard::restorePlayerText(nullptr, player, 0) &&
            upToZero(formatBytes(CF_TEXT)) == "copied later",
        "nothing is put back after a failed write");

  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
