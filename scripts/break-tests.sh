#!/usr/bin/env bash
# Puts deliberate faults into src/ and tools/, one at a time, and sees whether the Linux
# tests notice.
#
# Each break below is a mistake a reviewer would look for: an off-by-one, a swapped
# coordinate, a dropped check, a dropped log line, a wrong reply text, a wrong order, a wrong
# timing constant, a missing freeMemory, a dropped lock... For each one the script applies it
# (a single perl substitution that must match exactly once), rebuilds its preset (linux, or
# linux-so for the X11 clipboard's, whose tests start Xvfb servers of their own)
# incrementally, runs its tests (`ctest --preset PRESET`), and puts the file back, also
# when interrupted.
#
#   CAUGHT       some test failed, and failed again when rerun alone
#   MISSED       every test passed (or the failures did not repeat: noted as flaky)
#   NOBUILD      the break does not compile
#   NOT-APPLIED  the substitution did not match exactly once, or changed nothing
#
# The whole test suite runs in a few seconds, so no test is excluded: the time of a break is
# almost all rebuilding. Each break's build and test output is kept in build/breaks/<id>.log.
#
# Usage: scripts/break-tests.sh [--list] [--dry-run] [--no-clean-run] [TREE] [ID...]
#   TREE            the work tree to break (default: the one holding this script)
#   ID...           only these breaks (default: all)
#   --list          print the breaks and stop
#   --dry-run       only check that every substitution applies, without building
#   --no-clean-run  skip the first build and test run of the unbroken tree
# Not part of scripts/test.sh: half an hour on a quiet machine, two hours beside other builds.
set -uo pipefail

ids=()
files=()
substs=()
notes=()
presets=()
# brk ID FILE SUBSTITUTION NOTE [PRESET]
brk() {
  ids+=("$1")
  files+=("$2")
  substs+=("$3")
  notes+=("$4")
  presets+=("${5:-linux}")
}

# --- src/clipboard ---
brk clip-badalloc-unseen src/clipboard/clipboard_channel.cpp \
  's/(std::string\(\)\.swap\(channel\.currentText\);\n)\s*channel\.lastChangeCount = changeCount;\n/$1/' \
  'a text too large to copy is retried, and logged, on every pass'
brk clip-zero-count-trusted src/clipboard/clipboard_channel.cpp \
  's/changeCount != 0 && changeCount == channel\.lastChangeCount/changeCount == channel.lastChangeCount/' \
  'a platform without a change counter (0) never has its clipboard read again'
brk clip-unchanged-not-counted src/clipboard/clipboard_channel.cpp \
  's/\n\s*\+\+channel\.unchangedPasses;\n/\n/' \
  'unchanged passes are not counted, so the stale-frame reset never comes'
brk clip-request-unseen src/clipboard/clipboard_channel.cpp \
  's/channel\.requestSeen = true;/channel.requestSeen = false;/' \
  'a request does not arm the stale-frame reset'
brk clip-split-off-by-one src/clipboard/envelope.cpp \
  's/payload\.substr\(1, close - 1\)/payload.substr(1, close)/' \
  'the command keeps its closing "]"'
brk clip-envelope-anywhere src/clipboard/envelope.cpp \
  's/if \(!text\.starts_with\(OPENING_TAG\)\)/if (text.find(OPENING_TAG) == std::string_view::npos)/' \
  'text before the opening tag is accepted (and the payload cut wrong)'
brk clip-extra-pass-counted src/clipboard/clipboard_channel.cpp \
  's/else if \(kind == PassKind::regular\)/else if (kind == PassKind::regular || kind == PassKind::notice)/' \
  'the passes that notices bring count towards the stale-frame reset, which comes early'
brk clip-memory-notice-kept src/clipboard/clipboard_memory.cpp \
  's/\n\s*b\.noticePending = false;\n(\s*b\.woken = false;\n\s*return changed;)/\n$1/' \
  'a notice is never taken: the worker passes without end'
