#!/bin/sh
# A real download, end to end: a sample installer of random bytes served by the
# reference download service on loopback, fetched by the real program bundle in
# a sandboxed home. Prints where the installer landed, whether it arrived
# intact, how long the transfer took, and the conversation with the service.
#
# usage: tools/demo.sh <build dir>
set -eu

build=$(cd "$1" && pwd)
app="$build/OVDownloader.app/Contents/MacOS/OVDownloader"
service="$build/tools/ov-refservice"
[ -x "$app" ] || { echo "missing $app (run ./dev build)" >&2; exit 1; }
[ -x "$service" ] || { echo "missing $service (run ./dev build)" >&2; exit 1; }

size_mib=${OVDEMO_SIZE_MIB:-48}
work=$(mktemp -d /tmp/ovdemo.XXXXXX)
home="$work/home"
service_pid=""
app_pid=""

cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$home/Downloads" "$home/.config" "$home/.local/share" "$home/.cache" "$work/bin" "$work/served" "$work/service"
echo 'XDG_DOWNLOAD_DIR="$HOME/Downloads"' > "$home/.config/user-dirs.dirs"
# Stands in for xdg-open: a demo installer of random bytes is not for opening.
cat > "$work/bin/xdg-open" <<EOF
#!/bin/sh
printf '%s\n' "\$1" >> "$work/opened.txt"
EOF
chmod +x "$work/bin/xdg-open"

installer="$work/served/OrvalenSetup.pkg"
echo "Making a ${size_mib} MiB sample installer..."
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$installer"
source_sha=$(sha256sum "$installer" | cut -d' ' -f1)

# A per-connection limit keeps the transfer long enough to watch.
"$service" --installer "$installer" --state-dir "$work/service" --rate-limit 800000 \
  > "$work/service.out" 2> "$work/service.err" &
service_pid=$!
i=0
while [ ! -s "$work/service/port" ]; do
  i=$((i + 1))
  if [ "$i" -gt 100 ] || ! kill -0 "$service_pid" 2>/dev/null; then
    echo "the reference service did not start:" >&2
    cat "$work/service.err" >&2
    exit 1
  fi
  sleep 0.1
done
port=$(cat "$work/service/port")
record="$work/service/requests.jsonl"
echo "Reference service on https://127.0.0.1:$port"

platform=offscreen
[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && platform=""
echo "Starting OVDownloader ($( [ -n "$platform" ] && echo "offscreen, no display found" || echo "in a window"))."
echo "It prepares, counts down 15 seconds (or press its start button), then downloads."
started=$(date +%s)
env HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
  XDG_CACHE_HOME="$home/.cache" PATH="$work/bin:$PATH" \
  OVDOWNLOADER_SERVICE_HOST="127.0.0.1:$port" OVDOWNLOADER_CA_FILE="$work/service/ca.pem" \
  ${platform:+QT_QPA_PLATFORM=$platform} \
  "$app" > "$work/program.out" 2> "$work/program.err" &
app_pid=$!

# Progress as the program's part files grow in its application-support folder.
parts="$home/.local/share/com.orvalen.OVDownloader/OrvalenSetup_TempFiles"
while kill -0 "$app_pid" 2>/dev/null; do
  sent=$(find "$parts" -type f -printf '%s\n' 2>/dev/null | awk '{ s += $1 } END { print s + 0 }')
  elapsed=$(($(date +%s) - started))
  if [ "$sent" -eq 0 ]; then
    printf '\r  %3ds  preparing and counting down...          ' "$elapsed"
  else
    printf '\r  %3ds  %s of %s MiB received              ' "$elapsed" \
      "$(echo "scale=1; $sent / 1048576" | bc)" "$size_mib"
  fi
  sleep 1
done
wait "$app_pid" && exit_code=0 || exit_code=$?
app_pid=""
printf '\r  done after %ss (exit code %s)                       \n\n' "$(($(date +%s) - started))" "$exit_code"

landed="$home/Downloads/OrvalenSetup.pkg"
if [ -f "$landed" ]; then
  landed_sha=$(sha256sum "$landed" | cut -d' ' -f1)
  echo "Installer:  $landed"
  if [ "$landed_sha" = "$source_sha" ]; then
    echo "SHA-256:    $landed_sha (equal to the source's)"
  else
    echo "SHA-256:    $landed_sha DIFFERS from the source's $source_sha"
  fi
else
  echo "Installer:  not in $home/Downloads (see $work/program.err)"
fi
[ -f "$work/opened.txt" ] && echo "Opened:     $(cat "$work/opened.txt") (recorded by a stand-in for xdg-open)"

# The transfer runs from the first range request to the "Complete" report.
jq -rs '
  def field($n): (.form // [] | map(select(.[0] == $n)) | first | .[1]) // "";
  ([.[] | select(.method == "GET")] | first | .sinceStartMs) as $first
  | ([.[] | select(field("status") == "Complete")] | first | .sinceStartMs) as $done
  | if $first and $done then "Transfer:   \((($done - $first) / 1000) * 10 | round / 10) s from the first range request to the \"Complete\" report" else empty end
' "$record" 2>/dev/null || true

echo
echo "The conversation with the service:"
jq -rs 'sort_by(.seq)[] |
  def field($n): (.form // [] | map(select(.[0] == $n)) | first | .[1]) // "";
  def t: "+\((.sinceStartMs / 100 | floor) / 10)s";
  if .method == "GET" then "  \(t)  GET  \(.path)  \(.range)  -> \(.status)"
  elif .method == "HEAD" then "  \(t)  HEAD \(.path)  -> \(.status)"
  else
    (.path | split("/") | last) as $endpoint
    | "  \(t)  POST \($endpoint)  -> \(.status)"
      + (if $endpoint == "update-status.jsp" then "  status=\(field("status")) detail=\(field("detail_status"))"
         elif $endpoint == "update-size-v2.jsp" then "  \(field("currentDownloadSize"))/\(field("fileSize")) bytes, \(field("Duration")) s"
         else "" end)
  end
' "$record" 2>/dev/null || cat "$record"

echo
echo "Everything of this run is in $work (the program's output: program.out, program.err)."
