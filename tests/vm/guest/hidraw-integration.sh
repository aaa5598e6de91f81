# vm-test: on request
# In the guest: the hidraw backend's integration test, which on a machine
# without /dev/uhid reports its uhid case skipped, against the kernel's uhid.
# Run on request (scripts/vm-test hidraw-integration): this kernel drops an
# input report shorter than the descriptor declares, which the test's
# two-byte report is.
set -u
test=$MVX_BUILD/tests/hid/hid_hidraw_integration_test
[ -x "$test" ] || { echo "hidraw-integration: FAIL ($test is missing)"; exit 1; }
"$test" >"$RESULTS/hidraw-integration.log" 2>&1
status=$?
grep -E '^\[ *(OK|FAILED|SKIPPED) *\] [A-Za-z]' "$RESULTS/hidraw-integration.log" |
  sed 's/^/hidraw-integration: /'
if ! grep -q '^\[       OK \] HidrawIntegrationTest.VirtualDeviceThroughUhid' \
  "$RESULTS/hidraw-integration.log"; then
  echo "hidraw-integration: FAIL (the uhid case did not pass)"
  exit 1
fi
[ $status -eq 0 ] || { echo "hidraw-integration: FAIL (status $status)"; exit 1; }
echo "hidraw-integration: PASS"
