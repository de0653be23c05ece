#!/usr/bin/env bash
# The package as a new user meets it, on a machine that has never built the
# project: builds corvalin_7.0.0_<arch>.deb from a fresh clone of this
# repository (its committed HEAD) with scripts/package.sh, makes a
# throw-away Debian root with debootstrap, installs the package there with
# dpkg and apt (which brings its dependencies), runs corvalin-db --version
# from /usr/bin, lets a new user with no settings start the window the way
# the desktop entry says, press the sample button, "Next >" and "Start
# Appending" under Xvfb and get "Done.", and removes the package again,
# leaving none of its files behind.
#
# Needs root, network access to the Debian mirror the machine's apt uses,
# and a few minutes. Not part of ctest.
#   usage: tests/package/install_test.sh [WORK_FOLDER]
#   CORVALIN_DEB=path/to/corvalin.deb skips the clone and the build.
# The work folder keeps the log, the throw-away root is removed at the end;
# the screenshot of the finished run is WORK_FOLDER/done.png.
set -euo pipefail
project=$(cd "$(dirname "$0")/../.." && pwd)
work=${1:-$(mktemp -d /tmp/corvalin-package-test.XXXXXX)}
mkdir -p "$work"
work=$(cd "$work" && pwd)
root="$work/root"
say() { printf '\n== %s\n' "$*"; }
fail() { echo "FAILED: $*"; exit 1; }

[ "$(id -u)" -eq 0 ] || fail "run as root (debootstrap and chroot)"
command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq debootstrap >/dev/null

if [ -n "${CORVALIN_DEB:-}" ]; then
  deb=$(cd "$(dirname "$CORVALIN_DEB")" && pwd)/$(basename "$CORVALIN_DEB")
else
  say "a fresh clone of $project and its package"
  rm -rf "$work/src"
  git clone -q --no-local "$project" "$work/src"
  deb=$(bash "$work/src/scripts/package.sh" | tail -n 1)
fi
[ -f "$deb" ] || fail "no package built"
echo "$deb"
dpkg-deb --field "$deb" Package Version Architecture Depends

say "a throw-away Debian root"
# The same mirror and release as this machine's apt.
read -r mirror suite < <(apt-get indextargets --format '$(SITE) $(CODENAME)' |
                         grep -v -e security -e updates | head -n 1)
mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" 2>/dev/null || true; done
  [ -n "${KEEP_ROOT:-}" ] || rm -rf "$root"
}
trap cleanup EXIT
rm -rf "$root"
debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$work/debootstrap.log" 2>&1 ||
  { tail -n 20 "$work/debootstrap.log"; fail "debootstrap"; }
for m in proc sys dev dev/pts; do
  mount --bind "/$m" "$root/$m"
  mounted+=("$root/$m")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"
in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 "$@"; }
in_root test ! -e /usr/bin/cmake || fail "the throw-away root has build tools"

say "dpkg -i, then apt brings what it depends on"
cp "$deb" "$root/tmp/corvalin.deb"
in_root dpkg -i /tmp/corvalin.deb >"$work/dpkg.log" 2>&1 || true
grep -E "depends on|not installed" "$work/dpkg.log" | head -n 5 || true
in_root apt-get update -qq
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -f -y -qq --no-install-recommends \
  >"$work/apt.log" 2>&1 || { tail -n 20 "$work/apt.log"; fail "apt-get install -f"; }
in_root dpkg-query -W -f='${Package} ${Version} ${Status}\n' corvalin
in_root dpkg -L corvalin >"$work/files.txt"

say "corvalin-db --version from /usr/bin"
version=$(in_root /usr/bin/corvalin-db --version)
echo "$version"
[ "$version" = "corvalin-db 7.00" ] || fail "corvalin-db --version said: $version"
in_root sh -c 'ldd /usr/lib/corvalin/corvalin /usr/bin/corvalin-db | grep "not found"' &&
  fail "libraries missing"
echo "manual pages: $(in_root sh -c 'zcat /usr/share/man/man1/corvalin.1.gz /usr/share/man/man1/corvalin-db.1.gz | grep -c "^.TH"')"

say "a new user starts Corvalin from the desktop entry"
# A virtual display and a hand to press the buttons: test tools only,
# installed after the package so that they hide no missing dependency.
in_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  xvfb xauth xdotool x11-utils imagemagick >>"$work/apt.log" 2>&1 ||
  { tail -n 20 "$work/apt.log"; fail "test tools"; }
in_root useradd -m newuser
cp "$project/tests/package/first_run.sh" "$root/tmp/first_run.sh"
in_root runuser -u newuser -- env HOME=/home/newuser USER=newuser sh /tmp/first_run.sh |
  tee "$work/first_run.log"
cp "$root/tmp/done.png" "$work/done.png" 2>/dev/null || true
grep -q '^DONE BOX' "$work/first_run.log" || fail "no Done. box"
grep -q '^ERROR BOX' "$work/first_run.log" && fail "an error report showed"
rows=$(in_root /usr/bin/corvalin-db export /usr/lib/corvalin/Samples/sample.mdb Customers | wc -l)
echo "Customers now has $((rows - 1)) rows"
[ "$rows" -eq 61 ] || fail "the 24 new customers were not added"
in_root runuser -u newuser -- cat /home/newuser/.config/Varnholt/Corvalin.ini
in_root stat -c '%a %U %n' /home/newuser/.config/Varnholt/Corvalin.ini

say "removed again"
in_root dpkg --purge corvalin
left=0
while read -r path; do
  case "$path" in /usr/lib/corvalin*|/usr/bin/corvalin*|*/corvalin.desktop|*/corvalin.png|*/corvalin*.1.gz|/usr/share/doc/corvalin*)
    if in_root test -e "$path" -o -L "$path"; then echo "left behind: $path"; left=1; fi ;;
  esac
done <"$work/files.txt"
[ "$left" -eq 0 ] || fail "files left behind"
in_root dpkg-query -W corvalin 2>/dev/null && fail "still registered"
echo "nothing of corvalin is left"
echo
echo "PASSED: package built, installed, used and removed (log in $work)"
