#!/usr/bin/env bash
# Makes the Debian package from the build tree as the README says and checks it: lintian finds no
# error, the programs, manual pages and desktop files lie under /usr, the dependencies were
# computed from the binaries, the desktop entry starts the packaged program, and the user's own
# install manifest is left alone.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1 work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
manifest_before=$(cat "$build/install_manifest.txt" 2>/dev/null || echo none)
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work" >"$work/log" 2>&1 || { cat "$work/log"; fail cpack; }
[ "$(cat "$build/install_manifest.txt" 2>/dev/null || echo none)" = "$manifest_before" ] || fail "cpack rewrote the install manifest"
deb=$(ls "$work"/sonivert_*.deb) || fail "no sonivert_*.deb"

lintian --info -I "$deb" 2>&1 | { grep -v 'root privileges' || true; } | tee "$work/lintian" >&2
grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"

dpkg-deb --contents "$deb" | awk '{print $1, $6}' >"$work/contents"
grep -v ' \./usr/' "$work/contents" | grep -v ' \./$' && fail "files outside /usr"
for p in sonivert tompg sonivert-decode; do
  grep -qx -- "-rwxr-xr-x ./usr/bin/$p" "$work/contents" && grep -q " ./usr/share/man/man1/$p.1.gz\$" "$work/contents" ||
    fail "$p or its manual page is missing"
done
for f in applications/org.sonivert.Sonivert.desktop metainfo/org.sonivert.Sonivert.metainfo.xml \
  icons/hicolor/scalable/apps/org.sonivert.Sonivert.svg doc/sonivert/copyright; do
  grep -q " ./usr/share/$f\$" "$work/contents" || fail "no /usr/share/$f"
done
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || fail "the dependencies were not computed"
dpkg-deb -x "$deb" "$work/root"
entry="$work/root/usr/share/applications/org.sonivert.Sonivert.desktop"
grep -Eqx 'Exec="?/usr/bin/sonivert"?' "$entry" || fail "the desktop entry starts $(grep ^Exec= "$entry")"
desktop-file-validate "$entry"
