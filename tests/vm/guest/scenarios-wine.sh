# In the guest: the Windows build of mvxtvup-scenario under wine, the tool's
# core on the Windows HID backend (SetupAPI, hid.dll, overlapped reads, the
# device-change window) and wine's HID stack under it, whose bus driver finds
# the kernel's hidraw nodes through udev. The Windows program cannot open
# /dev/uhid, so each device's uhid events go through mvx-uhid-relay on
# loopback; the device model, its faults and its timing stay in the runner.
# Plays the files marked "wine" in tests/vm/kernel-scenarios, then the
# 256 KiB download for the packet rate. Needs MVX_WIN_BUILD (the Windows
# build folder) and MVX_VM_CACHE (where tests/vm/prepare made the prefix).
set -u
TEST=scenarios-wine
. "$MVX_ROOT/tests/vm/play-scenarios"
exe=$MVX_WIN_BUILD/tools/scenario/mvxtvup-scenario.exe
fail() {
  echo "$TEST: FAIL ($*)"
  exit 1
}
[ -f "$exe" ] || fail "no $exe"
. "$MVX_ROOT/tests/vm/wine-setup"
t0=$(now_ms)
wine_setup

"$MVX_BUILD/emulator/uhid/mvx-uhid-relay" >"$RESULTS/relay.log" 2>&1 &
relay=$!
port=
for i in $(seq 100); do
  port=$(sed -n 's/^mvx-uhid-relay: listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$RESULTS/relay.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || fail "the relay did not start: $(cat "$RESULTS/relay.log")"

# Wine's server, its services and the HID bus driver start once, not within
# the first file's time. No Merovox needs to come first: wine numbers DevInst
# by position in the set, and under wine the tool tells devices apart by
# their interface paths.
wine_start
echo "$TEST: wine ready in $(( $(now_ms) - t0 )) ms"

run_player() { "$wine" "$exe" "$@"; }
player_file() { echo "Z:$1"; }
play_marked wine --backend windows --relay "127.0.0.1:$port"
rate=$MVX_ROOT/tests/vm/scenarios/download_rate.json
play download_rate "$rate" --backend windows --relay "127.0.0.1:$port"
packet_rate wine download_rate

kill -TERM $relay
wait $relay
sed "s/^/$TEST: /" "$RESULTS/relay.log"
wineserver -k
summary