brk x11-change-not-waking src/clipboard/clipboard_x11.cpp \
  's/(b\.owner = notice\.owner;)\n\s*b\.passWanted = true;/$1/' \
  'another program taking the X11 clipboard waits for the next regular look' linux-so
brk x11-answer-not-waking src/clipboard/clipboard_x11.cpp \
  's/(conversion\.answered = true;[^\n]*)\n\s*b\.passWanted = true;/$1/' \
  'a slow owner'"'"'s answer waits for the next regular look' linux-so
brk x11-serving-wakes src/clipboard/clipboard_x11.cpp \
  's/(request\.requestor, XCB_EVENT_MASK_NO_EVENT, wire\.data\(\)\);\n)/$1  b.passWanted = true;\n/' \
  'serving the plugin'"'"'s text to another program brings a pass of its own' linux-so
brk x11-notice-kept src/clipboard/clipboard_x11.cpp \
  's/\n\s*b\.passWanted = false;\n(\s*return wanted;)/\n$1/' \
  'the X11 wait never takes a notice: a text no read took brings passes without end' linux-so
brk x11-stop-lost src/clipboard/clipboard_x11.cpp \
  's/static_cast<void>\(write\(wakeFd_, &one, sizeof one\)\);/static_cast<void>(one);/' \
  'a stop does not end the X11 wait' linux-so
brk x11-notices-ignored src/clipboard/clipboard_x11.cpp \
  's/return notices;\n\}\n\nvoid clipboard::release/return nullptr;\n}\n\nvoid clipboard::release/' \
  'the Linux library hears no notices: it looks only every polling period' linux-so
brk x11-serving-late src/clipboard/clipboard_x11.cpp \
  's/connected \? xcb_get_file_descriptor\(b\.connection\) : -1/connected ? -1 : -1/' \
  'the X11 wait does not watch the connection: requests and changes wait for a pass' linux-so
brk x11-no-display-spins src/clipboard/clipboard_x11.cpp \
  's/if \(b\.passWanted \|\| left <= 0\) \{/if (b.passWanted || left <= 0 || !connected) {/' \
  'without a display the X11 wait returns at once: the worker spins' linux-so
brk x11-stop-waits-for-owner src/clipboard/clipboard_x11.cpp \
  's/\n\s*if \(ends\[1\]\.revents != 0\) \{\n[^\n]*\n\s*\}\n/\n/' \
  'a stop during a pass waits out a slow owner' linux-so
brk x11-no-nudge src/clipboard/clipboard_x11.cpp \
  's/if \(b\.owner == XCB_NONE \|\| conversion\.nudges >= MAX_NUDGES\)/if (true)/' \
  'an owner that holds its answer back until something reaches it is never read' linux-so
brk x11-deletes-read-text src/clipboard/clipboard_x11.cpp \
  's/xcb_change_property\(b\.connection, XCB_PROP_MODE_REPLACE, b\.window, property, XCB_ATOM_STRING, 8,\n\s*0, nullptr\);/xcb_delete_property(b.connection, b.window, property);/' \
  'a read text is deleted from its property, asking a refused INCR owner for a piece' linux-so
brk clip-buffer-kept src/clipboard/clipboard_channel.cpp \
  's/\n\s*releaseIfLarge\(channel\.currentText\);\n/\n/' \
  'a huge clipboard text pins its buffer for the rest of the session'
brk disp-stale-off-by-one src/plugin/dispatcher.cpp \
  's/if \(unchangedPasses < STALE_FRAME_PASSES\)/if (unchangedPasses <= STALE_FRAME_PASSES)/' \
  'the stale-frame reset comes one pass late'
brk disp-stale-no-free src/positional/placement.cpp \
  's/\n\s*host\.freeMemory\(clients\);\n/\n/' \
  'the reset never gives the client list back (missing freeMemory)'
