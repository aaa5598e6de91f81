# In the guest: a whole version-up through the kernel's HID stack. The tool's
# core with the hidraw/libudev backend runs the same scenario as the
# simulated-backend test, against the emulator behind /dev/uhid, and its
# transcript must show the same expected lines.
set -u
player=$MVX_BUILD/tests/vm/mvx-vm-versionup
scenario=$MVX_ROOT/tests/scenarios/full_versionup.json
"$player" "$scenario" >"$RESULTS/versionup-uhid.transcript" 2>"$RESULTS/versionup-uhid.stderr"
status=$?
sed 's/^/versionup-uhid: /' "$RESULTS/versionup-uhid.stderr"
[ $status -eq 0 ] || { echo "versionup-uhid: FAIL (status $status)"; exit 1; }
echo "versionup-uhid: PASS ($(wc -l <"$RESULTS/versionup-uhid.transcript") transcript lines)"
