# In the guest: the Windows build of mvxtvup-cli under wine versions up one
# unit, an mvx-uhid-device that wine's HID bus driver finds through its
# hidraw node, so the tool runs on the Windows HID backend over wine's HID
# stack. Expects exit 0 and a record with one finished line. Needs
# MVX_WIN_BUILD (the Windows build folder) and MVX_VM_CACHE (the prefix).
set -u
TEST=cli-wine
. "$MVX_ROOT/tests/vm/cli-units"
. "$MVX_ROOT/tests/vm/wine-setup"
exe=$MVX_WIN_BUILD/app/console/mvxtvup-cli.exe
device=$MVX_BUILD/emulator/uhid/mvx-uhid-device
[ -f "$exe" ] || fail "no $exe"
[ -x "$device" ] || fail "no $device"
make_package
t0=$(now_ms)
wine_setup
wine_start
echo "$TEST: wine ready in $(($(now_ms) - t0)) ms"

t0=$(now_ms)
"$wine" "$exe" --yes --units 1 --wait 120 --record R.csv --log-dir logs pkg.tvu \
  </dev/null >cli.out 2>&1 &
cli_pid=$!
for i in $(seq 600); do
  grep -q "waiting for Merovox" cli.out && break
  sleep 0.1
done
echo "$TEST: mvxtvup-cli waiting after $(($(now_ms) - t0)) ms"
"$device" --version "$version_before" --version-after "$version_after" \
  --serial PCB000000301,BAT000000301,TV0400000301 --restart 1000 --quiet >unit.log 2>&1 &
unit=$!
wait_lines R.csv 2 150 || { cat cli.out; fail "no record line for the unit"; }
echo "$TEST: unit recorded after $(($(now_ms) - t0)) ms"
kill -TERM $unit
wait $unit || fail "the unit's device ended with status $?: $(cat unit.log)"
wait_exit $cli_pid 30
tr -d '\r' <cli.out | sed "s/^/$TEST: cli: /"
cp R.csv cli.out "$RESULTS/"
wineserver -k
[ $status -eq 0 ] || fail "mvxtvup-cli ended with status $status"
check_record R.csv "" TV0400000301
[ "$(ls logs | wc -l)" -eq 1 ] || fail "not one unit log: $(ls logs)"
echo "$TEST: PASS ($(($(now_ms) - t0)) ms)"
