#!/bin/sh
# Makes the Debian package and the relocatable tarball of a built tree and
# checks them with the tools the desktop and Debian use: lintian (no error),
# desktop-file-validate, appstreamcli validate --no-net, the tarball's layout,
# and the package installed into a scratch root and run
# (tests/package/install_test.sh).
#
#   tools/package.sh <build dir>      writes <build dir>/packages/
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: package.sh <build dir>}" && pwd)
out="$build/packages"
rm -rf "$out"
mkdir -p "$out"

cpack --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 ||
  { cat "$out/cpack.log" >&2; exit 1; }
rm -rf "$out/_CPack_Packages"
deb=$(ls "$out"/*.deb)
tarball=$(ls "$out"/*.tar.gz)
echo "package: $deb"
echo "package: $tarball"

echo "lintian:"
lintian --fail-on error --display-info "$deb"

unpacked="$out/unpacked"
dpkg -x "$deb" "$unpacked"
for entry in "$unpacked"/usr/share/applications/*.desktop; do
  desktop-file-validate "$entry"
  echo "desktop-file-validate: $(basename "$entry") passes"
done
for metainfo in "$unpacked"/usr/share/metainfo/*.metainfo.xml; do
  appstreamcli validate --no-net "$metainfo"
done
rm -rf "$unpacked"

# The tarball holds the bundle alone, at its top.
outside=$(tar -tzf "$tarball" | grep -v '^OVDownloader\.app/' || true)
[ -z "$outside" ] || { echo "package: the tarball holds more than the bundle: $outside" >&2; exit 1; }
tar -tzf "$tarball" | grep -qx 'OVDownloader.app/Contents/MacOS/OVDownloader' ||
  { echo "package: the tarball has no program" >&2; exit 1; }

sh "$root/tests/package/install_test.sh" "$build" "$deb"
