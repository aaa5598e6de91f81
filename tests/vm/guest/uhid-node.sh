# In the guest: mvx-uhid-device makes a hidraw node that udev knows, with the
# Merovox identity and 1024-byte reports, and the node goes with the device.
# Needs MVX_BUILD (the build folder) and RESULTS (the results folder).
set -u
fail() { echo "uhid-node: FAIL: $*"; exit 1; }

"$MVX_BUILD/emulator/uhid/mvx-uhid-device" --product "Merovox TV004" >"$RESULTS/uhid-node.device.log" 2>&1 &
pid=$!
node=
for i in $(seq 100); do
  for n in /sys/class/hidraw/hidraw*; do
    [ -e "$n/device/uevent" ] && grep -q '^HID_NAME=Merovox TV004$' "$n/device/uevent" && node=${n##*/}
  done
  [ -n "$node" ] && [ -e "/dev/$node" ] && break
  sleep 0.1
done
[ -n "$node" ] || fail "no hidraw node for the device"
udevadm settle
SYSTEMD_COLORS=0 udevadm info --query=all "/dev/$node" >"$RESULTS/uhid-node.udev.txt"
grep -q "^E: SUBSYSTEM=hidraw" "$RESULTS/uhid-node.udev.txt" || fail "udev does not know /dev/$node"
grep -q '^HID_ID=0003:00005E3A:00000051$' "/sys/class/hidraw/$node/device/uevent" || fail "wrong HID_ID"
# 1024-byte input and output reports (Report Count 0x0400), no report IDs.
desc=$(od -An -tx1 -v "/sys/class/hidraw/$node/device/report_descriptor" | tr -d ' \n')
case $desc in
  *9600040901810296000409019102*) ;;
  *) fail "unexpected report descriptor $desc" ;;
esac
echo "uhid-node: /dev/$node $(grep '^HID_NAME=' "/sys/class/hidraw/$node/device/uevent")"

kill -TERM $pid
wait $pid || fail "mvx-uhid-device ended with status $?"
for i in $(seq 50); do [ -e "/dev/$node" ] || break; sleep 0.1; done
[ -e "/sys/class/hidraw/$node" ] && fail "the node stayed after the device went"
grep -q '^commands 0 ' "$RESULTS/uhid-node.device.log" || fail "unexpected device summary"
echo "uhid-node: PASS"
