# Sourced by the scripts that run kavrel under Wine: a throwaway Wine prefix
# of its own for each run, removed again with everything still running in it.
#
#   wine_prefix_create     makes a new 64-bit prefix (it runs both the x86 and
#                          the x64 programs) and exports WINEPREFIX
#   wine_prefix_remove     ends every process in it and deletes it
#   windows_path PATH      PATH as programs under Wine see it, on drive Z:

export WINEDEBUG=-all
# No prompts to fetch the .NET and HTML engines: nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

wine_prefix_create() {
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/kavrel-wine.XXXXXX")
  export WINEPREFIX
  wineboot --init >/dev/null 2>&1
  wineserver --wait
}

wine_prefix_remove() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || return 0
  wineserver --kill >/dev/null 2>&1 || true
  wineserver --wait >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}

windows_path() {
  local path
  path=$(realpath "$1")
  echo "Z:${path//\//\\}"
}
