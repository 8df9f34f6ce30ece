#!/usr/bin/env bash
# The Debian package as a user gets it, on this machine (as root: the
# package is for Debian's own hosts in /usr, which a chroot would have to
# hold too, Shotcut and its Qt among them): lintian finds no error; apt
# installs it with its dependencies; /usr/bin/velbrin filters a clip with
# the installed module; melt renders with the installed plug-in from
# Debian's frei0r path; Debian's Shotcut lists the filter (the Shotcut log
# test against /usr); apt-get purge leaves none of its files.
#   tests/package/deb_install_test.sh DEB
# Exit 77 (skipped) when not root.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
deb=$(readlink -f "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" = 0 ] || { echo "needs root to install the package"; exit 77; }
apt() { DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 -q -y "$@" >/dev/null; }

errors=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep '^E:' || true)
[ -z "$errors" ] || fail "lintian: $errors"

dpkg-query -W -f='${Status}' velbrin 2>/dev/null | grep -q 'installed' &&
  fail "a velbrin package is installed already: purge it first (apt-get purge velbrin)"
work=$(mktemp -d /tmp/velbrin-deb-test-XXXXXX)
cleanup() {
  dpkg-query -W -f='${Status}' velbrin 2>/dev/null | grep -q installed && apt purge velbrin
  rm -rf "$work"
}
trap cleanup EXIT
apt install "$deb"
dpkg -L velbrin > "$work/files.txt"
for f in /usr/bin/velbrin /usr/lib/velbrin/noname.so /usr/lib/frei0r-1/velbrin.so \
  /usr/share/shotcut/qml/filters/velbrin/meta.qml /usr/share/shotcut/qml/filters/velbrin/ui.qml \
  /usr/share/kdenlive/effects/frei0r_velbrin.xml /usr/share/man/man1/velbrin.1.gz \
  /usr/share/doc/velbrin/copyright /usr/share/doc/velbrin/docs/segments.md; do
  grep -qx "$f" "$work/files.txt" && [ -f "$f" ] || fail "the package does not install $f"
done

# velbrin from /usr/bin, with the module the package installed.
version=$(dpkg-deb -f "$deb" Version)
[ "$(/usr/bin/velbrin --version | cut -d' ' -f1-2)" = "velbrin $version" ] ||
  fail "velbrin --version says '$(/usr/bin/velbrin --version)', the package is $version"
cd "$work"
ffmpeg -nostdin -v error -f lavfi -i "testsrc2=size=160x120:rate=25,noise=alls=20:allf=t" -frames:v 10 -c:v ffv1 in.mkv
module=$(env -u VELBRIN_MODULE /usr/bin/velbrin --verbose -q -y in.mkv out.mkv 2>&1 | grep 'filter module' || true)
[ "$module" = "velbrin: filter module '/usr/bin/../lib/velbrin/noname.so'" ] || fail "velbrin used another module: $module"
[ "$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 out.mkv)" = 10 ] ||
  fail "velbrin from /usr/bin did not write the 10 frames"

# melt finds the plug-in where Debian's frei0r hosts look; unfiltered and
# filtered renders differ.
# render OUTPUT [FILTER...]
render() { local out=$1; shift; env -u FREI0R_PATH melt -silent in.mkv "$@" -consumer avformat:"$work/$out" vcodec=ffv1 real_time=0 2>&1; }
log=$(render filtered.mkv -filter frei0r.velbrin 0=0.5 1=0.3)
render plain.mkv >/dev/null
hashes() { ffmpeg -nostdin -v error -i "$1" -f framemd5 - | grep -v '^#'; }
[ -s filtered.mkv ] || fail "melt rendered nothing with frei0r.velbrin: $log"
[ "$(hashes filtered.mkv)" != "$(hashes plain.mkv)" ] || fail "melt did not apply frei0r.velbrin: $log"

"$source_dir/tests/frei0r/shotcut_log_test.sh" --installed "$source_dir/tests/frei0r/projects" ||
  fail "Shotcut does not list the installed filter"

# Purged: none of the package's files is left, and of its folders only
# those other packages also own.
apt purge velbrin
while read -r path; do
  [ "$path" = /. ] && continue
  if [ -d "$path" ] && [ ! -L "$path" ]; then
    dpkg-query -S "$path" >/dev/null 2>&1 || fail "purge left the folder $path"
  elif [ -e "$path" ] || [ -L "$path" ]; then
    fail "purge left $path"
  fi
done < "$work/files.txt"
echo "package: lintian has no error; installed, velbrin, melt and Shotcut use it; purged without a trace"
