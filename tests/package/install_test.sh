#!/bin/sh
# The Debian package as a user gets it: unpacked into a scratch root
# (dpkg -x), its program run from there for one download from the reference
# service, then for its --version.
#
#   tests/package/install_test.sh <build dir> [package.deb]
#
# Without a package, cpack makes one from the build tree first.
set -eu

build=$(cd "${1:?usage: install_test.sh <build dir> [package.deb]}" && pwd)
deb=${2:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/ovdownloader-package.XXXXXX")
service_pid=""
cleanup() {
  [ -z "$service_pid" ] || kill "$service_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() {
  echo "package test: $*" >&2
  exit 1
}

if [ -z "$deb" ]; then
  cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack could not make the package"; }
  deb=$(ls "$work"/cpack/*.deb)
fi
dpkg -x "$deb" "$work/root"
program="$work/root/usr/bin/ovdownloader"
[ -x "$program" ] || fail "the package has no /usr/bin/ovdownloader"

# A home of its own, an opener that only notes what it is given, the service.
home="$work/home"
mkdir -p "$home/.config" "$home/Downloads" "$home/run" "$work/bin" "$work/service"
chmod 700 "$home/run"
echo 'XDG_DOWNLOAD_DIR="$HOME/Downloads"' >"$home/.config/user-dirs.dirs"
printf '#!/bin/sh\nprintf "%%s\\n" "$1" >>"%s/opened"\n' "$work" >"$work/bin/xdg-open"
chmod +x "$work/bin/xdg-open"
head -c 3145745 /dev/urandom >"$work/PackageSetup.pkg"
# The service prints one line once it listens.
mkfifo "$work/listening"
"$build/tools/ov-refservice" --installer "$work/PackageSetup.pkg" --state-dir "$work/service" \
  >"$work/listening" 2>"$work/service.log" &
service_pid=$!
read -r listening <"$work/listening" || { cat "$work/service.log" >&2; fail "the reference service did not start"; }

run() {
  env -i PATH="$work/bin:/usr/bin:/bin" HOME="$home" XDG_DATA_HOME="$home/.local/share" \
    XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" \
    LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen OVDOWNLOADER_SERVICE_HOST="127.0.0.1:$(cat "$work/service/port")" \
    OVDOWNLOADER_CA_FILE="$work/service/ca.pem" timeout 120 "$program" "$@"
}

status=0
run >"$work/run.log" 2>&1 || status=$?
[ "$status" -eq 0 ] || { cat "$work/run.log" >&2; fail "the download ended with status $status"; }
cmp -s "$work/PackageSetup.pkg" "$home/Downloads/PackageSetup.pkg" || fail "the installer did not arrive whole"
[ "$(cat "$work/opened")" = "$home/Downloads/PackageSetup.pkg" ] || fail "the installer was not opened"

status=0
version=$(run --version 2>"$work/version.log") || status=$?
[ "$status" -eq 0 ] || fail "--version ended with status $status"
case $(printf '%s\n' "$version" | head -n 1) in
  "OVDownloader "*) ;;
  *) fail "--version printed: $version" ;;
esac
echo "package test: $(basename "$deb") installs, downloads and names its version"
