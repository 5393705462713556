#!/usr/bin/env bash
# The install and detection helpers of scripts/lib.sh, run the way scripts/test.sh runs them
# (set -euo pipefail), first against stand-ins for apt-cache, apt-get, dpkg and dpkg-query
# whose package lists are set here, then against the machine's real package lists; and
# scripts/check-levels.sh against a tree that breaks its levels.
#
# The stand-in apt-cache writes a long version table after the "Candidate:" line, as the
# real one does for packages with many versions or architectures: a helper that stops
# reading at the first match kills it with SIGPIPE, and under pipefail that reads as "not
# offered" (the fault that once made the 32-bit tests skip themselves on new machines).
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
check() {  # check DESCRIPTION COMMAND...: the command must succeed
  local description=$1
  shift
  if "$@"; then
    echo "ok: $description"
  else
    echo "FAILED: $description"
    failures=$((failures + 1))
  fi
}

mkdir "$work/bin"
cat >"$work/bin/apt-cache" <<'FAKE'
#!/usr/bin/env bash
# apt-cache policy PACKAGE
for package in $FAKE_OFFERED; do
  if [ "$package" = "$2" ]; then
    printf '%s:\n  Installed: (none)\n  Candidate: 8.0~repack-4\n  Version table:\n' "$2"
    for i in $(seq 20000); do echo "     8.0~repack-$i 500 http://deb.debian.org/debian bookworm/main"; done
    exit 0
  fi
done
echo "N: Unable to locate package $2" >&2
FAKE
cat >"$work/bin/dpkg-query" <<'FAKE'
#!/usr/bin/env bash
# dpkg-query -W -f=FORMAT PACKAGE
for package in $FAKE_INSTALLED; do
  [ "$package" = "${!#}" ] && { printf 'install ok installed'; exit 0; }
done
exit 1
FAKE
cat >"$work/bin/dpkg" <<'FAKE'
#!/usr/bin/env bash
case $1 in
  --print-architecture) echo amd64 ;;
  --print-foreign-architectures) echo "$FAKE_FOREIGN" ;;
  *) echo "dpkg $*" >>"$FAKE_LOG" ;;
esac
FAKE
cat >"$work/bin/apt-get" <<'FAKE'
#!/usr/bin/env bash
echo "apt-get $*" >>"$FAKE_LOG"
FAKE
printf '#!/bin/sh\necho 0\n' >"$work/bin/id"
chmod +x "$work/bin/"*

# Runs lib.sh's helpers in a shell of their own with the stand-ins first on PATH.
with_fakes() {
  FAKE_LOG=$work/log PATH="$work/bin:$PATH" bash -c \
    "set -euo pipefail; source '$top/scripts/lib.sh'; $1"
}
export FAKE_OFFERED="wine32:i386 cmake" FAKE_INSTALLED="cmake" FAKE_FOREIGN="i386"

check "offered: a package the lists offer, with a long version table" \
  with_fakes 'offered wine32:i386'
check "offered: a package the lists do not offer" with_fakes '! offered ghost:i386'
check "installed: an installed package, and one that is not" \
  with_fakes 'installed cmake && ! installed wine32:i386'

: >"$work/log"
check "require_packages installs an optional package the lists offer" with_fakes '
  require_packages cmake --optional wine32:i386
  [ -z "${UNAVAILABLE[wine32:i386]-}" ]'
check "... with apt-get install, after no dpkg --add-architecture" \
  grep -qxF "apt-get install -y wine32:i386" "$work/log"
check "... and no update of lists that offer it already" \
  bash -c "! grep -q 'update\|add-architecture' '$work/log'"

: >"$work/log"
check "require_packages gives up an optional package the lists do not offer, and says why" \
  with_fakes '
  require_packages cmake --optional ghost:i386
  [ "${UNAVAILABLE[ghost:i386]}" = "the package lists offer no ghost:i386" ]'
check "... after updating the lists once, and installs nothing" \
  bash -c "[ \"\$(cat '$work/log')\" = 'apt-get update' ]"

: >"$work/log"
FAKE_FOREIGN="" check "require_packages adds a new architecture before installing from it" \
  with_fakes 'require_packages --optional wine32:i386'
check "... then updates the lists and installs" bash -c \
  "[ \"\$(cat '$work/log')\" = \$'dpkg --add-architecture i386\napt-get update\napt-get install -y wine32:i386' ]"

# The machine's own lists: bash is always offered, a made-up name never is.
check "offered, on this machine's package lists" bash -c \
  "set -euo pipefail; source '$top/scripts/lib.sh'; offered bash && ! offered sorlinx-no-such-package"

# The level check names the file that breaks the levels, and a room it does not know.
mkdir -p "$work/src/commands" "$work/src/plugin" "$work/src/attic"
echo '#include "plugin/workers.h"' >"$work/src/commands/queries.cpp"
echo '#include "commands/queries.h"' >"$work/src/plugin/dispatcher.cpp"
levels=$("$top/scripts/check-levels.sh" "$work/src" || true)
check "check-levels.sh names an include that goes up" \
  grep -q '^src/commands/queries.cpp:1: commands/ (level 2) includes from plugin/' <<<"$levels"
check "... and a room it does not place" grep -q '^src/attic/: a room' <<<"$levels"
check "... and lets an include that goes down pass" \
  bash -c "! grep -q 'src/plugin/dispatcher.cpp' <<<'$levels'"
check "... and passes this project's own src/" "$top/scripts/check-levels.sh"

[ "$failures" -eq 0 ] || { echo "FAILED: $failures of the script checks"; exit 1; }
echo "The install helpers and the level check work as scripts/test.sh runs them."
