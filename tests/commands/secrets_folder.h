// A configuration folder of one test's own, holding the voice client's secrets file, as
// getConfigPath would name it. Removed with everything in it when the test ends.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "commands/client_identity.h"

namespace sorlinx::testing {

class SecretsFolder {
 public:
  SecretsFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "sorlinx-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) {
      folder_ = pattern;
    }
  }
  explicit SecretsFolder(std::string_view contents) : SecretsFolder() { write(contents); }
  SecretsFolder(const SecretsFolder&) = delete;
  SecretsFolder& operator=(const SecretsFolder&) = delete;
  ~SecretsFolder() { std::filesystem::remove_all(folder_); }

  void write(std::string_view contents) const {
    std::ofstream(folder_ / SECRETS_FILE_NAME, std::ios::binary) << contents;
  }
  // With its trailing separator, as the voice client gives it.
  [[nodiscard]] std::string path() const { return folder_.string() + "/"; }

 private:
  std::filesystem::path folder_;
};

}  // namespace sorlinx::testing
