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
desktop-file-validate "$desktop" || fail "no valid desktop entry"
for line in 'MimeType=x-scheme-handler/vantordashboard;' 'Icon=vantor-dashboard'; do
  grep -qx "$line" "$desktop" || fail "the desktop entry lacks $line"
done

for side in 16 24 32 48 64 128 256; do
  icon=$prefix/share/icons/hicolor/${side}x${side}/apps/vantor-dashboard.png
  # A PNG starts with its 8-byte signature and the IHDR chunk, whose first field is the width.
  [ "$(od -An -tx1 -N4 "$icon" | tr -d ' ')" = 89504e47 ] || fail "the ${side}x${side} icon is not a PNG"
  width=$(od -An -tu4 --endian=big -j16 -N4 "$icon" | tr -d ' ')
  [ "$width" = "$side" ] || fail "the ${side}x${side} icon is $width pixels wide"
done

zcat "$prefix/share/man/man1/vantorctl.1.gz" | grep -q '^\.SH NAME' || fail "no manual page for vantorctl with a NAME section"
echo "installed files check out"
