#!/bin/sh
# Photographs the download window in each state with the real program: the
# bundle runs under Xvfb against the reference download service, in a
# sandboxed home, and is driven from the keyboard (xdotool) as a person would.
#
#   tools/screenshots.sh <build dir> <output folder>
#
# Writes, for 100 % and 200 % scaling (x1, x2):
#   01-preparing  02-countdown  03-downloading  04-paused  05-leave-confirmation
#   06-server-error  11-proxy-login  12-proxy-login-refused
# and, in German at 100 %: 07-countdown-de, 08-need-update-de; then, with a
# long German and a long Japanese product name, in their languages, at 100 %
# and 200 %: 09-countdown-long-de, 10-server-error-long-de, 09-countdown-long-ja,
# 10-server-error-long-ja. Each run's log goes beside the pictures. Needs Xvfb,
# xdotool, ImageMagick and a Japanese font (fonts-ipafont-gothic); uses no
# display, network or home folder of the machine it runs on. The proxy login
# runs through tinyproxy on loopback, which wants a user name and password.
set -eu

build=${1:?usage: screenshots.sh <build dir> <output folder>}
out=${2:?usage: screenshots.sh <build dir> <output folder>}
build=$(cd "$build" && pwd)
exe="$build/OVDownloader.app/Contents/MacOS/OVDownloader"
service="$build/tools/ov-refservice"
for tool in Xvfb xdotool import convert tinyproxy; do
  command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing (./dev setup)" >&2; exit 1; }
done
[ -x "$exe" ] || { echo "screenshots: no program at $exe (build first)" >&2; exit 1; }
[ -x "$service" ] || { echo "screenshots: no reference service at $service" >&2; exit 1; }

