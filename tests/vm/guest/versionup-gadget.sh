# In the guest: whole version-ups over a real USB HID stack. The emulator is a
# configfs f_hid gadget on dummy_hcd's UDC serving /dev/hidgN; the host's
# usbhid binds it, and the restart and the final removal unbind the gadget,
# which the tool sees as a USB unplug in the middle of a read. The same whole
# version-up as the simulated-backend test, then the 256 KiB download for the
# packet rate.
set -u
player=$MVX_BUILD/tests/vm/mvx-vm-versionup
failed=0

# What the kernel made of the gadget: the HID device and the driver of the
# USB interface under it.
watch_hid() {
  for i in $(seq 300); do
    for d in /sys/bus/hid/devices/0003:5E3A:0051.*; do
      [ -e "$d/uevent" ] || continue
      grep -E '^(DRIVER|HID_NAME|HID_PHYS)=' "$d/uevent"
      echo "USB_DRIVER=$(basename "$(readlink -f "$d/../driver")")"
      return 0
    done
    sleep 0.1
  done
}

play() {
  name=$1
  shift
  watch_hid >"$RESULTS/$name.hid" &
  watcher=$!
  "$player" --gadget "$@" >"$RESULTS/$name.transcript" 2>"$RESULTS/$name.stderr"
  status=$?
  wait $watcher
  sed "s/^/versionup-gadget: $name: /" "$RESULTS/$name.stderr" "$RESULTS/$name.hid"
  if ! grep -q '^USB_DRIVER=usbhid$' "$RESULTS/$name.hid"; then
    echo "versionup-gadget: $name: FAIL (usbhid did not drive the device)"
    failed=1
  elif [ $status -ne 0 ]; then
    echo "versionup-gadget: $name: FAIL (status $status)"
    failed=1
  else
    echo "versionup-gadget: $name: PASS ($(wc -l <"$RESULTS/$name.transcript") transcript lines)"
  fi
}
play full_versionup "$MVX_ROOT/tests/scenarios/full_versionup.json"
play download_rate "$MVX_ROOT/tests/vm/scenarios/download_rate.json"
exit $failed
