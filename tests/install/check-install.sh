#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks what a package would carry: the three
# programs start and name their version, the desktop entry is valid and opens our URLs, the
# icon is there at every size, and vantorctl has its manual page.
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }

for program in vantor-dashboard vantorctl vantor-sim; do
  [ -x "$prefix/bin/$program" ] || fail "$program is not installed"
  version=$("$prefix/bin/$program" --version) || fail "$program --version failed"
  [[ $version =~ ^$program\ [0-9]+\.[0-9]+\.[0-9]+\ \([0-9]+,\ commit\ ([0-9a-f]+|unknown)\)$ ]] ||
    fail "$program --version printed: $version"
done

desktop=$prefix/share/applications/vantor-dashboard.desktop
[ -f "$desktop" ] || fail "no desktop entry"
desktop-file-validate "$desktop" || fail "the desktop entry is not valid"
grep -qx 'MimeType=x-scheme-handler/vantordashboard;' "$desktop" || fail "the desktop entry does not claim vantordashboard:// URLs"
grep -qx 'Icon=vantor-dashboard' "$desktop" || fail "the desktop entry names no icon"

for side in 16 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${side}x${side}/apps/vantor-dashboard.png
  [ -f "$icon" ] || fail "no ${side}x${side} icon"
  # A PNG starts with its 8-byte signature and the IHDR chunk, whose first field is the width.
  [ "$(od -An -tx1 -N4 "$icon" | tr -d ' ')" = 89504e47 ] || fail "the ${side}x${side} icon is not a PNG"
  width=$(od -An -tu4 --endian=big -j16 -N4 "$icon" | tr -d ' ')
  [ "$width" = "$side" ] || fail "the ${side}x${side} icon is $width pixels wide"
done

man=$prefix/share/man/man1/vantorctl.1.gz
[ -f "$man" ] || fail "no manual page for vantorctl"
zcat "$man" | grep -q '^\.SH NAME' || fail "the manual page has no NAME section"
echo "installed files check out"
