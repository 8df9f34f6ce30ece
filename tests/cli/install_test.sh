#!/usr/bin/env bash
# The installed tree: cmake --install puts velbrin, its module, the manual
# page and the README in place; the tree still works when moved elsewhere
# and with the build folder out of sight; the manual page renders cleanly
# and describes every option of --help.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d /tmp/velbrin-install-test-XXXXXX)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$work/prefix" >/dev/null
for f in bin/velbrin lib/velbrin/noname.so share/man/man1/velbrin.1 share/doc/velbrin/README.md; do
  [ -f "$work/prefix/$f" ] || fail "$f is not installed"
done
mv "$work/prefix" "$work/moved"
tree="$work/moved"

ffmpeg -nostdin -loglevel error -f lavfi -i testsrc2=s=32x24 -frames:v 1 "$work/in.png"
# Only the installed tree may supply the module.
unset VELBRIN_MODULE
err=$("$tree/bin/velbrin" --verbose -q "$work/in.png" "$work/out.png" 2>&1 >/dev/null | grep 'filter module' || true)
[ "$err" = "velbrin: filter module '$tree/bin/../lib/velbrin/noname.so'" ] || fail "module taken from elsewhere: $err"
[ -s "$work/out.png" ] || fail "no output from the moved tree"

# The build folder hidden under an empty file system, in a mount namespace
# of this run alone (root, or a user namespace where the system allows it).
hide="mount -t tmpfs none '$build' && exec '$tree/bin/velbrin' -q '$work/in.png' '$work/hidden.png'"
if unshare -m true 2>/dev/null; then
  unshare -m sh -c "$hide" || fail "the moved tree fails with the build folder hidden"
elif unshare -rm true 2>/dev/null; then
  unshare -rm sh -c "$hide" || fail "the moved tree fails with the build folder hidden"
else
  echo "note: no mount namespace here (not root, user namespaces off); build folder not hidden"
  cp "$work/out.png" "$work/hidden.png"
fi
cmp -s "$work/out.png" "$work/hidden.png" || fail "different output with the build folder hidden"

# The manual page: no warnings from man, and every option of --help in it.
page="$tree/share/man/man1/velbrin.1"
warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
text=$(MANWIDTH=200 man -l "$page" 2>/dev/null)
for option in $("$tree/bin/velbrin" --help | grep -oE '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u); do
  grep -qe "$option" <<<"$text" || fail "the manual page lacks $option"
done
echo "installed tree works when moved; manual page complete"
