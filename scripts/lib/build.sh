# Sourced by the scripts that build a preset before they use it.
#
#   build_preset PRESET [CMAKE_OPTION...]
#                          configures PRESET with the options and builds it,
#                          with the output of both kept aside: nothing is
#                          shown when the build succeeds; when it fails, its
#                          whole output is shown and then, as the last line,
#                          which build failed.

build_preset() {
  local preset=$1 log status=0
  shift
  log=$(mktemp "${TMPDIR:-/tmp}/kavrel-build.XXXXXX") || return 1
  { cmake --preset "$preset" "$@" && cmake --build --preset "$preset" --parallel "$(nproc)"; } \
    >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$log" >&2
    echo "$(basename "$0"): the $preset build failed; its output is above" >&2
  fi
  rm -f "$log"
  return "$status"
}
