#!/bin/sh
# Runs as root inside the throw-away Debian root of scripts/package-test, with
# the package at $1: installs it as an administrator does, checks the
# installed files, starts the installed tool as a user on Qt's offscreen
# platform and ends it with SIGTERM, runs the console program as a user on
# emulated units, checks what the maintainer scripts do
# where udev runs and where it does not, then removes and purges the package
# and compares the root with how it was before the package came.
#
# udev does not run here. Its part is played by a stand-in /usr/bin/udevadm
# (where udev keeps it; udev is not installed here) that writes down its
# arguments, and by a socket at /run/udev/control, which is how the maintainer
# scripts tell that udev runs.
set -eu
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
export DEBIAN_FRONTEND=noninteractive LANG=C.UTF-8
deb=$1
say() { echo "installed: $*"; }
fail() {
  echo "installed: FAILED: $*"
  exit 1
}

# What the package needs (its Depends and Recommends), installed before it so
# that the snapshot below holds it.
started=$(date +%s)
apt-get update -qq
needs="$(dpkg-deb -f "$deb" Depends), $(dpkg-deb -f "$deb" Recommends)"
apt-get satisfy -y -qq --no-install-recommends "$needs" >/run/satisfy.log 2>&1 ||
  { cat /run/satisfy.log; fail "cannot install what the package needs: $needs"; }
say "installed what the package needs in $(($(date +%s) - started)) s: $needs"

# The operator's own files: a setting in the folder the tool runs in, and a
# local copy of the udev rule. Removing the package must leave both alone.
useradd --create-home --shell /bin/sh desk
printf '[Option]\r\nFileFormat=False\r\n' >/home/desk/mvxtvup_setting.ini
chown desk:desk /home/desk/mvxtvup_setting.ini
mkdir -p /etc/udev/rules.d
echo '# the site'"'"'s own rule for the Merovox cradle' >/etc/udev/rules.d/70-mvxtvup.rules
operator_files=$(md5sum /home/desk/mvxtvup_setting.ini /etc/udev/rules.d/70-mvxtvup.rules)

cat >/usr/bin/udevadm <<'EOF'
#!/bin/sh
echo "$*" >>/run/udevadm.calls
EOF
chmod 755 /usr/bin/udevadm
: >/run/udevadm.calls

# Every path of the root with its type, mode and owner, and a regular file's
# size and time of change; not the mounts (proc, sys, dev, run, tmp, the test's
# own folder, apt's download cache).
snapshot() {
  find / -xdev \( -path /proc -o -path /sys -o -path /dev -o -path /run -o -path /tmp \
    -o -path /mnt -o -path /var/cache/apt/archives \) -prune -o \
    \( -type d -printf '%p\t%y %m %u:%g\n' \) -o -printf '%p\t%y %m %u:%g %s %T@\n' | sort
}
snapshot >/run/before

# 1. Installing, where no udev runs: the maintainer script leaves udev alone.
apt-get install -y --no-install-recommends "$deb" >/run/install.log 2>&1 ||
  { cat /run/install.log; fail "apt-get install"; }
grep -q '^0 upgraded, 1 newly installed, 0 to remove' /run/install.log ||
  { cat /run/install.log; fail "installing the package installed something else too"; }
[ "$(dpkg-query -W -f '${Status}' mvxtvup)" = "install ok installed" ] || fail "not installed"
[ ! -s /run/udevadm.calls ] || fail "udevadm was called though udev does not run: $(cat /run/udevadm.calls)"
say "installed $(dpkg-query -W -f '${Package} ${Version}' mvxtvup); the maintainer script left udev alone"

# 2. The installed files.
dpkg -L mvxtvup | while read -r path; do
  [ -e "$path" ] || fail "$path is listed but missing"
