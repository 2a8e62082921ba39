#!/usr/bin/env bash
# Installs the build into a temporary prefix (with a space in its name, as a home directory may
# have), checks what lands where, validates the desktop entry and the AppStream metadata
# offline, and uninstalls with the install manifest, as the README says.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
id=org.sonivert.Sonivert
work=$(mktemp -d)
prefix="$work/my programs"
manifest="$build/install_manifest.txt"
# The user's own manifest (of a real install) is kept aside and put back, so that the README's
# uninstall line still removes what the user installed.
[ -e "$manifest" ] && cp -p "$manifest" "$work/manifest.saved"
restore() {
  if [ -e "$work/manifest.saved" ]; then cp -p "$work/manifest.saved" "$manifest"; else rm -f "$manifest"; fi
  rm -rf "$work"
}
trap restore EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null

for p in sonivert tompg sonivert-decode; do
  [ -x "$prefix/bin/$p" ] || fail "bin/$p is not installed as a program"
done

entry="$prefix/share/applications/$id.desktop"
metainfo="$prefix/share/metainfo/$id.metainfo.xml"
svg="$prefix/share/icons/hicolor/scalable/apps/$id.svg"
for f in "$entry" "$metainfo" "$svg"; do [ -s "$f" ] || fail "missing $f"; done
grep -qx "Exec=\"$prefix/bin/sonivert\"" "$entry" || fail "the desktop entry does not start $prefix/bin/sonivert"
grep -qx "Icon=$id" "$entry" || fail "the desktop entry names another icon"

# Each PNG is a PNG of its own size (width and height from the IHDR chunk).
for size in 16 22 24 32 48 64 128 256; do
  png="$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png"
  [ -s "$png" ] || fail "missing $png"
  [ "$(head -c 8 "$png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "$png is not a PNG"
  read -r w h < <(od -An -j16 -N8 -tu1 "$png" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}')
  [ "$w" = "$size" ] && [ "$h" = "$size" ] || fail "$png is ${w}x${h}"
done

# `man tompg` finds the installed pages through the prefix's manual directory.
for page in sonivert tompg sonivert-decode; do
  [ "$(MANPATH="$prefix/share/man" man -w "$page")" = "$prefix/share/man/man1/$page.1.gz" ] ||
    fail "man finds no installed page $page"
done

desktop-file-validate "$entry" || fail "desktop-file-validate"
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"

# Uninstall: the README's line removes every installed file.
xargs -d '\n' rm -f < "$manifest"
left=$(find "$prefix" -type f | wc -l)
[ "$left" = 0 ] || fail "$left files left after uninstalling"
echo "installed, validated and uninstalled"
