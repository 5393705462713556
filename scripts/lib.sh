# Shared by the project's scripts: source it, don't run it.

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Makes sure the Debian packages given are installed: installs the missing ones when
# running as root, and otherwise prints the exact line that installs them, then stops.
#
#   require_packages PACKAGE... [--optional PACKAGE...]
#
# A package may name a foreign architecture ("wine32:i386"): dpkg must know that
# architecture first, and the package lists must be updated after it is added. The packages
# after --optional may be missing from the package lists altogether; the caller then goes on
# without them, and UNAVAILABLE[package] tells why.
declare -gA UNAVAILABLE=()
require_packages() {
  local required=() optional=() package arch kind=required
  for package in "$@"; do
    if [ "$package" = --optional ]; then
      kind=optional
    elif installed "$package"; then
      continue
    elif [ $kind = required ]; then
      required+=("$package")
    else
      optional+=("$package")
    fi
  done
  [ $((${#required[@]} + ${#optional[@]})) -eq 0 ] && return 0

  if [ "$(id -u)" -ne 0 ]; then
    # Nothing can be added or updated without root: an optional package is given up only
    # when its architecture is known already and the lists still offer no version of it.
    for package in "${optional[@]}"; do
      if [ -z "$(new_architectures "$package")" ] && ! offered "$package"; then
        UNAVAILABLE[$package]="the package lists offer no $package"
      else
        required+=("$package")
      fi
    done
    [ ${#required[@]} -eq 0 ] && return 0
    # Adding an architecture dpkg knows already does no harm: the line works anywhere.
    local steps=""
    for arch in $(architectures_of "${required[@]}"); do
      steps+="sudo dpkg --add-architecture $arch && "
    done
    [ -n "$steps" ] && steps+="sudo apt-get update && "
    echo "These Debian packages are missing. Install them with:" >&2
    echo "  ${steps}sudo apt-get install -y ${required[*]}" >&2
    exit 1
  fi

  export DEBIAN_FRONTEND=noninteractive
  local updated=false added=false
  for arch in $(new_architectures "${required[@]}" "${optional[@]}"); do
    echo "Adding the $arch architecture to dpkg"
    if dpkg --add-architecture "$arch"; then
      added=true
    else
      for package in "${optional[@]}"; do
        if [ "${package##*:}" = "$arch" ]; then
          UNAVAILABLE[$package]="dpkg does not take the $arch architecture"
        fi
      done
    fi
  done
  # A newly added architecture has no package lists yet, and lists never fetched offer
  # nothing: update them once before calling an optional package unavailable.
  if $added || ! all_offered "${optional[@]}"; then
    apt-get update
    updated=true
  fi
  for package in "${optional[@]}"; do
    if [ -n "${UNAVAILABLE[$package]-}" ]; then
      continue
    elif offered "$package"; then
      required+=("$package")
    else
      UNAVAILABLE[$package]="the package lists offer no $package"
    fi
  done
  [ ${#required[@]} -eq 0 ] && return 0
  echo "Installing missing Debian packages: ${required[*]}"
  if ! apt-get install -y "${required[@]}"; then
    # Lists older than the archive name versions that are gone: fetch them once and retry.
    $updated && return 1
    apt-get update && apt-get install -y "${required[@]}"
  fi
}

# Whether a package is installed ("wine32:i386" asks for that architecture's).
#
# These helpers run under `set -o pipefail`: the text is taken whole before it is searched,
# because `grep -q` in a pipe leaves at its first match, and the writer, killed by SIGPIPE
# while it writes the rest, would turn a match into a failure (exit code 141).
installed() {
  local status
  status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
  [[ $status == *"install ok installed"* ]]
}

# Whether the package lists offer a version of a package ("Candidate: (none)" offers none).
offered() {
  local policy
  policy=$(LC_ALL=C apt-cache policy "$1" 2>/dev/null) || return 1
  [[ $policy =~ Candidate:\ [^\(] ]]
}

all_offered() {
  local package
  for package in "$@"; do
    offered "$package" || return 1
  done
}

# The foreign architectures that the packages name, once each.
architectures_of() {
  local package
  for package in "$@"; do
    [[ $package == *:* ]] && echo "${package##*:}"
  done | sort -u
}

# Those of them that dpkg does not know yet.
new_architectures() {
  local known
  known=$(dpkg --print-architecture; dpkg --print-foreign-architectures)
  architectures_of "$@" | grep -vxF "$known" || true
}

# What building the shipped files needs: the Linux library's X11 clipboard needs libxcb and
# its XFixes extension; the plugin packages are made with zip.
BUILD_PACKAGES=(cmake ninja-build g++ g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  libxcb1-dev libxcb-xfixes0-dev zip)

# What the fuzz targets need: clang and its libFuzzer and sanitizer runtimes.
FUZZ_PACKAGES=(clang libclang-rt-14-dev)

# What the static analysis needs.
ANALYSIS_PACKAGES=(clang-tidy clang-tools cppcheck)

# What the tests need on top of that.
TEST_PACKAGES=("${BUILD_PACKAGES[@]}" libgtest-dev libgmock-dev googletest libbenchmark-dev
  wine64 binutils clang-format unzip xvfb xclip "${FUZZ_PACKAGES[@]}" "${ANALYSIS_PACKAGES[@]}")

# The 32-bit wine, for the end-to-end tests of the 32-bit DLL. Optional: where the package
# lists offer no i386 packages, the tests run without it and say so.
WINE32_PACKAGE=wine32:i386

# Configures, builds and (with "test") tests one preset.
build_preset() {
  local preset=$1
  shift
  echo "=== $preset ==="
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" "$@"
}
