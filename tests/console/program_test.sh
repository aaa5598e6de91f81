#!/bin/sh
# mvxtvup-cli as a script runs it: the exit status of each kind of run, the
# record after units that finish, and a record that a kill in the middle of a
# unit leaves whole.  usage: program_test.sh MVXTVUP-CLI TVUTOOL
set -u
cli=$1
tvutool=$2
dir=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; rm -rf "$dir"' EXIT
cd "$dir" || exit 1
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

head -c 5000 /dev/urandom > image.bin
"$tvutool" build --version 201035 image.bin good.tvu > /dev/null || exit 1
"$tvutool" build --version 211035 image.bin mockup.tvu > /dev/null || exit 1
printf 'not a package' > bad.tvu

# status  stdin      what the output must hold  arguments
while IFS='|' read -r status input needle args; do
  # shellcheck disable=SC2086
  out=$("$cli" $args < "$input" 2>&1)
  got=$?
  [ "$got" = "$status" ] || fail "mvxtvup-cli $args: exit $got, not $status: $out"
  case $out in *"$needle"*) ;; *) fail "mvxtvup-cli $args: no '$needle' in: $out" ;; esac
done <<'TABLE'
0|/dev/null|Exit status:|--help
2|/dev/null|unknown option --bogus|--bogus good.tvu
2|/dev/null|no package given|
2|/dev/null|no terminal to answer|--units 1 good.tvu
2|/dev/null|cannot be read|--demo 1 missing.tvu
2|/dev/null|is refused|--demo 1 bad.tvu
2|/dev/null|give --access-code|--demo 1 mockup.tvu
2|/dev/null|is refused: Invalid|--demo 1 --access-code 0000 mockup.tvu
3|/dev/null|no unit within 1 s|--yes --wait 1 --cradle program-test-nowhere good.tvu
0|/dev/null|result: finished|--demo 2 --json --record demo.jsonl --log-dir logs
TABLE

[ "$(grep -c '"finished":true' demo.jsonl)" = 2 ] || fail "demo.jsonl: $(cat demo.jsonl)"
[ "$(ls logs | wc -l)" = 2 ] || fail "two unit logs expected: $(ls logs)"

# Ctrl+C while the unit restarts: it is let finish, then the program ends 130.
"$cli" --demo 1 --record int.csv > int.out 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q "restart wait" int.out && break; sleep 0.1; done
kill -INT $pid
wait $pid
got=$?
[ "$got" = 130 ] || fail "Ctrl+C in the restart wait: exit $got: $(cat int.out)"
grep -q "waiting for this unit to finish" int.out || fail "no word of the wait: $(cat int.out)"
grep -q ",finished," int.csv || fail "the interrupted unit was not let finish: $(cat int.csv)"

# Killed in the middle of the second unit: the first unit's line stays whole
# and the next run appends after it.
"$cli" --demo 3 --record kill.csv > kill.out 2>&1 &
pid=$!
for _ in $(seq 100); do grep -q "unit 2: Merovox set in" kill.out && break; sleep 0.1; done
kill -KILL $pid
wait $pid 2>/dev/null
"$cli" --demo 1 --record kill.csv > /dev/null 2>&1 || fail "the run after the kill failed"
lines=$(wc -l < kill.csv)
[ "$lines" = 3 ] || fail "kill.csv: $lines lines: $(cat kill.csv)"
whole=$(grep -c '^20[0-9-]*T[^,]*,[^,]*,,TV04[0-9]*,.*,finished,[0-9.]*,.*\.log.$' kill.csv)
[ "$whole" = 2 ] || fail "kill.csv holds a torn line: $(cat kill.csv)"

[ $failures = 0 ] && echo "program_test: passed"
exit $failures
