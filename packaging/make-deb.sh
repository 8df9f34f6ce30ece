#!/usr/bin/env bash
# Makes velbrin_<version>_amd64.deb from a built native tree: the files of
# `cmake --install` under /usr (velbrin, its module in /usr/lib/velbrin, the
# frei0r plug-in in /usr/lib/frei0r-1 where Debian's hosts look, Shotcut's
# filter folder and Kdenlive's description under /usr/share, the manual page
# and the documents), stripped, with the copyright and changelog Debian
# wants, and the dependencies dpkg-shlibdeps reads from the linked libraries.
#   packaging/make-deb.sh BUILD_DIR OUT_DIR VERSION
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 out=$2 version=$3

# The changelog's newest entry is the release being packaged.
logged=$(sed -n '1s/^velbrin (\([^)]*\)).*/\1/p' "$here/debian/changelog")
[ "$logged" = "$version" ] || { echo "$0: packaging/debian/changelog starts at $logged, the project is $version" >&2; exit 1; }

stage=$(mktemp -d /tmp/velbrin-deb-XXXXXX)
trap 'rm -rf "$stage"' EXIT
root=$stage/root
DESTDIR=$root cmake --install "$build" --prefix /usr --strip >/dev/null

doc=$root/usr/share/doc/velbrin
gzip -9n "$root/usr/share/man/man1/velbrin.1"
install -m 644 "$here/debian/copyright" "$doc/copyright"
gzip -9n -c "$here/debian/changelog" > "$doc/changelog.gz"
# Plain files readable by all, programs and plug-ins also executable.
find "$root" -type d -exec chmod 755 {} +
find "$root" -type f -exec chmod 644 {} +
objects=("$root/usr/bin/velbrin" "$root/usr/lib/velbrin/noname.so" "$root/usr/lib/frei0r-1/velbrin.so")
chmod 755 "$root/usr/bin/velbrin"

# dpkg-shlibdeps reads the package's name from a debian/control beside it.
mkdir -p "$stage/debian"
printf 'Source: velbrin\n\nPackage: velbrin\nArchitecture: amd64\n' > "$stage/debian/control"
depends=$(cd "$stage" && dpkg-shlibdeps -O "${objects[@]/#$stage\//}" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
[ -n "$depends" ] || { echo "$0: dpkg-shlibdeps found no dependency" >&2; exit 1; }

mkdir -p "$root/DEBIAN"
(cd "$root" && find usr -type f -print0 | sort -z | xargs -0 md5sum) > "$root/DEBIAN/md5sums"
chmod 644 "$root/DEBIAN/md5sums"
size=$(du -sk --exclude=DEBIAN "$root" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@INSTALLED_SIZE@/$size/" -e "s/@DEPENDS@/$depends/" \
  "$here/debian/control.in" > "$root/DEBIAN/control"
mkdir -p "$out"
deb=$(cd "$out" && pwd)/velbrin_${version}_amd64.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb"
