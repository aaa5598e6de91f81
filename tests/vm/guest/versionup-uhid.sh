# In the guest: whole version-ups through the kernel's HID stack. The tool's
# core with the hidraw/libudev backend plays scenarios against the emulator
# behind /dev/uhid: first the same whole version-up as the simulated-backend
# test, whose expected lines its transcript must show, then a 256 KiB download
# to a device that answers at once, for the packet rate.
set -u
player=$MVX_BUILD/tests/vm/mvx-vm-versionup
failed=0
play() {
  name=$1
  shift
  "$player" "$@" >"$RESULTS/$name.transcript" 2>"$RESULTS/$name.stderr"
  status=$?
  sed "s/^/versionup-uhid: $name: /" "$RESULTS/$name.stderr"
  if [ $status -eq 0 ]; then
    echo "versionup-uhid: $name: PASS ($(wc -l <"$RESULTS/$name.transcript") transcript lines)"
  else
    echo "versionup-uhid: $name: FAIL (status $status)"
    failed=1
  fi
}
play full_versionup "$MVX_ROOT/tests/scenarios/full_versionup.json"
play download_rate "$MVX_ROOT/tests/vm/scenarios/download_rate.json"
# The same on the simulated backend on the same (emulated) processor: what the
# kernel path itself costs.
play download_rate_simulated --simulated "$MVX_ROOT/tests/vm/scenarios/download_rate.json"
exit $failed
