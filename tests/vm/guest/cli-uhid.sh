# In the guest: mvxtvup-cli on the hidraw backend versions up two units in a
# row, each an mvx-uhid-device set in when the one before has its record
# line and taken out after it, as an operator at the cradle does. Expects
# exit 0, the record's header and a finished line per unit with its serial
# number and new version, and each unit's log file.
set -u
TEST=cli-uhid
. "$MVX_ROOT/tests/vm/cli-units"
device=$MVX_BUILD/emulator/uhid/mvx-uhid-device
[ -x "$cli" ] || fail "no $cli"
[ -x "$device" ] || fail "no $device"
make_package

# set_in N: unit N, with serial number TV04000001N, set into the cradle.
set_in() {
  "$device" --version "$version_before" --version-after "$version_after" \
    --serial "PCB00000010$1,BAT00000010$1,TV040000010$1" --restart 1000 \
    --quiet >"unit$1.log" 2>&1 &
  unit=$!
}
take_out() {
  kill -TERM "$unit"
  wait "$unit" || fail "unit $1's device ended with status $?: $(cat "unit$1.log")"
}

t0=$(now_ms)
"$cli" --yes --units 2 --wait 60 --record R.csv --log-dir logs pkg.tvu </dev/null >cli.out 2>&1 &
cli_pid=$!
for n in 1 2; do
  set_in $n
  wait_lines R.csv $((n + 1)) 90 || { cat cli.out; fail "no record line for unit $n"; }
  echo "$TEST: unit $n recorded at $(($(now_ms) - t0)) ms"
  take_out $n
  # An operator needs a moment between two units.
  sleep 1
done
wait_exit $cli_pid 30
sed "s/^/$TEST: cli: /" cli.out
cp R.csv cli.out "$RESULTS/"
[ $status -eq 0 ] || fail "mvxtvup-cli ended with status $status"
check_record R.csv "" TV0400000101 TV0400000102
[ "$(ls logs | wc -l)" -eq 2 ] || fail "not two unit logs: $(ls logs)"
echo "$TEST: PASS ($(($(now_ms) - t0)) ms)"