brk disp-stale-not-waiting src/plugin/dispatcher.cpp \
  's/return;  \/\/ wait for the connection/\/\/ wait for the connection/' \
  'the reset runs while not connected'
brk disp-stale-lock-dropped src/plugin/dispatcher.cpp \
  's/\{\n\s*const std::lock_guard lock\(pluginState\.stateLock\);\n(\s*pluginState\.rcClients\.clear)/{\n$1/' \
  'the reset empties the radio lists without stateLock'
brk disp-placement-unlogged src/positional/placement.cpp \
  's/logError\("erreur Channelset3DAttributes"\);/static_cast<void>(0);/' \
  'a refused placement at the origin is not logged'
brk disp-mute-prefix src/plugin/dispatcher.cpp \
  's/argumentText == "ON"/argumentText.starts_with("ON")/' \
  '"3DMUTE" takes "ONx" for "ON"'
brk disp-reserved-answers src/plugin/dispatcher.cpp \
  's/(case Command::getChannelIDFromName:\n(?:\s*\/\/[^\n]*\n)*\s*)return nullptr;/${1}return handleGetVersion;/' \
  'the reserved command answers instead of doing nothing'
brk disp-stale-radio-waits src/plugin/dispatcher.cpp \
  's/if \(unchangedPasses == STALE_FRAME_PASSES\) \{/if (unchangedPasses == STALE_FRAME_PASSES \&\& pluginState.connectionStatus.load() == STATUS_CONNECTION_ESTABLISHED) {/' \
  'with the connection lost, the radio static plays on until the player is connected again'

# --- src/commands ---
brk query-failed-answer src/commands/queries.cpp \
  's/FAILED_ANSWER = "-1"/FAILED_ANSWER = "0"/' \
  'a failed query answers "0" instead of "-1"'
brk query-status-check src/commands/queries.cpp \
  's/connectionStatus\.load\(\) == STATUS_CONNECTION_ESTABLISHED; \}/connectionStatus.load() != STATUS_DISCONNECTED; }/' \
  'queries are answered while the connection is still being made'
brk query-first-match src/commands/queries.cpp \
  's/std::strcmp\(nickname, name\) == 0\)/std::strcmp(nickname, name) == 0 \&\& !found)/' \
  'the first client bearing the name wins instead of the last'
brk query-nickname-leak src/commands/queries.cpp \
  's/\n\s*const HostMemory nameMemory\(name\);\n/\n/' \
  'nicknames are never given back (missing freeMemory)'
brk query-nickname-failure-skipped src/commands/queries.cpp \
  's/(CLIENT_PROPERTY_NICKNAME, &name\) != 0\) \{\n\s*)return std::nullopt;/${1}continue;/' \
  'a nickname that cannot be read is skipped instead of failing the query'
brk query-channel-unlogged src/commands/queries.cpp \
  's/(\s*)logError\("erreur getChannelOfClient"\);\n/\n/' \
  'a failed getChannelOfClient is not logged'
brk switch-fields-swapped src/commands/switch_player.cpp \
  's/(\s*const std::string clientField = takeField\(argumentText\);)(\n\s*const std::string channelField = takeField\(argumentText\);)/$2$1/' \
  'client and channel are taken in the wrong order'
brk switch-status-check src/commands/switch_player.cpp \
  's/connectionStatus\.load\(\) != STATUS_CONNECTION_ESTABLISHED\)/connectionStatus.load() == STATUS_DISCONNECTED)/' \
  'moves are requested while the connection is still being made'
brk fields-comma-kept src/clipboard/fields.cpp \
  's/remaining\.erase\(0, comma \+ 1\);/remaining.erase(0, comma);/' \
  'the comma after a field stays in front of the next one'
brk fields-upper-bound src/clipboard/fields.h \
  's/magnitude <= largest \?/magnitude <= largest + 1 ?/' \
  'a number one past the type'"'"'s largest is accepted and wraps around'
