# In the guest: the scenario files marked "gadget" in
# tests/vm/kernel-scenarios, each played by mvxtvup-scenario --backend hidraw
# --device gadget: every device is a configfs f_hid gadget on dummy_hcd's
# UDC that the host's usbhid drives, and its restart and removal unbind the
# gadget, a USB unplug in the middle of a read. Then the 256 KiB download for
# the packet rate.
set -u
TEST=scenarios-gadget
. "$MVX_ROOT/tests/vm/play-scenarios"

# Which driver the kernel bound to the gadget's USB interface, once it shows.
watch_driver() {
  for i in $(seq 300); do
    for d in /sys/bus/hid/devices/0003:5E3A:0051.*; do
      [ -e "$d/uevent" ] || continue
      echo "$(basename "$(readlink -f "$d/../driver")")"
      return 0
    done
    sleep 0.1
  done
  echo none
}
watch_driver >"$RESULTS/usb-driver" &
watcher=$!
play_marked gadget --backend hidraw --device gadget
wait $watcher
driver=$(cat "$RESULTS/usb-driver")
echo "$TEST: the gadget's USB interface driven by $driver"
if [ "$driver" != usbhid ]; then
  echo "$TEST: FAIL (usbhid did not drive the gadget)"
  failed=$((failed + 1))
fi
play download_rate "$MVX_ROOT/tests/vm/scenarios/download_rate.json" --backend hidraw --device gadget
packet_rate gadget download_rate
summary
