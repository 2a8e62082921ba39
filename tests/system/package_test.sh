#!/usr/bin/env bash
# Makes the Debian package from the build tree as the README says and checks it as an archive
# would: lintian finds no error, the programs and the desktop files lie under /usr, the
# dependencies were computed from the binaries, the desktop entry starts the packaged program,
# and the user's own install manifest is left alone.
#   package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
manifest="$build/install_manifest.txt"
before=$(cat "$manifest" 2>/dev/null || echo none)

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
shopt -s nullglob
debs=("$work"/out/sonivert_*.deb)
[ ${#debs[@]} = 1 ] || fail "cpack made ${#debs[@]} files named sonivert_*.deb"
deb=${debs[0]}
[ "$(cat "$manifest" 2>/dev/null || echo none)" = "$before" ] || fail "cpack rewrote $manifest"

# lintian fails (status 2) on an error; the whole verdict is shown either way.
lintian --info "$deb" 2>&1 | grep -v 'root privileges' | tee "$work/lintian" >&2 || true
grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"
lintian "$deb" >/dev/null 2>&1 || fail "lintian failed"

dpkg-deb --contents "$deb" | awk '{print $1, $6}' >"$work/contents"
grep -v ' \./usr/' "$work/contents" | grep -v ' \./$' && fail "files outside /usr"
for p in sonivert tompg sonivert-decode; do
  grep -qx -- "-rwxr-xr-x ./usr/bin/$p" "$work/contents" || fail "no program /usr/bin/$p"
  grep -q " ./usr/share/man/man1/$p.1.gz\$" "$work/contents" || fail "no manual page of $p"
done
for f in applications/org.sonivert.Sonivert.desktop metainfo/org.sonivert.Sonivert.metainfo.xml \
  icons/hicolor/scalable/apps/org.sonivert.Sonivert.svg icons/hicolor/48x48/apps/org.sonivert.Sonivert.png \
  doc/sonivert/copyright; do
  grep -q " ./usr/share/$f\$" "$work/contents" || fail "no /usr/share/$f"
done
dpkg-deb --field "$deb" Depends | grep -q 'libqt6widgets6' || fail "the dependencies were not computed"

dpkg-deb -x "$deb" "$work/root"
entry="$work/root/usr/share/applications/org.sonivert.Sonivert.desktop"
grep -Eqx 'Exec="?/usr/bin/sonivert"?' "$entry" || fail "the desktop entry starts $(grep ^Exec= "$entry")"
desktop-file-validate "$entry" || fail "desktop-file-validate"
echo "package made, lintian has no errors, contents in place"
