# Sourced by every script that runs kavrel under Wine, and by the dependency
# installer. The one place that decides how this host runs Windows programs,
# by trying rather than guessing:
#
#   wine_host_decide       can this host run 32-bit x86 code natively, only
#                          emulated, or not at all; is Wine's 32-bit half
#                          there. Sets
#                            WINE_HOST_X86     native | emulated | none | off
#                            WINE_PRESETS      the Windows presets that run
#                                              here: "windows-x86 windows-x64"
#                                              or "windows-x64"
#                            WINE_X86_MISSING  why windows-x86 cannot run here
#                                              (empty when it can)
#                            WINE              the Wine loader to run programs with
#   wine_prefix_create     makes a new 64-bit prefix (it runs both the x86 and
#                          the x64 programs) and exports WINEPREFIX; fails with
#                          a message when making it does not end in time
#   wine_prefix_remove     ends every process in it and deletes it
#   wine_bounded SECONDS COMMAND...
#                          runs COMMAND, ended after SECONDS, in the
#                          background and waits for it: bash runs a trap at
#                          once during a wait, but only after a command in
#                          the foreground has ended
#   wine_traps             installs the traps: on an interrupt, whatever runs
#                          in the background (a timeout, which passes the
#                          signal on) and every process in the prefix are
#                          ended; on any exit the prefix goes
#   windows_path PATH      PATH as programs under Wine see it, on drive Z:
#
# KAVREL_X64_ONLY=1 forces the 64-bit-only way on any host: only windows-x64
# runs, through Wine's 64-bit loader, and Wine's 32-bit half is not installed.
#
# When scripts/install-deps could not install Wine's 32-bit half, it keeps the
# reason in the file WINE_X86_NOT_INSTALLED, and WINE_X86_MISSING gives it.

export WINEDEBUG=-all
# No prompts to fetch the .NET and HTML engines: nothing here needs them.
# No Wayland driver (Wine 10's): nothing here has a Wayland display, and
# without XDG_RUNTIME_DIR it prints an error at every start.
export WINEDLLOVERRIDES="mscoree,mshtml=;winewayland.drv="
export WINEARCH=win64

