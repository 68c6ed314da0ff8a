#!/usr/bin/env bash
# CTest's runner for the Windows tests (scripts/windows/wine.sh, write_wine_test_runner) starts a
# program once more only when Wine ended it with a failure before it wrote anything, keeps the
# program's status and output, and lists each restart. A stand-in for wine-run plays the program.
#
# usage: wine_test_runner_test.sh WORK_FOLDER
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$1
rm -rf "$work"
mkdir -p "$work"
. "$root/scripts/windows/wine.sh"
write_wine_test_runner "$work"

# The stand-in's first argument names its behaviour; it counts its starts in $work/starts.
cat >"$work/wine-run" <<'PLAY'
#!/bin/sh
starts=$(( $(cat "$(dirname "$0")/starts" 2>/dev/null || echo 0) + 1 ))
echo $starts >"$(dirname "$0")/starts"
case "$1" in
  fails-loudly) echo "[  FAILED  ] Suite.Case"; exit 1 ;;
  passes-quietly) exit 0 ;;
  dies-silently-once) [ $starts = 1 ] && exit 66; echo "[  PASSED  ] 1 test."; exit 0 ;;
  dies-silently-always) exit 66 ;;
  says-why-on-stderr-only) echo "wine: cannot start" >&2; exit 3 ;;
esac
PLAY
chmod +x "$work/wine-run"

failures=0
# behaviour | expected status | expected starts | expected output (stdout) | expected restarts
while IFS='|' read -r behaviour status starts output restarts; do
  rm -f "$work/starts" "$work/wine-restarts.log"
  actual_output=$("$work/wine-test" "$behaviour" --gtest_filter=Suite.Case 2>/dev/null) && actual_status=0 ||
    actual_status=$?
  actual_starts=$(cat "$work/starts")
  listed="exit status [0-9]* after [0-9.]* s, nothing written: $behaviour --gtest_filter=Suite.Case"
  actual_restarts=0
  if [ -f "$work/wine-restarts.log" ]; then
    actual_restarts=$(grep -c "$listed" "$work/wine-restarts.log" || true)
  fi
  if [ "$actual_status|$actual_starts|$actual_output|$actual_restarts" != "$status|$starts|$output|$restarts" ]; then
    echo "FAIL $behaviour: status $actual_status, $actual_starts start(s), output [$actual_output]," \
      "$actual_restarts restart(s) listed; expected $status, $starts, [$output], $restarts"
    failures=$((failures + 1))
  else
    echo "ok: $behaviour"
  fi
done <<'CASES'
fails-loudly|1|1|[  FAILED  ] Suite.Case|0
passes-quietly|0|1||0
dies-silently-once|0|2|[  PASSED  ] 1 test.|1
dies-silently-always|66|2||1
says-why-on-stderr-only|3|2||1
CASES
[ $failures = 0 ]
