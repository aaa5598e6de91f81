# In the guest: the scenario files marked "uhid" in tests/vm/kernel-scenarios,
# each played by mvxtvup-scenario --backend hidraw: the tool's core on the
# hidraw/libudev backend, every device of the file the emulator behind
# /dev/uhid, checked with the file's own expected lines. Then a 256 KiB
# download to a device that answers at once, through uhid and on the
# simulated backend on the same (emulated) processor, for the packet rates.
set -u
TEST=scenarios-uhid
. "$MVX_ROOT/tests/vm/play-scenarios"
play_marked uhid --backend hidraw --device uhid
rate=$MVX_ROOT/tests/vm/scenarios/download_rate.json
play download_rate "$rate" --backend hidraw --device uhid
play download_rate_simulated "$rate" --real-time
packet_rate uhid download_rate
packet_rate simulated download_rate_simulated
summary