brk connect-default-nickname src/commands/connect_to_server.cpp \
  's/DEFAULT_NICKNAME = "TS3 User"/DEFAULT_NICKNAME = "TS3User"/' \
  'the default nickname is wrong'
brk connect-identity-check src/commands/connect_to_server.cpp \
  's/identity == nullptr \|\| identity\[0\] == .\\0./identity == nullptr/' \
  'an empty identity is handed to startConnection'
brk connect-wait-limit src/commands/connect_to_server.h \
  's/DISCONNECT_WAIT_LIMIT\{5000\}/DISCONNECT_WAIT_LIMIT{500}/' \
  'the voice client gets half a second, not five, to disconnect'
brk connect-second-connection src/commands/connect_to_server.cpp \
  's/host\.startConnection\(connection,/host.startConnection(pluginState.currentServerConnection.load(),/' \
  'the new server starts on whatever connection is current after the wait, not on the one left'
brk connect-port-unchecked src/commands/connect_to_server.cpp \
  's/if \(\*port < MIN_PORT \|\| \*port > MAX_PORT\)/if (*port < MIN_PORT)/' \
  'a port above 65535 leaves the player'"'"'s server for a connection that cannot succeed'
brk query-second-connection src/commands/queries.cpp \
  's/pluginState\.host\.getChannelOfClient\(connection,/pluginState.host.getChannelOfClient(pluginState.currentServerConnection.load(),/' \
  'a query asks for the channel on whatever connection became current meanwhile'
brk identity-chunk-kept src/commands/client_identity.cpp \
  's/\n\s*secureZero\(chunk\.data\(\), chunk\.size\(\)\);[^\n]*\n/\n/' \
  'the read buffer keeps its piece of the identity'
brk identity-inner-cr-dropped src/commands/client_identity.cpp \
  's/(pendingReturn_ = false;\n\s*)append\(.\\r.\);  \/\/ a CR inside/${1}\/\/ a CR inside/' \
  'a CR inside the value is lost'
brk identity-capacity-off-by-one src/commands/client_identity.cpp \
  's/if \(length_ \+ 1 >= capacity_\)/if (length_ >= capacity_)/' \
  'a value that fills the buffer leaves no room for its terminating zero'
brk identity-cut-read-kept src/commands/client_identity.cpp \
  's/(if \(readFailed\) \{\n[^\n]*\n)\s*secureZero\(identity, PATH_BUFFER_SIZE\);\n/$1/' \
  'a value cut short by a failed read is kept as the identity'
brk identity-too-long-unlogged src/commands/client_identity.cpp \
  's/logError\("erreur readClientIdentity: identite trop longue"\);/static_cast<void>(0);/' \
  'an identity too long for the buffer is refused without a word'

# --- src/positional ---
brk frame-y-z-swapped src/positional/position_frame.cpp \
  's/Vector3\{\*x, \*y, \*z\}/Vector3{*x, *z, *y}/' \
  'y and z swapped: the game writes x, z, y'
brk frame-last-record-off-by-one src/positional/position_frame.cpp \
  's/frameText\.size\(\) - 2 : 0/frameText.size() - 1 : 0/' \
  'the last record keeps its closing brace'
brk frame-stream-space src/positional/position_frame.cpp \
  's/c >= .\\t. && c <= .\\r./c >= '"'"'\\t'"'"' \&\& c < '"'"'\\r'"'"'/' \
  'a carriage return before a number is not skipped'
brk frame-dangling-exponent src/positional/position_frame.cpp \
  's/number\.find_first_of\("eE"\) == std::string_view::npos/number.find_first_of("eE") != std::string_view::npos/' \
  '"1e" reads as 1 where a stream fails'
brk place-rc-stays-rl src/positional/placement.cpp \
  's/(rcClients\.add\(record\.clientId\);\n)\s*rlClients\.remove\(record\.clientId\);\n/$1/' \
  'joining RC does not leave RL'
