#!/usr/bin/env bash
# Checks the Debian package built by `make package`: it names the libraries the program runs
# on (worked out by dpkg-shlibdeps) and the window system plugins, holds the program, its
# desktop entry, icons and metainfo under /usr, and the program in it starts.
# Usage: check-package.sh [PACKAGE.deb [VERSION]]; VERSION defaults to the CMake project's
# version in the package build (build/package). Exits non-zero on the first fault.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DEB="${1:-$(ls "$ROOT"/build/package/trelmo_*.deb | head -n1)}"
VERSION="${2:-$(sed -n 's/^CMAKE_PROJECT_VERSION:[A-Z]*=//p' "$ROOT/build/package/CMakeCache.txt" 2>/dev/null)}"
fail() { echo "check-package: $*" >&2; exit 1; }
[[ -f "$DEB" ]] || fail "no package: $DEB"
[[ -n "$VERSION" ]] || fail "no version: configure the package build first (make package)"

depends="$(dpkg-deb -f "$DEB" Depends)"
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 libqt6printsupport6 \
           libqt6serialport6 libjpeg62-turbo qt6-qpa-plugins; do
    grep -qE "(^|, )$lib( |,|$)" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[[ "$(dpkg-deb -f "$DEB" Package)" == trelmo ]] || fail "not named trelmo"
[[ "$(dpkg-deb -f "$DEB" Version)" == "$VERSION" ]] || fail "not version $VERSION"
dpkg-deb -f "$DEB" Description | grep -q ';' && fail "the description holds list separators"

ROOTFS="$(mktemp -d)"
trap 'rm -rf "$ROOTFS"' EXIT
dpkg-deb -x "$DEB" "$ROOTFS"
ID=com.trelmo.Trelmo
for f in usr/bin/trelmo usr/share/applications/$ID.desktop usr/share/metainfo/$ID.metainfo.xml \
         usr/share/icons/hicolor/scalable/apps/$ID.svg usr/share/icons/hicolor/48x48/apps/$ID.png; do
    [[ -s "$ROOTFS/$f" ]] || fail "missing /$f"
done
desktop-file-validate "$ROOTFS/usr/share/applications/$ID.desktop" || fail "desktop entry"
"$ROOTFS/usr/bin/trelmo" --version | grep -qxF "trelmo $VERSION" || fail "the packaged program"
echo "check-package: $(basename "$DEB"): Depends: $depends"
