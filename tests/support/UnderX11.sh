#!/bin/sh
# Runs one case of a test program on a private X server (Xvfb, on the first
# free display) with a window manager (openbox) and quick key auto-repeat:
#   UnderX11.sh <test program> <test case> [arguments for the program]
# Exits 77 (skipped) where Xvfb or openbox is missing.
set -u
for tool in Xvfb openbox; do
  command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed (scripts/install-deps.sh)"; exit 77; }
done
work=$(mktemp -d) || exit 1
server= manager=
trap 'kill $manager $server 2>/dev/null; wait; rm -rf "$work"' EXIT
trap 'exit 143' INT TERM
# The line a program writes into a fifo once it is ready, within 20 seconds.
ready() { timeout 20 sh -c 'read -r line <"$1" && echo "$line"' sh "$work/$1"; }

mkfifo "$work/display" "$work/manager"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 & server=$!
number=$(ready display)
[ -n "$number" ] || { cat "$work/xvfb.log"; echo "Xvfb did not start"; exit 1; }
export DISPLAY=":$number"
# Openbox drops what windows ask for while it starts: wait for its start-up command.
openbox --sm-disable --startup "sh -c 'echo ready >\"$work/manager\"'" >"$work/openbox.log" 2>&1 & manager=$!
[ "$(ready manager)" = ready ] || { cat "$work/openbox.log"; echo "openbox did not start"; exit 1; }
command -v xset >/dev/null 2>&1 && xset r on r rate 40 66

# A case name that matches nothing would pass without running.
program=$1 case=$2
shift 2
"$program" --gtest_list_tests --gtest_filter="$case" | grep -q '^  ' || { echo "$program has no test case $case"; exit 1; }
"$program" --gtest_filter="$case" "$@"