brk place-cd-keeps-rc src/positional/placement.cpp \
  's/(case RadioFlag::CD:\n)\s*rcClients\.remove\(record\.clientId\);\n/$1/' \
  '"[CD]" leaves the client on RC'
brk place-refused-flag-applied src/positional/placement.cpp \
  's/(\} else \{\n)(\s*)(logRefusal\(result, record->clientId\);)/$1$2applyFlag(*record, rcClients, rlClients);\n$2$3/' \
  'a refused placement still applies its flag'
brk place-refusal-text src/positional/placement.cpp \
  's/INVALID_ID_TEXT = "Erreur_ID_invalide:"/INVALID_ID_TEXT = "Erreur_ID_invalide"/' \
  'the refusal line loses its colon'
brk place-compact-duplicates src/positional/placement.cpp \
  's/if \(members_\[\*entry\] && !kept\[\*entry\]\)/if (members_[*entry])/' \
  'compacting a long list keeps a client that joined twice twice'
brk place-lock-dropped src/positional/placement.cpp \
  's/\n\s*const std::lock_guard lock\(pluginState\.stateLock\);\n/\n/' \
  'a frame rebuilds the radio lists without stateLock'
brk cue-noise-period src/positional/sound_cues.h \
  's/NOISE_CUE_PERIOD\{818\}/NOISE_CUE_PERIOD{800}/' \
  'the noise cue repeats before the last one ends'
brk cue-no-start-gap src/positional/sound_cues.cpp \
  's/(state\.rlCueStarted = true;\n)\s*pacer\.pause\(START_CUE_GAP\);\n/$1/' \
  'no gap between the RL start cue and the noise cue'
brk cue-rc-not-rearmed src/positional/sound_cues.cpp \
  's/\n\s*state\.rcCueStarted = state\.rcCueStarted && rcCount != 0;\n/\n/' \
  'a refilled RC list gets no start cue while RL keeps the cues going'
brk cue-rl-log-text src/positional/sound_cues.cpp \
  's/playCue\(files\.rl, "erreur SON_RL"\)/playCue(files.rl, "erreur SON_RC")/' \
  'a failed RL cue is logged as the RC one'
brk cue-stops-on-disconnect src/positional/sound_cues.cpp \
  's/if \(!state\.cueing && pluginState/if (pluginState/' \
  'a lost connection cuts the cues short'

# --- src/plugin ---
brk panel-waits-for-lists src/plugin/info_panel.cpp \
  's/(std::string gameText\(ServerConnectionId connection, Milliseconds now\) \{\n)/$1  const std::lock_guard lock(pluginState.stateLock);\n/' \
  'the info panel waits for stateLock, which a worker holds across calls into the voice client'
brk panel-refresh-unthrottled src/plugin/info_panel.cpp \
  's/now - Milliseconds\(refresh\.askedAt\) < INFO_REFRESH_PERIOD/false/' \
  'the info panel is refreshed on every pass that took a request, not once a second'
brk panel-refresh-while-idle src/plugin/info_panel.cpp \
  's/if \(requests == refresh\.requestsShown\) \{/if (false) {/' \
  'the info panel is refreshed once a second while the game is silent'
brk panel-radio-kept src/plugin/info_panel.cpp \
  's/spot\.generation == panel\.listGeneration \? spot\.radio : RadioList::none/spot.radio/' \
  'a client keeps its radio in the info panel after the lists changed without it'
brk panel-text-not-freed src/plugin/info_panel.cpp \
  's/void freeInfoPanelText\(void\* text\) noexcept \{ std::free\(text\); \}/void freeInfoPanelText(void* text) noexcept { static_cast<void>(text); }/' \
  'ts3plugin_freeMemory leaks the info panel'"'"'s text (caught end to end only)'