mkdir -p "$out"
out=$(cd "$out" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/ovdownloader-shots.XXXXXX")
xvfb_pid=""
service_pid=""
app_pid=""
proxy_pid=""

cleanup() {
  for pid in $app_pid $proxy_pid $service_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
  echo "screenshots: $*" >&2
  exit 1
}

# wait_until <seconds> <command...>: polls every 0.2 s.
wait_until() {
  limit=$(($1 * 5))
  shift
  while ! "$@" 2>/dev/null; do
    limit=$((limit - 1))
    [ "$limit" -gt 0 ] || return 1
    sleep 0.2
  done
}

# --- The display: one screen large enough for the window at 200 %. -----------
: >"$work/display"
Xvfb -displayfd 3 -screen 0 1400x900x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
wait_until 10 test -s "$work/display" || fail "Xvfb did not start (see $work/xvfb.log)"
DISPLAY=":$(cat "$work/display")"
export DISPLAY

head -c 41943040 /dev/urandom >"$work/SampleStudioSetup.pkg"

# start_service <scenario lines>: a fresh reference service for one run.
start_service() {
  rm -rf "$work/service"
  mkdir -p "$work/service"
  printf '%s\n' "$@" >"$work/scenario"
  "$service" --installer "$work/SampleStudioSetup.pkg" --state-dir "$work/service" \
    --scenario "$work/scenario" >"$work/service.log" 2>&1 &
  service_pid=$!
  wait_until 10 test -s "$work/service/port" || fail "the reference service did not start"
}

stop_service() {
  kill "$service_pid" 2>/dev/null || true
  wait "$service_pid" 2>/dev/null || true
  service_pid=""
}

# start_proxy: tinyproxy on loopback, for one run, that wants the user name
# "deploy" and the password "s3cret" (Basic) before it carries anything.
start_proxy() {
  proxy_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
  printf 'Port %s\nListen 127.0.0.1\nAllow 127.0.0.1\nLogLevel Connect\nLogFile "%s"\nBasicAuth deploy s3cret\n' \
    "$proxy_port" "$work/tinyproxy.log" >"$work/tinyproxy.conf"
  tinyproxy -d -c "$work/tinyproxy.conf" >"$work/tinyproxy.out" 2>&1 &
  proxy_pid=$!
  wait_until 10 sh -c "ss -ltn | grep -q '127.0.0.1:$proxy_port '" || fail "tinyproxy did not start"
}

stop_proxy() {
  kill "$proxy_pid" 2>/dev/null || true
  wait "$proxy_pid" 2>/dev/null || true
  proxy_pid=""
}

# product_bundle <name> <display name> <version>: a copy of the bundle whose
# MakeInfo.ini names another product; start_app runs it until the next call.
app_exe=$exe
product_bundle() {
  rm -rf "$work/$1.app"
  cp -a "$build/OVDownloader.app" "$work/$1.app"
  printf '[Ureg_Info]\nSR_No=SR-SHOT-0001\nProd_Name=SampleStudio\nDisplayProd_Name=%s\nProd_Ver=%s\nRegVType=Retail\n' \
    "$2" "$3" >"$work/$1.app/Contents/Resources/MakeInfo.ini"
  app_exe="$work/$1.app/Contents/MacOS/OVDownloader"
}

# start_app <run name> <scale> [VAR=value...]: the program in a fresh home.
start_app() {
  run=$1
  app_scale=$2
  shift 2
  home="$work/home-$run"
  rm -rf "$home"
  mkdir -p "$home/.config" "$home/Downloads" "$home/run"
  chmod 700 "$home/run"
  echo 'XDG_DOWNLOAD_DIR="$HOME/Downloads"' >"$home/.config/user-dirs.dirs"
  log="$out/$run.log"
  env -i PATH="/usr/bin:/bin" HOME="$home" XDG_DATA_HOME="$home/.local/share" \
    XDG_CONFIG_HOME="$home/.config" XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" \
    DISPLAY="$DISPLAY" LANG=C.UTF-8 QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR="$app_scale" \
    OVDOWNLOADER_SERVICE_HOST="127.0.0.1:$(cat "$work/service/port")" \
    OVDOWNLOADER_CA_FILE="$work/service/ca.pem" "$@" "$app_exe" >"$log" 2>&1 &
  app_pid=$!
}

# Ends the program as the system would (SIGTERM) and checks that it left
# nothing behind: no lock, no part files.
stop_app() {
  if kill -0 "$app_pid" 2>/dev/null; then
    kill -TERM "$app_pid"
    wait_until 15 sh -c "! kill -0 $app_pid" || fail "$run: the program did not end on SIGTERM"
  fi
  wait "$app_pid" 2>/dev/null || true
  app_pid=""
  leftovers=$(find "$home/.local/share" -mindepth 2 2>/dev/null || true)
  [ -z "$leftovers" ] || fail "$run: left behind: $leftovers"
}

logged() { grep -q "$1" "$log"; }

# The program's window, or a dialog ("OVDownloader"), once mapped and laid out.
window_named() {
  for id in $(xdotool search --onlyvisible --name "$1" 2>/dev/null); do
    size=$(xdotool getwindowgeometry "$id" | sed -n 's/.*Geometry: //p')
    [ "$size" != "1x1" ] && echo "$id" && return 0
  done
  return 1
}
has_window() { window_named "$1" >/dev/null; }

# Gives a window the keyboard (there is no window manager to do it).
focus() {
  id=$(window_named "$1") || fail "$run: no window named $1"
  xdotool windowfocus --sync "$id"
  sleep 0.3
}

# shot <name>: the screen, trimmed to what the program shows.
shot() {
  sleep 0.4
  import -window root "$work/shot.png"
  convert "$work/shot.png" -trim +repage "$out/$1.png"
  echo "  $out/$1.png"
}

main_window="^Orvalen .* Downloader$"

for scale in 1 2; do
  run="x$scale"
  echo "$run: preparing, countdown, downloading, paused, leave confirmation"
  start_service "answer-delay-ms = 2500" "rate-limit = 150000"
  start_app "$run" "$scale"
  wait_until 15 has_window "$main_window" || fail "$run: no window"
  shot "$run-01-preparing"
  wait_until 30 logged "Receive ReadyToDownload notification" || fail "$run: never ready"
  sleep 1.5
  shot "$run-02-countdown"
  # The start button has the keyboard; the pause button takes it over.
  focus "$main_window"
  xdotool key space
  wait_until 20 logged "Download begin" || fail "$run: the start key did nothing"
  sleep 4
  shot "$run-03-downloading"
  focus "$main_window"
  xdotool key space
  wait_until 10 logged "Pause Download" || fail "$run: the pause key did nothing"
  shot "$run-04-paused"
  focus "$main_window"
  xdotool key ctrl+q
  wait_until 10 has_window "^OVDownloader$" || fail "$run: Ctrl+Q asked nothing"
  shot "$run-05-leave-confirmation"
  focus "^OVDownloader$"
  xdotool key Return
  wait_until 10 sh -c "! xdotool search --onlyvisible --name '^OVDownloader$' | grep -q ." ||
    fail "$run: No did not close the confirmation"
  logged "Cancel Download" && fail "$run: No cancelled the download"
  stop_app
  logged "Termination signal" || fail "$run: the signal was not handled"
  stop_service

  echo "$run: server error"
  start_service "link = error-000"
  start_app "$run-server-error" "$scale"
  wait_until 15 has_window "^OVDownloader$" || fail "$run: no server-error dialog"
  shot "x$scale-06-server-error"
  focus "^OVDownloader$"
  xdotool key Return
  wait_until 10 sh -c "! kill -0 $app_pid" || fail "$run: OK did not end the program"
  stop_app
  stop_service

  run="x$scale-proxy-login"
  echo "$run: a proxy that asks for a user name and password, a refused one, then the right one"
  start_service "rate-limit = 150000"
  start_proxy
  start_app "$run" "$scale" https_proxy="http://127.0.0.1:$proxy_port"
  wait_until 15 has_window "^Proxy Login$" || fail "$run: no proxy login dialog"
  shot "x$scale-11-proxy-login"
  focus "^Proxy Login$"
  xdotool type "deploy"
  xdotool key Tab
  xdotool type "not-it"
  xdotool key Return
  wait_until 10 logged "(it refused the last one)" || fail "$run: the wrong password was not refused"
  wait_until 10 has_window "^Proxy Login$" || fail "$run: a refused login did not ask again"
  shot "x$scale-12-proxy-login-refused"
  focus "^Proxy Login$"
  xdotool type "deploy"
  xdotool key Tab
  xdotool type "s3cret"
  xdotool key Return
  wait_until 30 logged "Receive ReadyToDownload notification" || fail "$run: never ready through the proxy"
  ! grep -q -e "s3cret" -e "not-it" "$log" || fail "$run: a password reached the log"
  stop_app
  stop_proxy
  stop_service
done

echo "de: countdown and need-update dialog in German"
start_service "rate-limit = 150000"
start_app de-countdown 1 LANGUAGE=de LANG=de_DE.UTF-8
wait_until 30 logged "Receive ReadyToDownload notification" || fail "de: never ready"
sleep 1.5
shot "x1-07-countdown-de"
stop_app
stop_service
start_service "link = error-001" "update-link = https://www.orvalen.example/OVDownloader.dmg"
start_app de-need-update 1 LANGUAGE=de LANG=de_DE.UTF-8
wait_until 15 has_window "^OVDownloader$" || fail "de: no need-update dialog"
shot "x1-08-need-update-de"
focus "^OVDownloader$"
# Close, the second button: the program ends without opening anything.
xdotool key Tab space
wait_until 10 sh -c "! kill -0 $app_pid" || fail "de: Close did not end the program"
stop_app
stop_service

# Long names: a German one with a compound word that cannot be broken, and a
# Japanese one without spaces, each in its own language.
for lang in de ja; do
  if [ "$lang" = de ]; then
    product_bundle long-de "Druckvorstufenfarbverwaltungsprogrammpaket Professional für Werbeagenturen" "2024.1"
    locale=de_DE.UTF-8
  else
    product_bundle long-ja "オーヴァレン・プロフェッショナル画像編集カラーマネジメント統合スタジオ" "2024.1"
    locale=ja_JP.UTF-8
  fi
  for scale in 1 2; do
    echo "x$scale: countdown and server error with a long $lang product name"
    start_service "rate-limit = 150000"
    start_app "long-$lang-x$scale" "$scale" LANGUAGE="$lang" LANG="$locale"
    wait_until 30 logged "Receive ReadyToDownload notification" || fail "long $lang: never ready"
    sleep 1.5
    shot "x$scale-09-countdown-long-$lang"
    stop_app
    stop_service
    start_service "link = error-000"
    start_app "long-$lang-x$scale-server-error" "$scale" LANGUAGE="$lang" LANG="$locale"
    wait_until 15 has_window "^OVDownloader$" || fail "long $lang: no server-error dialog"
    shot "x$scale-10-server-error-long-$lang"
    focus "^OVDownloader$"
    xdotool key Return
    wait_until 10 sh -c "! kill -0 $app_pid" || fail "long $lang: OK did not end the program"
    stop_app
    stop_service
  done
done
app_exe=$exe

echo "screenshots: done, in $out"