done
for path in /usr/bin/mvxtvup /usr/bin/mvxtvup-cli /usr/share/man/man1/mvxtvup-cli.1.gz \
  /usr/lib/udev/rules.d/70-mvxtvup.rules \
  /usr/share/applications/mvxtvup.desktop /usr/share/icons/hicolor/scalable/apps/mvxtvup.svg \
  /usr/share/icons/hicolor/48x48/apps/mvxtvup.png /usr/share/man/man1/mvxtvup.1.gz \
  /usr/share/doc/mvxtvup/copyright /usr/share/doc/mvxtvup/README.md.gz \
  /usr/share/doc/mvxtvup/changelog.Debian.gz; do
  [ -f "$path" ] || fail "$path is not installed"
  [ "$(dpkg -S "$path" 2>/dev/null)" = "mvxtvup: $path" ] || fail "$path does not belong to mvxtvup"
done
for program in mvxtvup mvxtvup-cli; do
  [ "$(stat -c '%a %U:%G' /usr/bin/$program)" = "755 root:root" ] ||
    fail "/usr/bin/$program: $(stat -c '%a %U:%G' /usr/bin/$program)"
  [ "$(command -v $program)" = /usr/bin/$program ] || fail "$program is not on the PATH"
  if ldd /usr/bin/$program | grep 'not found'; then fail "libraries missing for $program"; fi
done
grep -q 'TAG+="uaccess"' /usr/lib/udev/rules.d/70-mvxtvup.rules || fail "the udev rule has no uaccess tag"
grep -qx 'Exec=mvxtvup' /usr/share/applications/mvxtvup.desktop || fail "the menu entry does not start mvxtvup"
zcat /usr/share/man/man1/mvxtvup.1.gz | grep -q '^\.TH MVXTVUP 1' || fail "the manual page is not one"
zcat /usr/share/doc/mvxtvup/README.md.gz | grep -q '^# mvxtvup' || fail "the README is not the project's"
say "the files are in place and the program finds its libraries"

# 3. The installed tool, started by the operator in their folder as the menu
# entry starts it, stays up until SIGTERM ends it.
runtime=/run/user/$(id -u desk)
mkdir -p "$runtime"
chown desk:desk "$runtime"
chmod 700 "$runtime"
cd /home/desk
setpriv --reuid=desk --regid=desk --init-groups \
  env -i HOME=/home/desk PATH=/usr/bin:/bin LANG=C.UTF-8 XDG_RUNTIME_DIR="$runtime" \
  QT_QPA_PLATFORM=offscreen \
  mvxtvup >/run/mvxtvup.log 2>&1 &
pid=$!
cd /
# Up means: Qt has loaded its offscreen platform plugin (the window exists) and
# the program is still running 3 s after that.
waited=0
until grep -q '/platforms/libqoffscreen\.so' "/proc/$pid/maps" 2>/dev/null; do
  kill -0 "$pid" 2>/dev/null || { cat /run/mvxtvup.log; fail "mvxtvup ended by itself"; }
  [ $waited -lt 100 ] || { cat /run/mvxtvup.log; fail "mvxtvup did not load Qt's offscreen platform within 10 s"; }
  sleep 0.1
  waited=$((waited + 1))
done
sleep 3
kill -0 "$pid" 2>/dev/null || { cat /run/mvxtvup.log; fail "mvxtvup ended by itself"; }
[ "$(readlink "/proc/$pid/exe")" = /usr/bin/mvxtvup ] || fail "process $pid is $(readlink "/proc/$pid/exe")"
[ "$(stat -c %U "/proc/$pid")" = desk ] || fail "mvxtvup does not run as the operator"
state=$(sed -n 's/^State:[[:space:]]*//p' "/proc/$pid/status")
say "mvxtvup runs as the operator (pid $pid, state $state, $(ls "/proc/$pid/task" | wc -l) threads)"
kill -TERM "$pid"
status=0
# (The shell's own "Terminated" goes to /dev/null.)
{ wait "$pid"; } 2>/dev/null || status=$?
[ "$status" -eq 143 ] || { cat /run/mvxtvup.log; fail "mvxtvup ended with status $status after SIGTERM, not 143"; }
if [ -s /run/mvxtvup.log ]; then
  say "mvxtvup's output:"
  sed 's/^/  /' /run/mvxtvup.log
fi
say "SIGTERM ended it (status $status)"