brk lifecycle-identity-unwiped src/plugin/lifecycle.cpp \
  's/\n\s*secureZero\(pluginState\.identityBuffer, PATH_BUFFER_SIZE\);\n/\n/' \
  'the identity is left in freed memory at shutdown'
brk lifecycle-identity-late src/plugin/lifecycle.cpp \
  's/\n\s*\/\/ Before the workers start[^\n]*\n\s*readClientIdentity\(\);\n(.*?\n  \}\n)(\}\n)/\n$1  readClientIdentity();\n$2/s' \
  'the identity is read after the connection is asked for (wrong order)'
brk lifecycle-status-check src/plugin/lifecycle.cpp \
  's/if \(host\.getConnectionStatus\(pluginState\.currentServerConnection\.load\(\), &status\) == 0\)/if (host.getConnectionStatus(pluginState.currentServerConnection.load(), \&status) != 0)/' \
  'the status is taken only when asking for it failed'
brk exports-double-init src/plugin/exports.cpp \
  's/\n\s*pluginState\.running\.store\(true\);\n/\n/' \
  'a second init without shutdown starts the workers again'
brk exports-callback-connection src/plugin/exports.cpp \
  's/(unsigned int \/\*errorNumber\*\/\) \{\n\s*)pluginState\.currentServerConnection\.store\(serverConnection\);/${1}static_cast<void>(serverConnection);/' \
  'a status change does not make its connection the current one'
brk workers-notices-ignored src/plugin/workers.cpp \
  's/kind = clipboardTurn\(channel, \*kind, notices\.get\(\)\);/kind = clipboardTurn(channel, *kind, nullptr);/' \
  'the worker never listens for notices: a change waits for the next regular look'
brk workers-extra-pass-moves-look src/plugin/workers.cpp \
  's/if \(kind == PassKind::regular\) \{\n(\s*\/\/ From)/if (kind == PassKind::regular || kind == PassKind::notice) {\n$1/' \
  'a notice moves the regular looks'
brk pacer-stop-not-waking-notices src/shared/pacer.cpp \
  's/\n\s*notices_->wake\(\);[^\n]*\n/\n/' \
  'a stop does not end a wait for notices'
brk pacer-attachment-dropped src/shared/pacer.cpp \
  's/stop_\.attach\(before\);/static_cast<void>(before);\n  stop_.attach(nullptr);/' \
  'a wait drops the notices attached for the life of the worker: a stop during a pass is not heard'
brk pacer-stop-unseen src/shared/pacer.cpp \
  's/return !wake_\.wait_for/return wake_.wait_for/' \
  'a pause cut short by a stop reports that the worker may go on'
brk state-secure-zero-short src/shared/plugin_state.cpp \
  's/for \(std::size_t i = 0; i < size; \+\+i\)/for (std::size_t i = 0; i + 1 < size; ++i)/' \
  'wiping a secret leaves its last byte'

# --- src/interfaces ---
brk version-line-3-5 src/interfaces/client_version.cpp \
  's/case 5:\n      return 24;/case 5:\n      return 23;/' \
  'clients 3.5 are told interface 23, which they refuse'
brk version-no-signature src/interfaces/client_version.cpp \
  's/doubleWord\(fixedInfo, 0\) != FIXED_INFO_SIGNATURE/false/' \
  'a block without the fixed-info signature is read as a version'
brk path-shape-with-id src/interfaces/interface26.cpp \
  's/interface < FIRST_WITH_ID /interface < FIRST_WITH_ID - 2 /' \
  'interfaces 19 and 20 wait for a plugin ID their getPluginPath does not take'
brk late-table-wrapped src/interfaces/interface26.cpp \
  's/  if \(installHost\(host\)\) \{\n    const std::lock_guard lock\(idLock\);/  installHost(host);\n  {\n    const std::lock_guard lock(idLock);/' \
  'a table handed over while the plugin runs replaces the wrapped entries'

