#!/usr/bin/env bash
# Installs a build into a temporary prefix as a package would and checks what lands there:
# the program, the desktop entry (desktop-file-validate), the icon at every size under the
# name the entry gives, and the AppStream metainfo (appstreamcli), all named after one
# application id. Usage: check-install.sh BUILD_DIR [VERSION] (VERSION: the CMake project's,
# read from the build's cache when not given). Exits non-zero on the first fault.
set -euo pipefail
BUILD="${1:?usage: check-install.sh BUILD_DIR [VERSION]}"
VERSION="${2:-$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$BUILD/CMakeCache.txt")}"
[[ -n "$VERSION" ]] || { echo "check-install: no version in $BUILD/CMakeCache.txt" >&2; exit 1; }
ID=com.trelmo.Trelmo
PREFIX="$(mktemp -d)"
trap 'rm -rf "$PREFIX"' EXIT

cmake --install "$BUILD" --prefix "$PREFIX" >/dev/null
fail() { echo "check-install: $*" >&2; exit 1; }

expect=(bin/trelmo
        share/applications/$ID.desktop
        share/metainfo/$ID.metainfo.xml
        share/icons/hicolor/scalable/apps/$ID.svg)
for size in 16 24 32 48 64 128 256; do
    expect+=("share/icons/hicolor/${size}x${size}/apps/$ID.png")
done
for f in "${expect[@]}"; do
    [[ -s "$PREFIX/$f" ]] || fail "missing $f"
done
[[ -x "$PREFIX/bin/trelmo" ]] || fail "bin/trelmo is not executable"
# Nothing else: a package holds what its files list says.
extra=$(cd "$PREFIX" && find . -type f | sed 's|^\./||' | sort | comm -23 - <(printf '%s\n' "${expect[@]}" | sort))
[[ -z "$extra" ]] || fail "unexpected files: $extra"

for size in 16 24 32 48 64 128 256; do
    png="$PREFIX/share/icons/hicolor/${size}x${size}/apps/$ID.png"
    file "$png" | grep -q "PNG image data, $size x $size" || fail "$png is not a ${size}x$size PNG"
done

desktop="$PREFIX/share/applications/$ID.desktop"
# Errors and hints alike (a hint says, for example, that the entry shows twice in a menu).
out=$(desktop-file-validate "$desktop" 2>&1) || fail "the desktop entry does not validate: $out"
[[ -z "$out" ]] || fail "desktop-file-validate: $out"
grep -qx "Icon=$ID" "$desktop" || fail "the desktop entry does not name the icon $ID"
grep -qx "Exec=trelmo" "$desktop" || fail "the desktop entry does not start trelmo"
grep -q "^Categories=.*Development;" "$desktop" || fail "no Development category"

meta="$PREFIX/share/metainfo/$ID.metainfo.xml"
appstreamcli validate --no-net --pedantic "$meta" >/dev/null ||
    { appstreamcli validate --no-net "$meta"; fail "the metainfo does not validate"; }
grep -q "<id>$ID</id>" "$meta" || fail "the metainfo's id is not $ID"
grep -q "<launchable type=\"desktop-id\">$ID.desktop</launchable>" "$meta" ||
    fail "the metainfo does not launch $ID.desktop"
grep -q "<binary>trelmo</binary>" "$meta" || fail "the metainfo does not provide trelmo"

"$PREFIX/bin/trelmo" --version | grep -qxF "trelmo $VERSION" || fail "the installed program's --version"
echo "check-install: ${#expect[@]} files in place, desktop entry and metainfo valid"
