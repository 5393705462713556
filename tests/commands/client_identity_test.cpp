// Reading the identity from the secrets file. The scanner's own cases, fed whole and byte by
// byte, are held against the plain reading by the replay of fuzz/corpus/identity_reader_fuzz.
#include "commands/client_identity.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <new>
#include <optional>

#include "commands/secrets_folder.h"
#include "plugin/lifecycle.h"
#include "support/plugin_fixture.h"

// The largest single heap block asked for while `measuring` is set, and what the block at
// `watched` held when it was freed. (No other thread runs here.)
namespace {
bool measuring = false;
std::size_t largestBlock = 0;
const void* watched = nullptr;
std::string heldWhenFreed;
}  // namespace

[[gnu::noinline]] void* operator new(std::size_t size) {
  if (measuring && size > largestBlock) {
    largestBlock = size;
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
  throw std::bad_alloc();
}
[[gnu::noinline]] void operator delete(void* block) noexcept {
  if (block != nullptr && block == watched) {
    watched = nullptr;
    heldWhenFreed.assign(static_cast<const char*>(block), sorlinx::PATH_BUFFER_SIZE);
  }
  std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace sorlinx::testing {
namespace {

// Whether `secret` stands in the stack memory just below the caller's frame, where the
// frames of the functions it called before lay. Called right after such a function, it
// finds what that function left behind in its locals.
[[gnu::noinline]] bool stackHolds(std::string_view secret) {
  std::array<char, std::size_t{64} << 10> below;  // deliberately not initialised
  asm volatile("" : : "r"(below.data()) : "memory");
  return std::string_view(below.data(), below.size()).find(secret) != std::string_view::npos;
}

class ReadClientIdentityTest : public PluginTest {
 protected:
  ReadClientIdentityTest() { pluginState.identityBuffer = new char[PATH_BUFFER_SIZE]{}; }

  [[nodiscard]] std::string identity() const { return pluginState.identityBuffer; }
};

// The huge files: reading one must never take a heap block the size of the file, and a
// gigantic value on one line is refused.
TEST_P(ReadClientIdentityTest, ReadsTheFileInTheConfigurationFolderInBoundedMemoryOrSaysWhyNot) {
  const SecretsFolder folder;
  const std::string line(8 << 20, 'x');
  struct Case {
    std::optional<std::string> configPath;  // nothing: the voice client writes nothing at all
    std::optional<std::string> contents;    // nothing: no file
    std::string identity;
    std::vector<std::string> logLines;
  };
  const std::vector<Case> cases{
      {folder.path(), "[General]\r\nidentity=\"7Vabc+/=\"\r\n", "\"7Vabc+/=\"", {}},
      {folder.path(), line + "\nidentity=late\n", "late", {}},
      {folder.path(), "identity=" + line, "", {"erreur readClientIdentity: identite trop longue"}},
      {folder.path(), std::nullopt, "", {"erreur readClientIdentity: fichier illisible"}},
      {folder.path(), "", "", {"erreur readClientIdentity: pas de identity="}},
      {"", "identity=x\n", "", {"erreur getConfigPath: dossier vide"}},
      {std::nullopt, "identity=x\n", "", {"erreur getConfigPath: dossier vide"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logLines.empty() ? c.identity : c.logLines.front());
    host.clearCalls();
    std::filesystem::remove(folder.path() + std::string(SECRETS_FILE_NAME));
    if (c.contents) {
      folder.write(*c.contents);
    }
    host.setConfigPath(c.configPath.value_or(folder.path()));
    if (!c.configPath) {
      host.fail("getConfigPath", 1);
    }
    largestBlock = 0;
    measuring = true;
    readClientIdentity();
    measuring = false;
    EXPECT_LT(largestBlock, std::size_t{64} << 10);
    EXPECT_EQ(identity(), c.identity);
    EXPECT_EQ(host.logLines(), c.logLines);
    secureZero(pluginState.identityBuffer, PATH_BUFFER_SIZE);
  }
}

TEST_P(ReadClientIdentityTest, NoCopyOfTheIdentityOutlivesThePlugin) {
  const std::string secret = "V4lue-" + std::string(200, 's') + "-of-the-identity";
  const SecretsFolder folder("identity=" + secret + "\n");
  host.setConfigPath(folder.path());
  readClientIdentity();
  const bool leftOnStack = stackHolds(secret);
  EXPECT_EQ(identity(), secret);
  EXPECT_FALSE(leftOnStack) << "the file's read buffer still holds the identity";
  watched = pluginState.identityBuffer;
  finishStop();
  EXPECT_EQ(pluginState.identityBuffer, nullptr);
  EXPECT_EQ(heldWhenFreed.find_first_not_of('\0'), std::string::npos)
      << "the identity was freed without being wiped";
  // Wiped to the last byte: a secret may fill its buffer.
  std::string full(64, 's');
  secureZero(full.data(), full.size());
  EXPECT_EQ(full, std::string(64, '\0'));
}

SORLINX_FOR_EACH_INTERFACE(ReadClientIdentityTest);

}  // namespace
}  // namespace sorlinx::testing