# The console program, run by the operator as a script runs it (no terminal:
# the demo answers its confirmations itself): its usage, and one emulated unit
# through to its record line.
as_desk() {
  (cd /home/desk && setpriv --reuid=desk --regid=desk --init-groups \
    env -i HOME=/home/desk PATH=/usr/bin:/bin LANG=C.UTF-8 "$@" </dev/null)
}
as_desk mvxtvup-cli --help >/run/cli-help.log 2>&1 || { cat /run/cli-help.log; fail "mvxtvup-cli --help"; }
grep -q '^usage: mvxtvup-cli' /run/cli-help.log || { cat /run/cli-help.log; fail "mvxtvup-cli --help printed no usage"; }
as_desk timeout 120 mvxtvup-cli --demo 1 --record /tmp/r.csv >/run/cli-demo.log 2>&1 ||
  { cat /run/cli-demo.log; fail "mvxtvup-cli --demo 1 did not end with status 0"; }
grep -q ',finished,' /tmp/r.csv || { cat /run/cli-demo.log /tmp/r.csv; fail "the record has no finished unit"; }
[ "$(stat -c %U /tmp/r.csv)" = desk ] || fail "the record is not the operator's"
say "mvxtvup-cli: --help, and --demo 1 as the operator finished with its record line"

# 4. Where udev runs, installing (here: reinstalling) reloads its rules and
# triggers the hidraw nodes, and so does removing.
mkdir -p /run/udev
perl -MSocket -MIO::Socket::UNIX -e \
  'IO::Socket::UNIX->new(Type => SOCK_SEQPACKET, Local => "/run/udev/control", Listen => 1) or die "$!\n"'
[ -S /run/udev/control ] || fail "cannot make the stand-in udev control socket"
apt-get install -y --reinstall "$deb" >/run/reinstall.log 2>&1 || { cat /run/reinstall.log; fail "reinstalling"; }
apt-get remove -y mvxtvup >/run/remove.log 2>&1 || { cat /run/remove.log; fail "apt-get remove"; }
expected='control --reload-rules
trigger --subsystem-match=hidraw --action=change
control --reload-rules
trigger --subsystem-match=hidraw --action=change'
[ "$(cat /run/udevadm.calls)" = "$expected" ] ||
  fail "udevadm calls on reinstalling and removing: $(cat /run/udevadm.calls)"
for path in /usr/bin/mvxtvup /usr/lib/udev/rules.d/70-mvxtvup.rules; do
  [ ! -e "$path" ] || fail "$path is still there after removing"
done
say "where udev runs, installing and removing reloaded and triggered it"

# 5. Purged, the package leaves nothing behind; the operator's files stay.
rm /run/udev/control
apt-get purge -y mvxtvup >/run/purge.log 2>&1 || { cat /run/purge.log; fail "apt-get purge"; }
[ -z "$(dpkg-query -W -f '${Status}' mvxtvup 2>/dev/null)" ] ||
  fail "dpkg still knows mvxtvup: $(dpkg-query -W -f '${Status}' mvxtvup)"
[ "$(wc -l </run/udevadm.calls)" -eq 4 ] || fail "udevadm was called on purging without udev"
snapshot >/run/after
echo "$operator_files" | md5sum --check --quiet || fail "the operator's files changed"
# What may differ: dpkg's and apt's own records and logs, and whatever the tool
# wrote into the operator's folder.
tab=$(printf '\t')
bookkeeping="(/var/lib/dpkg/(status|status-old|available|lock|lock-frontend|triggers/.*)|/var/log/(dpkg\\.log|alternatives\\.log|apt/.*)|/var/cache/debconf/.*|/var/cache/apt/(pkgcache|srcpkgcache)\\.bin|/var/lib/apt/extended_states|/home/desk/.*)$tab"
diff /run/before /run/after | grep -E '^[<>] ' | grep -Ev "^[<>] $bookkeeping" >/run/left || true
if [ -s /run/left ]; then
  cat /run/left
  fail "the root differs from before the package came (above: < before, > after)"
fi
diff /run/before /run/after | grep '^[<>] /home/desk/' | sed 's/^/  the operator'"'"'s folder: /' || true
say "purged: the root is as before the package came, the operator's files are untouched"
