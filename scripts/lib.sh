# Shared by the project's scripts: source it, don't run it.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Makes sure the Debian packages given are installed: installs the missing ones when
# running as root, and otherwise prints the exact line that installs them, then stops.
require_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -ne 0 ]; then
    echo "These Debian packages are missing. Install them with:" >&2
    echo "  sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  echo "Installing missing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y "${missing[@]}" || { apt-get update && apt-get install -y "${missing[@]}"; }
}

# What building the shipped files needs.
BUILD_PACKAGES=(cmake ninja-build g++ g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix)

# What the fuzz targets need: clang and its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# What the static analysis needs.
ANALYSIS_PACKAGES=(clang-tidy clang-tools cppcheck)

# What the tests need on top of that.
TEST_PACKAGES=("${BUILD_PACKAGES[@]}" libgtest-dev libgmock-dev googletest libbenchmark-dev
  wine64 binutils clang-format unzip "${FUZZ_PACKAGES[@]}" "${ANALYSIS_PACKAGES[@]}")

# Configures, builds and (with "test") tests one preset.
build_preset() {
  local preset=$1
  shift
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "$@"
}