# Wine takes no relative prefix folder: a relative TMPDIR, in which the
# prefix is made, is made absolute first, from the folder the sourcing
# script is in at the time (scripts/demo and scripts/test source this before
# they change folder).
if [[ -n ${TMPDIR:-} && $TMPDIR != /* && -d $TMPDIR ]]; then
  TMPDIR=$(cd -- "$TMPDIR" && pwd)
  export TMPDIR
fi

# Debian's loaders: the `wine` launcher picks the 32-bit one whenever it is
# installed, and that one cannot start on a host without 32-bit code.
WINE_LOADER_32=${WINE_LOADER_32:-/usr/lib/wine/wine}
WINE_LOADER_64=${WINE_LOADER_64:-/usr/lib/wine/wine64}

WINE_X86_NOT_INSTALLED=${WINE_X86_NOT_INSTALLED:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)/build/wine32-not-installed.txt}

# How long making a prefix may take before it counts as hung.
readonly wine_prefix_timeout_s=180

# Runs the smallest 32-bit x86 Linux program (it only exits with status 0):
# succeeds exactly when this kernel starts 32-bit x86 code, natively or
# through an emulator.
wine_host_runs_i386() {
  local program status=0
  program=$(mktemp "${TMPDIR:-/tmp}/kavrel-i386.XXXXXX") || return 1
  printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$program"
  chmod +x "$program"
  timeout 20 "$program" 2>/dev/null || status=$?
  rm -f "$program"
  return "$status"
}

# Succeeds when the kernel hands 32-bit x86 programs to an emulator: an
# enabled binfmt_misc entry whose magic is that of an i386 ELF program
# (class 32-bit, machine 3). Such an entry takes precedence over native
# execution.
wine_host_emulates_i386() {
  local entry
  for entry in "${WINE_BINFMT_DIR:-/proc/sys/fs/binfmt_misc}"/*; do
    [ -f "$entry" ] || continue
    grep -qx enabled "$entry" 2>/dev/null || continue
    # 32-bit ELF (7f 'E' 'L' 'F' 01) with e_machine, at byte 18, 03 00:
    # the i386 entry, not that of another 32-bit processor.
    grep -qE '^magic 7f454c4601.{26}0300' "$entry" 2>/dev/null && return 0
  done
  return 1
}

# Succeeds when Wine's 32-bit loader is installed and starts.
wine_has_32bit_half() {
  [ -x "$WINE_LOADER_32" ] && timeout 60 "$WINE_LOADER_32" --version >/dev/null 2>&1
}

# What the host can do for 32-bit x86 code: native, emulated or none; "off"
# when KAVREL_X64_ONLY asks for the 64-bit-only way. Needs no Wine.
# KAVREL_HOST_X86_KIND gives the answer instead, for the scripts' own checks.
wine_host_x86_kind() {
  if [ -n "${KAVREL_HOST_X86_KIND:-}" ]; then
    echo "$KAVREL_HOST_X86_KIND"
  elif [ "${KAVREL_X64_ONLY:-0}" = 1 ]; then
    echo off
  elif ! wine_host_runs_i386; then
    echo none
  elif wine_host_emulates_i386; then
    echo emulated
  else
    echo native
  fi
}

wine_host_decide() {
  WINE_HOST_X86=$(wine_host_x86_kind)
  WINE_X86_MISSING=
  case "$WINE_HOST_X86" in
    off) WINE_X86_MISSING="KAVREL_X64_ONLY=1 asks for the 64-bit programs only" ;;
    none) WINE_X86_MISSING="this host cannot run 32-bit x86 programs (its kernel has 32-bit emulation switched off)" ;;
    emulated) WINE_X86_MISSING="this host runs 32-bit x86 programs only through an emulator, too slowly for Wine" ;;
    native)
      if wine_has_32bit_half; then
        :
      elif [ -s "$WINE_X86_NOT_INSTALLED" ]; then
        WINE_X86_MISSING=$(head -n 1 "$WINE_X86_NOT_INSTALLED")
      else
        WINE_X86_MISSING="Wine's 32-bit half ($WINE_LOADER_32, Debian's wine32:i386) is not installed or does not start"
      fi ;;
  esac
  if [ -z "$WINE_X86_MISSING" ]; then
    WINE_PRESETS="windows-x86 windows-x64"
    WINE=wine
  else
    WINE_PRESETS="windows-x64"
    WINE=$WINE_LOADER_64
    # Programs that Wine starts on its own (kavrel's children among them)
    # go through this loader too.
    export WINELOADER=$WINE_LOADER_64
  fi
}

wine_bounded() {
  local limit=$1
  shift
  timeout --kill-after=5 "$limit" "$@" &
  wait $!
}

wine_prefix_create() {
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-wine.XXXXXX")
  export WINEPREFIX
  local started=$SECONDS
  if ! wine_bounded "$wine_prefix_timeout_s" "$WINE" wineboot --init >/dev/null 2>&1 ||
    ! wine_bounded $((wine_prefix_timeout_s - (SECONDS - started) + 1)) wineserver --wait; then
    echo "making the Wine prefix failed or did not finish within ${wine_prefix_timeout_s} s" >&2
    return 1
  fi
  wine_server_keep
}

# Keeps the prefix's Wine server running until wine_prefix_remove ends it.
# Left to itself it ends a few seconds after its last program, and the next
# program starts a new one; Wine 10.0 then now and then loses the start of
# that program (the installer scenes lost 1 to 3 of their 10 scenes a run
# that way on Debian 13, none in three runs with the server kept).
wine_server_keep() {
  wineserver --persistent
}

wine_prefix_remove() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  # An interrupt now would end the script with the prefix half removed.
  trap '' INT TERM HUP
  wineserver --kill >/dev/null 2>&1 || true
  timeout 30 wineserver --wait >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}

# For a pipeline in the background, `jobs -p` names its first command, so a
# `timeout` that begins a pipeline is ended too.
wine_interrupted() {
  local pids
  pids=$(jobs -p)
  [ -z "$pids" ] || kill -TERM $pids 2>/dev/null || true
  [ -z "${WINEPREFIX:-}" ] || wineserver --kill >/dev/null 2>&1 || true
  exit 130
}

wine_traps() {
  trap wine_prefix_remove EXIT
  trap wine_interrupted INT TERM HUP
}

windows_path() {
  local path
  path=$(realpath "$1")
  echo "Z:${path//\//\\}"
}