# --- src/shared ---
brk host-invalid-client-id src/shared/host.h \
  's/ERROR_INVALID_CLIENT_ID = 0x200;/ERROR_INVALID_CLIENT_ID = 0x201;/' \
  'the unknown-client error code is wrong'
brk log-severity src/shared/log.cpp \
  's/LOG_SEVERITY_ERROR = 4;/LOG_SEVERITY_ERROR = 3;/' \
  'log lines go out with the wrong severity'
brk log-cut-off-by-one src/shared/log.cpp \
  's/line\.size\(\) - 1\)/line.size() - 2)/' \
  'a long log line is cut one character short'
brk log-null-entry src/shared/log.cpp \
  's/if \(logMessage == nullptr\) \{\n\s*return;\n\s*\}\n//' \
  'a voice client without a log entry is called through a null pointer'

# --- tools ---
brk send-count-after-write tools/send/send.cpp \
  's/(const Milliseconds deadline = pacer\.now\(\) \+ options\.timeout;\n)/$1  seen = clipboard::changeCount();\n/' \
  'sorlinx-send takes a reply that came before its first look for its own request'

# --- options ---
list=0
dry=0
cleanRun=1
tree=""
wanted=()
for arg in "$@"; do
  case $arg in
    --list) list=1 ;;
    --dry-run) dry=1 ;;
    --no-clean-run) cleanRun=0 ;;
    -h | --help)
      sed -n '2,/^set -uo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'
      exit 0
      ;;
    -*)
      echo "unknown option $arg" >&2
      exit 2
      ;;
    *)
      if [ -z "$tree" ] && [ ${#wanted[@]} -eq 0 ] && [ -d "$arg" ]; then
        tree=$(cd "$arg" && pwd)
      else
        wanted+=("$arg")
      fi
      ;;
  esac
done
[ -n "$tree" ] || tree=$(cd "$(dirname "$0")/.." && pwd)

if [ $list -eq 1 ]; then
  for i in "${!ids[@]}"; do
    printf '%-32s %-9s %-40s %s\n' "${ids[$i]}" "${presets[$i]}" "${files[$i]}" "${notes[$i]}"
  done
  exit 0
fi

selected=()
if [ ${#wanted[@]} -eq 0 ]; then
  selected=("${!ids[@]}")
else
  for id in "${wanted[@]}"; do
    found=""
    for i in "${!ids[@]}"; do
      [ "${ids[$i]}" = "$id" ] && found=$i
    done
    if [ -z "$found" ]; then
      echo "no break called $id (see --list)" >&2
      exit 2
    fi
    selected+=("$found")
  done
fi

cd "$tree" || exit 2
logs="$tree/build/breaks"
mkdir -p "$logs"
saved=$(mktemp)
current=""  # the file under a break, to put back on any exit

restore() {
  if [ -n "$current" ]; then
    # A plain copy, not cp -p: the restored file must look newer than the objects built
    # from the broken one, or the next build would keep them.
    cat "$saved" >"$current"
    current=""
  fi
}
trap 'restore; rm -f "$saved"' EXIT
trap 'echo; echo "interrupted: the file under a break is put back"; exit 130' INT TERM

# Applies SUBSTITUTION to FILE when it matches exactly once; exits 3 (and says how often it
# matched) otherwise, leaving the file as it was.
apply() {
  perl -e '
    my ($file, $subst) = @ARGV;
    open(my $in, "<", $file) or die "$file: $!\n";
    my $text = do { local $/; <$in> };
    close $in;
    my $copy = $text;
    my $count = eval "\$copy =~ ${subst}g";
    die "the substitution does not compile: $@" if $@;
    $count ||= 0;
    if ($count != 1) { print STDERR "matched $count times\n"; exit 3; }
    eval "\$text =~ $subst";
    open(my $out, ">", $file) or die "$file: $!\n";
    print $out $text;
    close $out;
  ' "$1" "$2"
}

build() { cmake --build --preset "$1" -j2; }

# The presets the selected breaks need, each built (and tested) unbroken first.
used=()
for i in "${selected[@]}"; do
  [[ " ${used[*]} " == *" ${presets[$i]} "* ]] || used+=("${presets[$i]}")
done
if [ $dry -eq 0 ]; then
  for preset in "${used[@]}"; do
    echo "== $tree: building and testing the unbroken tree ($preset)"
    if [ ! -f "build/$preset/build.ninja" ]; then
      cmake --preset "$preset" >>"$logs/clean.log" 2>&1 ||
        { echo "configure failed: see $logs/clean.log"; exit 1; }
    fi
    if ! build "$preset" >>"$logs/clean.log" 2>&1; then
      echo "the unbroken tree does not build: see $logs/clean.log"
      exit 1
    fi
    if [ $cleanRun -eq 1 ] && ! ctest --preset "$preset" >>"$logs/clean.log" 2>&1; then
      echo "the unbroken tree fails its tests: see $logs/clean.log"
      exit 1
    fi
  done
fi

results=()
caught=0
missed=0
nobuild=0
notApplied=0
start=$(date +%s)
for i in "${selected[@]}"; do
  id=${ids[$i]}
  file=${files[$i]}
  preset=${presets[$i]}
  log="$logs/$id.log"
  began=$(date +%s)
  detail=""
  cp "$file" "$saved"
  current=$file
  if ! apply "$file" "${substs[$i]}" 2>"$log" || cmp -s "$file" "$saved"; then
    status=NOT-APPLIED
    detail=$(head -1 "$log")
  elif [ $dry -eq 1 ]; then
    status=APPLIES
  elif ! build "$preset" >>"$log" 2>&1; then
    status=NOBUILD
  elif ctest --preset "$preset" >>"$log" 2>&1; then
    status=MISSED
  else
    failed=$(sed -n '/The following tests FAILED:/,$p' "$log" | grep -E '^[[:space:]]+[0-9]+ - ' |
      sed -E 's/^[[:space:]]+[0-9]+ - ([^ ]+).*/\1/' | tr '\n' ' ')
    # A failure that does not repeat is the machine's, not the break's.
    echo "== rerunning the failed tests" >>"$log"
    if ctest --preset "$preset" --rerun-failed >>"$log" 2>&1; then
      status=MISSED
      detail="flaky: $failed"
    else
      status=CAUGHT
      detail=$failed
    fi
  fi
  restore
  took=$(($(date +%s) - began))
  case $status in
    CAUGHT) caught=$((caught + 1)) ;;
    MISSED) missed=$((missed + 1)) ;;
    NOBUILD) nobuild=$((nobuild + 1)) ;;
    NOT-APPLIED) notApplied=$((notApplied + 1)) ;;
  esac
  line=$(printf '%-32s %-11s %4ss  %s' "$id" "$status" "$took" "$detail")
  echo "$line"
  results+=("$line")
done

if [ $dry -eq 0 ]; then
  # Leave the build as the sources are.
  : >"$logs/final.log"
  for preset in "${used[@]}"; do
    build "$preset" >>"$logs/final.log" 2>&1 || echo "the final rebuild failed: see $logs/final.log"
  done
fi

total=$(($(date +%s) - start))
echo
echo "== Summary for $tree"
printf '%-32s %-11s %5s  %s\n' "break" "result" "time" "failing tests"
printf '%s\n' "${results[@]}"
echo
echo "breaks: ${#selected[@]}  caught: $caught  missed: $missed  nobuild: $nobuild  not applied: $notApplied"
if [ ${#selected[@]} -gt 0 ]; then
  echo "time: ${total} s, $((total / ${#selected[@]})) s a break"
fi
[ $notApplied -eq 0 ] && [ $nobuild -eq 0 ]
