#include "commands/client_identity.h"

#include <array>
#include <string>

#include "commands/secrets_file.h"
#include "shared/plugin_state.h"

namespace sorlinx {

namespace {

// The secrets file is read in pieces of this size, so that memory stays bounded whatever
// its size, even for one gigantic line.
constexpr std::size_t CHUNK_SIZE = 4096;

// For each count of key characters matched, how many still match once the next byte
// differs: the longest proper prefix of the key that ends the part matched. It lets the
// search find "identity=" in "identidentity=" without ever looking back at earlier bytes.
using KeyFallback = std::array<std::size_t, IDENTITY_KEY.size()>;

constexpr KeyFallback keyFallback() {
  KeyFallback fallback{};
  std::size_t matched = 0;
  for (std::size_t i = 1; i < IDENTITY_KEY.size(); ++i) {
    while (matched > 0 && IDENTITY_KEY[i] != IDENTITY_KEY[matched]) {
      matched = fallback[matched - 1];
    }
    if (IDENTITY_KEY[i] == IDENTITY_KEY[matched]) {
      ++matched;
    }
    fallback[i] = matched;
  }
  return fallback;
}
constexpr KeyFallback KEY_FALLBACK = keyFallback();

}  // namespace

bool IdentityScanner::feed(std::string_view bytes) noexcept {
  for (const char byte : bytes) {
    if (settled_) {
      break;
    }
    if (inValue_) {
      takeValueByte(byte);
    } else {
      matchKey(byte);
    }
  }
  return !settled_;
}

IdentityScanner::Outcome IdentityScanner::finish() noexcept {
  if (!settled_ && inValue_) {
    // The value ran to the end of the file; a last CR without LF is part of it.
    if (pendingReturn_) {
      pendingReturn_ = false;
      append('\r');
    }
    if (!settled_) {
      settle(Outcome::found);
    }
  }
  settled_ = true;
  return outcome_;
}

void IdentityScanner::matchKey(char byte) noexcept {
  while (keyMatched_ > 0 && byte != IDENTITY_KEY[keyMatched_]) {
    keyMatched_ = KEY_FALLBACK[keyMatched_ - 1];
  }
  if (byte == IDENTITY_KEY[keyMatched_]) {
    ++keyMatched_;
  }
  inValue_ = keyMatched_ == IDENTITY_KEY.size();
}

void IdentityScanner::takeValueByte(char byte) noexcept {
  if (byte == '\n') {
    settle(Outcome::found);  // a CR held back right before it belonged to the line end
    return;
  }
  if (pendingReturn_) {
    pendingReturn_ = false;
    append('\r');  // a CR inside the line is part of the value
  }
  if (byte == '\r') {
    pendingReturn_ = true;
  } else if (!settled_) {
    append(byte);
  }
}

void IdentityScanner::append(char byte) noexcept {
  if (length_ + 1 >= capacity_) {
    // Cutting it would hand the server a wrong identity: refuse it whole.
    settle(Outcome::tooLong);
    return;
  }
  value_[length_++] = byte;
}

void IdentityScanner::settle(Outcome outcome) noexcept {
  settled_ = true;
  outcome_ = outcome;
  if (outcome == Outcome::found) {
    value_[length_] = '\0';
  } else {
    secureZero(value_, capacity_);
    length_ = 0;
  }
}

void readClientIdentity() {
  char* const identity = pluginState.identityBuffer;
  if (identity == nullptr) {
    return;  // not allocated; "ConnectToServer" refuses without an identity
  }
  // Zeroed first, and cut at its end: a voice client that writes nothing, or fills the
  // buffer without a terminating zero, must not make us read garbage as a path.
  std::array<char, PATH_BUFFER_SIZE> folder{};
  pluginState.host.getConfigPath(folder.data(), folder.size());
  folder.back() = '\0';
  if (folder.front() == '\0') {
    logError("erreur getConfigPath: dossier vide");
    return;
  }
  std::string path(folder.data());
  path.append(SECRETS_FILE_NAME);  // the folder ends with its separator

  SecretsFile file(path.c_str());
  if (!file.isOpen()) {
    logError("erreur readClientIdentity: fichier illisible");
    return;
  }
  IdentityScanner scanner(identity, PATH_BUFFER_SIZE);
  std::array<char, CHUNK_SIZE> chunk{};
  bool readFailed = false;
  for (bool wanted = true; wanted;) {
    const std::ptrdiff_t count = file.read(chunk.data(), chunk.size());
    readFailed = count < 0;
    if (count <= 0) {
      break;
    }
    wanted = scanner.feed({chunk.data(), static_cast<std::size_t>(count)});
  }
  secureZero(chunk.data(), chunk.size());  // it may have held the identity

  const IdentityScanner::Outcome outcome = scanner.finish();
  if (readFailed) {
    // A value cut short by a failed read is no identity.
    secureZero(identity, PATH_BUFFER_SIZE);
    logError("erreur readClientIdentity: lecture interrompue");
  } else if (outcome == IdentityScanner::Outcome::noKey) {
    logError("erreur readClientIdentity: pas de identity=");
  } else if (outcome == IdentityScanner::Outcome::tooLong) {
    logError("erreur readClientIdentity: identite trop longue");
  }
}

}  // namespace sorlinx
