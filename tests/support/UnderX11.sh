#!/bin/sh
# Runs a test program on a private X server (Xvfb) with a window manager
# (openbox) and the server's key auto-repeat on, as on a user's desktop:
#   UnderX11.sh <test program> <test case> [arguments for the program]
# The server takes the first free display itself, so runs in parallel never
# meet. Exits 77 (counted as skipped) with the reason where Xvfb or openbox
# is missing.
set -u
for tool in Xvfb openbox; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "skipped: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d) || exit 1
server=
manager=
finish() {
  [ -n "$manager" ] && kill "$manager" 2>/dev/null && wait "$manager" 2>/dev/null
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT
trap 'exit 143' INT TERM

# The server writes its display number once it accepts connections.
mkfifo "$work/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
server=$!
number=$(timeout 20 sh -c 'read -r line <"$1" && echo "$line"' sh "$work/display")
if [ -z "${number:-}" ]; then
  cat "$work/xvfb.log"
  echo "Xvfb did not start"
  exit 1
fi
export DISPLAY=":$number"
# Openbox drops what windows ask for while it starts: the test begins once
# it runs its start-up command.
mkfifo "$work/manager"
openbox --sm-disable --startup "sh -c 'echo ready >\"$work/manager\"'" >"$work/openbox.log" 2>&1 &
manager=$!
state=$(timeout 20 sh -c 'read -r line <"$1" && echo "$line"' sh "$work/manager")
if [ "${state:-}" != ready ]; then
  cat "$work/openbox.log"
  echo "openbox did not start"
  exit 1
fi
if command -v xset >/dev/null 2>&1; then xset r on; fi

# A case name that matches nothing would pass without running.
program=$1
case=$2
shift 2
if ! "$program" --gtest_list_tests --gtest_filter="$case" | grep -q '^  '; then
  echo "$program has no test case $case"
  exit 1
fi
"$program" --gtest_filter="$case" "$@"
exit $?
