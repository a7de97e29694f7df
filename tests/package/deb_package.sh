#!/usr/bin/env bash
# The Debian package as a user gets it, built by CPack and unpacked into a scratch root:
# its exact file list, lintian without errors, its library dependencies, and a manual
# page that renders without warnings and names every option of the packaged program's --help.
# Usage: deb_package.sh BUILD_DIR CPACK VERSION; exits 77 (skipped) without dpkg,
# fails then under CI=true.
set -euo pipefail
build=$1 cpack=$2 version=$3

source "$(dirname "${BASH_SOURCE[0]}")/../support/real_part.sh"
command -v dpkg-deb >/dev/null || missing "dpkg-deb is not installed (scripts/setup.sh installs it)"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
chmod 755 "$scratch"  # man reads the page as its own user
fail() { echo "FAIL: $*"; exit 1; }

"$cpack" -G DEB -B "$scratch/out" --config "$build/CPackConfig.cmake" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$scratch/out/strandlink_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $(basename "$deb"), only: $(ls "$scratch/out")"
dpkg -x "$deb" "$scratch/root"

# Exactly these files: nothing missing, and no test or helper program.
d=usr/share id=org.strandlink.Strandlink
expected=$(printf '%s\n' usr/bin/strandlink usr/lib/systemd/user/strandlink@.service $d/man/man1/strandlink.1.gz \
  $d/doc/strandlink/{CHANGELOG.md,LICENSE,changelog.gz,copyright,strandlink-guide.html,wire-format.md} $d/applications/$id.desktop \
  $d/metainfo/$id.metainfo.xml $d/icons/hicolor/{scalable/apps/$id.svg,{16x16,32x32,48x48,64x64,128x128,256x256}/apps/$id.png} |
  sort)
actual=$(cd "$scratch/root" && find . ! -type d | sed 's|^\./||' | sort)
[ "$actual" = "$expected" ] || fail "file list differs:
$(diff <(echo "$expected") <(echo "$actual"))"

# Debian's own checks: no errors; its warnings are shown.
command -v lintian >/dev/null || missing "lintian is not installed (scripts/setup.sh installs it)"
lintian --fail-on error "$deb" >"$scratch/lintian" 2>&1 || fail "lintian finds errors:
$(cat "$scratch/lintian")"
grep -v '^N:' "$scratch/lintian" || true

depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6widgets6 libjack librtmidi libavahi-client libc6; do
  grep -q "\b$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

page=$scratch/root/usr/share/man/man1/strandlink.1.gz
LC_ALL=C MANWIDTH=80 man --warnings -l "$page" >"$scratch/page" 2>"$scratch/warnings" || fail "man -l"
[ ! -s "$scratch/warnings" ] || fail "man warns: $(cat "$scratch/warnings")"
grep -q "^Strandlink $version " "$scratch/page" || fail "the page's footer does not name version $version"
options=$("$scratch/root/usr/bin/strandlink" --help | grep -o -- '--[a-z][a-z-]*' | sort -u)
[ "$(wc -w <<<"$options")" -ge 7 ] || fail "--help names too few options: $options"
awk '/^OPTIONS/ { on = 1; next } /^[A-Z]/ { on = 0 } on' "$scratch/page" >"$scratch/options"
for option in $options; do
  grep -Eq -- "(^|[^a-z-])$option([^a-z-]|$)" "$scratch/options" || fail "OPTIONS in the manual page lacks $option"
done
echo "$(basename "$deb"): $(wc -l <<<"$actual") files; Depends: $depends"
