# In the guest: two copies of mvxtvup-cli, each bound to the USB port of one
# of dummy_hcd's two controllers, version up a unit each at the same time;
# each unit is an mvx-gadget-device on the UDC of that port, which the
# host's usbhid drives. Each copy must finish its own unit, the two
# version-ups must overlap in time, and a third copy for a port that is
# served already must be refused at once.
set -u
TEST=cli-gadget
. "$MVX_ROOT/tests/vm/cli-units"
gadget=$MVX_BUILD/emulator/gadget/mvx-gadget-device
[ -x "$cli" ] || fail "no $cli"
[ -x "$gadget" ] || fail "no $gadget"
# shellcheck disable=SC2046
set -- $(ls /sys/class/udc)
[ $# -ge 2 ] || fail "not two USB device controllers: $*"
udc_a=$1
udc_b=$2
make_package

# set_in NAME UDC N [RESTART_MS]: unit N, serial number TV04000002N, on
# UDC's port.
set_in() {
  "$gadget" --udc "$2" --version "$version_before" --version-after "$version_after" \
    --serial "PCB00000020$3,BAT00000020$3,TV040000020$3" --restart "${4:-1000}" \
    >"$1.device.log" 2>&1 &
  eval "device_$1=\$!"
}
take_out() {
  eval "pid=\$device_$1"
  kill -TERM "$pid"
  wait "$pid" || fail "device $1 ended with status $?: $(cat "$1.device.log")"
}
listed() { "$cli" --list 2>/dev/null | sed -n 's/.*  location \(.*\)  serial .*/\1/p'; }

# The location of each controller's port, as --list shows a device set in
# there alone; no device is left in when the copies start.
locate() {
  set_in probe "$1" 9
  location=
  for i in $(seq 200); do
    location=$(listed)
    [ -n "$location" ] && break
    sleep 0.1
  done
  take_out probe
  for i in $(seq 200); do
    [ -z "$(listed)" ] && break
    sleep 0.1
  done
  [ -n "$location" ] || fail "no Merovox listed on $1: $(cat probe.device.log)"
  [ -z "$(listed)" ] || fail "the probe on $1 stays listed"
}
locate "$udc_a"
loc_a=$location
locate "$udc_b"
loc_b=$location
echo "$TEST: $udc_a at location $loc_a, $udc_b at location $loc_b"
[ "$loc_a" != "$loc_b" ] || fail "both ports at $loc_a"

t0=$(now_ms)
"$cli" --yes --cradle "$loc_a" --record A.csv --log-dir logs-a pkg.tvu </dev/null >A.out 2>&1 &
cli_a=$!
"$cli" --yes --cradle "$loc_b" --record B.csv --log-dir logs-b pkg.tvu </dev/null >B.out 2>&1 &
cli_b=$!
for i in $(seq 300); do
  grep -q "waiting for Merovox" A.out && grep -q "waiting for Merovox" B.out && break
  sleep 0.1
done
# Unit a restarts for long enough that the third copy below meets it.
set_in a "$udc_a" 1 10000
set_in b "$udc_b" 2

# A third copy for the first port while its unit is in progress.
for i in $(seq 300); do
  grep -q "unit 1: Merovox set in" A.out && break
  sleep 0.1
done
t1=$(now_ms)
"$cli" --yes --cradle "$loc_a" --record C.csv pkg.tvu </dev/null >C.out 2>&1 &
wait_exit $! 20
echo "$TEST: a third copy for $loc_a: status $status in $(($(now_ms) - t1)) ms: $(cat C.out)"
[ $status -eq 2 ] || fail "a third copy for $loc_a ended with status $status"
grep -q "another copy serves the cradle $loc_a" C.out || fail "the third copy did not say why"
# At once: while the first copy's unit is still in its version-up, not
# after it (the program's own start takes seconds on this emulated machine).
grep -q "result:" A.out && fail "the third copy was refused only after the unit ended"
[ ! -s C.csv ] || fail "the refused copy wrote a record"

wait_exit $cli_a 90
status_a=$status
wait_exit $cli_b 30
status_b=$status
echo "$TEST: both copies ended after $(($(now_ms) - t0)) ms"
take_out a
take_out b
sed "s/^/$TEST: A: /" A.out
sed "s/^/$TEST: B: /" B.out
cp A.csv B.csv A.out B.out "$RESULTS/" 2>/dev/null
[ $status_a -eq 0 ] || fail "the copy for $loc_a ended with status $status_a"
[ $status_b -eq 0 ] || fail "the copy for $loc_b ended with status $status_b"
check_record A.csv "$loc_a" TV0400000201
check_record B.csv "$loc_b" TV0400000202

# The two version-ups overlap: each began before the other ended.
before() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a < b) }'; }
start_a=$(sed -n 2p A.csv | cut -d, -f1)
end_a=$(sed -n 2p A.csv | cut -d, -f2)
start_b=$(sed -n 2p B.csv | cut -d, -f1)
end_b=$(sed -n 2p B.csv | cut -d, -f2)
before "$start_a" "$end_b" && before "$start_b" "$end_a" ||
  fail "the units did not overlap: $start_a..$end_a and $start_b..$end_b"
echo "$TEST: PASS ($(($(now_ms) - t0)) ms)"
