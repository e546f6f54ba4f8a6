#!/bin/bash
# The real program, measured from outside, beside aria2c and curl.
#
# nginx serves an installer of random bytes over HTTPS on loopback; the
# reference download service (ov-refservice, `link = raw`) answers the program's
# link query with nginx's URL, and its heartbeat and reports. The Release
# bundle runs offscreen in a sandboxed home, with a stand-in `xdg-open` first
# on PATH that records when it was called and with what. Each setting runs
# interleaved: program, aria2c -x10 -s10 -k5M, single-stream curl, program, ...
#
# Settings:
#   unthrottled   nginx as fast as it goes
#   20 MiB/s      nginx `limit_rate 20m` (per connection)
#   mixed         each connection at its own rate from 5 to 40 MiB/s (nginx
#                 `map` of the client port's last digit feeding `limit_rate`),
#                 behind the same delaying relay as +50 ms RTT: connections on
#                 the internet do not run at one speed
#   +50 ms RTT    the 20 MiB/s limit, through bench/DelayProxy.cpp (delay_proxy),
#                 a relay on loopback that holds each byte 25 ms each way. The
#                 natural tool, `tc qdisc ... netem delay` on a veth pair
#                 between network namespaces, does not exist on the machine
#                 this was written on: its kernel is built without netem
#                 (CONFIG_NET_SCH_NETEM is not set, and it loads no modules).
#                 The relay adds the round trip to every exchange, the TLS and
#                 TCP handshakes included, but not the long path's slow start.
#
# What is measured:
#   program   from the start of its first range request (nginx's access log:
#             $msec is logged when a request ends, minus $request_time) to the
#             stand-in opener's timestamp (the program moves the installer
#             into Downloads before it opens it). Its exit is recorded too.
#   anchors   aria2c and curl from process start to exit (no countdown).
#   CPU       user + system seconds of each client, from GNU time; and the
#             whole machine's busy seconds over the client's run (/proc/stat),
#             which also counts the kernel's writeback threads and the servers,
#             with the seconds the hypervisor stole from this machine beside
#             it: a run with stolen time measured a busy host, not the client.
#   memory    the program's peak resident set (GNU time's max RSS).
#   disk      the peak of the program's application-support folder plus its
#             Downloads folder, sampled every 50 ms by bench/DiskSampler.cpp.
#   merge     from nginx logging the end of the program's last range response
#             to the opener's timestamp: the work left after the last byte.
# With --baseline, a release build of another commit (./dev bench --against
# builds one) runs beside the program in the same interleaved runs, as "base".
# The program's installer must equal the source (SHA-256) in every run; a run
# that does not, or ends with a non-zero status, or takes too long, counts as
# failed, is listed and left out of the medians. Medians are printed.
#
# The sandbox (application support and Downloads) lives in the work folder,
# under /tmp unless --dir names another place: a file system with reflinks
# (XFS, btrfs) turns each part's append into a clone instead of a copy.
#
# usage: bench/run.sh <release build dir> [--size MiB] [--runs N] [--dir DIR] [--keep]
#                     [--baseline <release build dir> [--baseline-name TEXT]]
set -Eeuo pipefail

# --- Settings and paths -------------------------------------------------------

build=$(cd "$1" && pwd)
shift
size_mib=1024
runs=3
keep=0
dir=/tmp
baseline=""
baseline_name=""
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size_mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    --dir) dir=$2; shift 2 ;;
    --keep) keep=1; shift ;;
    --baseline) baseline=$(cd "$2" && pwd); shift 2 ;;
    --baseline-name) baseline_name=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

app="$build/OVDownloader.app/Contents/MacOS/OVDownloader"
service="$build/tools/ov-refservice"
proxy="$build/bench/delay_proxy"
sampler="$build/bench/disk_sampler"
base_app=""
[ -z "$baseline" ] || base_app="$baseline/OVDownloader.app/Contents/MacOS/OVDownloader"
for tool in "$app" "$service" "$proxy" "$sampler" $base_app; do
  [ -x "$tool" ] || { echo "missing $tool (build with ./dev bench)" >&2; exit 1; }
done

readonly chunk_mib=5
readonly rtt_ms=50
readonly name=OrvalenSetup.pkg
readonly settings="fast slow rtt mixed"
clients="program aria2c curl"
[ -z "$base_app" ] || clients="program base aria2c curl"
size=$((size_mib * 1024 * 1024))
work=$(mktemp -d "$dir/ovbench.XXXXXX")
chmod 755 "$work"
home="$work/home"
support="$home/.local/share/com.orvalen.OVDownloader"
downloads="$home/Downloads"

# Processes this script started, for the clean-up.
service_pid=""
proxy_pid=""
sampler_pid=""
timed_pid=""

# --- Clean-up -----------------------------------------------------------------

# stop <pid>: SIGTERM, then SIGKILL after 5 s; waits for it.
stop() {
  local pid=$1 i=0
  kill "$pid" 2>/dev/null || return 0
  while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do sleep 0.1; i=$((i + 1)); done
  kill -9 "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# The program runs as GNU time -> timeout -> program. GNU time does not pass
# signals on; timeout does, to the program.
stop_timed() {
  local child
  for child in $(ps -o pid= --ppid "$timed_pid" 2>/dev/null); do stop "$child"; done
  stop "$timed_pid"
}

cleanup() {
  if [ -n "$timed_pid" ]; then stop_timed; fi
  if [ -n "$sampler_pid" ]; then stop "$sampler_pid"; fi
  if [ -n "$proxy_pid" ]; then stop "$proxy_pid"; fi
  if [ -n "$service_pid" ]; then stop "$service_pid"; fi
  if [ -f "$work/nginx.pid" ]; then stop "$(cat "$work/nginx.pid")"; fi
  if [ "$keep" -eq 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM
trap 'echo "bench/run.sh: line $LINENO: a command failed" >&2' ERR

# --- Servers --------------------------------------------------------------------

# free_port <from>: the first port from <from> on that nothing listens on.
free_port() {
  local port=$1
  while [ -n "$(ss -Hltn "sport = :$port")" ]; do port=$((port + 1)); done
  echo "$port"
}

# A throw-away CA and a certificate for 127.0.0.1, for nginx.
make_certificates() {
  openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj /CN=ovbench-ca -keyout ca.key -out ca.pem 2>/dev/null
  openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -subj /CN=127.0.0.1 -keyout server.key -out server.csr 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' > server.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile server.ext -out server.pem 2>/dev/null
}

start_nginx() {
  local user_line=""
  [ "$(id -u)" -eq 0 ] && user_line="user root;"
  mkdir -p logs
  # One line per request, written when it ends: end time, duration, request,
  # Range, status, body bytes, user agent (which tells the clients apart).
  cat > nginx.conf <<EOF
$user_line
worker_processes 2;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 1024; }
http {
  # The relay opens one connection to nginx per client connection: each gets
  # the rate of its port's last digit, 5 to 40 MiB/s. Linux gives connect()
  # even ports where it can, so the even digits alone span the whole range.
  # nginx paces in whole milliseconds: measured on loopback with curl, 5m and
  # 14m come out as set, 23m and 31m near 30 MB/s, 40m at 70 MB/s or more.
  map \$remote_port \$mixed_rate {
    ~0\$ 5m; ~1\$ 9m; ~2\$ 14m; ~3\$ 18m; ~4\$ 23m; ~5\$ 27m; ~6\$ 31m; ~7\$ 35m; default 40m;
  }
  log_format bench '\$msec|\$request_time|\$request_method|\$uri|\$http_range|\$status|\$body_bytes_sent|\$http_user_agent';
  access_log $work/logs/access.log bench;
  sendfile on;
  keepalive_timeout 120;
  keepalive_requests 100000;
  client_body_temp_path $work/logs/body;
  proxy_temp_path $work/logs/proxy;
  fastcgi_temp_path $work/logs/fastcgi;
  uwsgi_temp_path $work/logs/uwsgi;
  scgi_temp_path $work/logs/scgi;
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/server.pem;
    ssl_certificate_key $work/server.key;
    location /fast/ { alias $work/www/; }
    location /slow/ { alias $work/www/; limit_rate 20m; }
    location /mixed/ { alias $work/www/; limit_rate \$mixed_rate; }
  }
}
EOF
  nginx -p "$work" -c "$work/nginx.conf"
  wait_for "nginx" test -s "$work/nginx.pid"
}

# The reference service answers the link query with the text of the scenario
# file; set_link rewrites it and has the service read it again.
start_service() {
  mkdir -p service no-installers
  printf 'link = raw\nlink-text = https://127.0.0.1:%s/fast/%s\n' "$nginx_port" "$name" > scenario.txt
  "$service" --installers "$work/no-installers" --state-dir "$work/service" --scenario "$work/scenario.txt" \
    > service.out 2> service.err &
  service_pid=$!
  wait_for "ov-refservice" test -s "$work/service/port"
  service_port=$(cat "$work/service/port")
}

# set_link <url>
set_link() {
  local reloads
  reloads=$(grep -c 'scenario reloaded' service.err || true)
  printf 'link = raw\nlink-text = %s\n' "$1" > scenario.txt
  kill -HUP "$service_pid"
  wait_for "the scenario reload" test "$(grep -c 'scenario reloaded' service.err)" -gt "$reloads"
}

start_proxy() {
  "$proxy" --listen "$proxy_port" --to "$nginx_port" --rtt-ms "$rtt_ms" > proxy.out 2>&1 &
  proxy_pid=$!
  wait_for "delay_proxy" grep -q listening proxy.out
}

# wait_for <what> <command...>: up to 10 s for the command to succeed.
wait_for() {
  local what=$1 i=0
  shift
  until "$@" 2>/dev/null; do
    i=$((i + 1))
    [ $i -le 100 ] || { echo "$what did not start" >&2; exit 1; }
    sleep 0.1
  done
}

# url_of <setting>
url_of() {
  case "$1" in
    fast) echo "https://127.0.0.1:$nginx_port/fast/$name" ;;
    slow) echo "https://127.0.0.1:$nginx_port/slow/$name" ;;
    rtt) echo "https://127.0.0.1:$proxy_port/slow/$name" ;;
    mixed) echo "https://127.0.0.1:$proxy_port/mixed/$name" ;;
  esac
}

label_of() {
  case "$1" in
    fast) echo "unthrottled" ;;
    slow) echo "20 MiB/s" ;;
    rtt) echo "+${rtt_ms} ms RTT" ;;
    mixed) echo "mixed +${rtt_ms} ms" ;;
  esac
}

# --- One run of each client ----------------------------------------------------

# machine_cpu: the whole machine's busy and stolen time so far, in clock ticks.
machine_cpu() {
  awk '$1 == "cpu" { print $2 + $3 + $4 + $7 + $8, $9 }' /proc/stat
}

# machine_since <"busy steal" at the start>: "busy_s steal_s" since then.
machine_since() {
  local hz
  hz=$(getconf CLK_TCK)
  echo "$1 $(machine_cpu)" | awk -v hz="$hz" '{ printf "%.2f %.2f", ($3 - $1) / hz, ($4 - $2) / hz }'
}

# A fresh sandboxed home with a Downloads folder and a stand-in xdg-open.
make_sandbox() {
  rm -rf "$home" bin opened.txt
  mkdir -p "$downloads" "$home/.config" "$home/.local/share" "$home/.cache" bin
  # shellcheck disable=SC2016 # $HOME is for the reader of user-dirs.dirs to expand
  echo 'XDG_DOWNLOAD_DIR="$HOME/Downloads"' > "$home/.config/user-dirs.dirs"
  cat > bin/xdg-open <<EOF
#!/bin/sh
printf '%s %s\n' "\$(date +%s.%N)" "\$1" >> "$work/opened.txt"
EOF
  chmod +x bin/xdg-open
}

# program_requests <first log line>: the program's range requests since then,
# as "start end status" (start = end - duration).
program_requests() {
  tail -n +"$1" logs/access.log | awk -F'|' -v uri="/$name" '
    $3 == "GET" && $5 != "" && $8 ~ /^OVDownloader/ && substr($4, length($4) - length(uri) + 1) == uri {
      printf "%.3f %.3f %s\n", $1 - $2, $1, $6
    }'
}

# complete_report_time: when the service received the latest "Complete"
# report (epoch seconds). The program sends it right after moving the
# installer into Downloads and before it opens it.
complete_report_time() {
  jq -r 'select(any(.form[]?; . == ["detail_status", "Complete"])) | .time
    | capture("^(?<s>[^.]*)\\.(?<ms>[0-9]+)Z$") | (.s + "Z" | fromdateiso8601 | tostring) + "." + .ms' \
    service/requests.jsonl | tail -n 1
}

# run_program <setting> <run> <client> <executable>: appends one line to results.txt:
#   <setting> <client> ok|failed seconds cpu maxrss_kib peak_disk merge
#   exit_after_open reports_before_open machine_busy machine_steal reason
run_program() {
  local setting=$1 run=$2 client=$3 executable=$4 first_line launched exit_code=0 reason="" peak=- limit machine
  make_sandbox
  first_line=$(($(wc -l < logs/access.log) + 1))
  "$sampler" --interval-ms 50 "$support" "$downloads" > sampler.out &
  sampler_pid=$!
  # The countdown, the transfer at no less than 5 MiB/s, and a minute to spare.
  limit=$((15 + size_mib / 5 + 60))
  launched=$(date +%s.%N)
  machine=$(machine_cpu)
  env HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
    XDG_CACHE_HOME="$home/.cache" PATH="$work/bin:$PATH" QT_QPA_PLATFORM=offscreen \
    OVDOWNLOADER_SERVICE_HOST="127.0.0.1:$service_port" OVDOWNLOADER_CA_FILE="$work/trust.pem" \
    /usr/bin/time -f '%e %U %S %M' -o time.txt timeout -k 10 "$limit" "$executable" \
    > "$client.$setting.$run.out" 2> "$client.$setting.$run.err" &
  timed_pid=$!
  wait "$timed_pid" || exit_code=$?
  local exited
  exited=$(date +%s.%N)
  machine=$(machine_since "$machine")
  timed_pid=""
  stop "$sampler_pid"
  sampler_pid=""
  peak=$(sed -n 's/^peak_bytes=\([0-9]*\).*/\1/p' sampler.out)

  local requests opened="" first_start=- last_end=- seconds=- merge=- after=- reports=- reported
  requests=$(program_requests "$first_line")
  [ -f opened.txt ] && opened=$(head -n 1 opened.txt | cut -d' ' -f1)
  if [ -n "$requests" ]; then
    first_start=$(echo "$requests" | awk 'NR == 1 || $1 < m {m = $1} END {print m}')
    last_end=$(echo "$requests" | awk '$2 > m {m = $2} END {print m}')
    echo "$requests" | awk '$3 != 206 { bad = 1 } END { exit bad }' || reason="$reason,a-range-answer-was-not-206"
  else
    reason="$reason,no-range-requests"
  fi
  if [ -n "$opened" ] && [ "$first_start" != - ]; then
    seconds=$(echo "$opened - $first_start" | bc -l)
    merge=$(echo "$opened - $last_end" | bc -l)
    after=$(echo "$exited - $opened" | bc -l)
    reported=$(complete_report_time)
    [ -z "$reported" ] || reports=$(echo "$opened - $reported" | bc -l)
  else
    reason="$reason,installer-not-opened"
  fi
  if [ ! -f "$downloads/$name" ]; then
    reason="$reason,no-installer-in-Downloads"
  elif [ "$(sha256sum < "$downloads/$name" | cut -d' ' -f1)" != "$source_sha" ]; then
    reason="$reason,SHA-256-differs"
  fi
  case "$exit_code" in
    0) ;;
    124 | 137) reason="$reason,timed-out-after-${limit}s" ;;
    *) reason="$reason,exit-status-$exit_code" ;;
  esac
  local ok=ok cpu rss
  [ -z "$reason" ] || ok=failed
  cpu=$(tail -n 1 time.txt | awk '{print $2 + $3}')
  rss=$(tail -n 1 time.txt | awk '{print $4}')
  echo "$setting $client $ok $seconds $cpu $rss ${peak:--} $merge $after $reports $machine ${reason#,}" >> results.txt
  if [ "$ok" = ok ]; then
    printf '  %-7s  %s s, merge after the last byte %s s\n' "$client" "$(num "$seconds" %.2f)" "$(num "$merge" %.2f)"
  else
    echo "  $client run $run failed: ${reason#,} (started $launched)" >&2
  fi
  rm -rf "$home"
  sync
}

# run_anchor <setting> <client> <command...>: timed from process start to exit.
run_anchor() {
  local setting=$1 client=$2 started ended ok=ok seconds exit_code=0 reason="" machine
  shift 2
  rm -rf out
  mkdir -p out
  started=$(date +%s.%N)
  machine=$(machine_cpu)
  /usr/bin/time -f '%e %U %S %M' -o time.txt "$@" > anchor.out 2>&1 || exit_code=$?
  ended=$(date +%s.%N)
  machine=$(machine_since "$machine")
  [ "$exit_code" -eq 0 ] || reason="exit-status-$exit_code"
  [ "$(stat -c %s out/installer 2>/dev/null || echo 0)" -eq "$size" ] || reason="${reason:+$reason,}size-differs"
  [ -z "$reason" ] || ok=failed
  seconds=$(echo "$ended - $started" | bc -l)
  echo "$setting $client $ok $seconds $(tail -n 1 time.txt | awk '{print $2 + $3, $4}') - - - - $machine $reason" >> results.txt
  if [ "$ok" = ok ]; then
    printf '  %-7s  %.2f s\n' "$client" "$seconds"
  else
    echo "  $client failed: $reason: $(tail -n 3 anchor.out)" >&2
  fi
  rm -rf out
  sync
}

run_setting() {
  local setting=$1 url i=1
  url=$(url_of "$setting")
  set_link "$url"
  while [ $i -le "$runs" ]; do
    echo "$(label_of "$setting"): run $i/$runs"
    run_program "$setting" "$i" program "$app"
    [ -z "$base_app" ] || run_program "$setting" "$i" base "$base_app"
    run_anchor "$setting" aria2c aria2c -q -x10 -s10 -k5M --ca-certificate="$work/ca.pem" \
      --allow-overwrite=true -d out -o installer "$url"
    run_anchor "$setting" curl curl -sS --fail --cacert "$work/ca.pem" -o out/installer "$url"
    i=$((i + 1))
  done
}

# --- The table ------------------------------------------------------------------

# median: of the numbers on standard input ("-" when there are none).
median() {
  sort -g | awk '{a[NR] = $1} END {
    if (NR == 0) print "-"; else print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'
}

# figure <setting> <client> <column>: the median of a column over good runs.
figure() {
  awk -v s="$1" -v c="$2" -v k="$3" '$1 == s && $2 == c && $3 == "ok" {print $k}' results.txt | median
}

# verdict <value> <le|ge> <target>: the value with "ok" or "MISS" beside it,
# with three decimals, so that a value shown as the target never misses it.
verdict() {
  local value=$1 op=$2 target=$3
  [ "$value" = - ] && { echo "-"; return; }
  awk -v v="$value" -v o="$op" -v t="$target" 'BEGIN {
    pass = (o == "ge") ? v >= t : v <= t
    printf "%.3f %s", v, pass ? "ok" : "MISS" }'
}

# num <value> <printf format>: the value formatted, or "-".
num() {
  # shellcheck disable=SC2059 # the format is the caller's, never data
  if [ "$1" = - ]; then echo -; else printf "$2" "$1"; fi
}

# ratio <a> <b>: a / b, or "-".
ratio() {
  if [ "$1" = - ] || [ "$2" = - ]; then echo -; else echo "$1 / $2" | bc -l; fi
}

# row <label> <cell per setting...> <target>
row() {
  printf '%-34s %16s %16s %16s %16s   %s\n' "$@"
}

# programs: the clients that are builds of this program.
programs() {
  echo "$clients" | tr ' ' '\n' | grep -v -e aria2c -e curl
}

# client_rows <label> <column>: a row per client, the column's medians.
client_rows() {
  local c s cells
  for c in $clients; do
    cells=()
    for s in $settings; do cells+=("$(num "$(figure "$s" "$c" "$2")" %.2f)"); done
    row "$1, $c" "${cells[@]}" ""
  done
}

# ratio_row <column> [le|ge <target>]: each program's medians of the column
# over aria2c's, judged against the target when there is one.
ratio_row() {
  local c s v cells target=""
  [ $# -eq 3 ] && target="$([ "$2" = le ] && echo "<=" || echo ">=") $3"
  for c in $(programs); do
    cells=()
    for s in $settings; do
      v=$(ratio "$(figure "$s" "$c" "$1")" "$(figure "$s" aria2c "$1")")
      if [ $# -eq 3 ]; then cells+=("$(verdict "$v" "$2" "$3")"); else cells+=("$(num "$v" %.3f)"); fi
    done
    row "  $c / aria2c" "${cells[@]}" "$target"
  done
}

# throughput_target <setting>: the least ratio to aria2c's throughput.
throughput_target() {
  case "$1" in
    fast) echo 1.3 ;;
    slow | mixed) echo 1.1 ;;
    rtt) echo 1.05 ;;
  esac
}

print_table() {
  local s c v secs cells=()
  local disk_target_mib=$((size_mib + 21 * chunk_mib))
  echo
  echo "installer ${size_mib} MiB, $runs runs per setting, medians of the runs that succeeded"
  echo "program: first range request to the installer in Downloads; aria2c, curl: process start to exit"
  [ -z "$base_app" ] || echo "base: ${baseline_name:-$baseline}, measured as the program is"
  echo
  row "" "$(label_of fast)" "$(label_of slow)" "$(label_of rtt)" "$(label_of mixed)" "target"
  for c in $clients; do
    cells=()
    for s in $settings; do
      secs=$(figure "$s" "$c" 4)
      cells+=("$(num "$(ratio "$size_mib" "$secs")" %.1f)")
    done
    row "throughput MiB/s, $c" "${cells[@]}" ""
  done
  for c in $(programs); do
    cells=()
    for s in $settings; do
      cells+=("$(verdict "$(ratio "$(figure "$s" aria2c 4)" "$(figure "$s" "$c" 4)")" ge "$(throughput_target "$s")")")
    done
    row "  $c / aria2c" "${cells[@]}" ">= 1.3, 1.1, 1.05, 1.1"
  done
  client_rows "CPU s (user+sys)" 5
  ratio_row 5 le 1.5
  client_rows "machine busy s" 11
  ratio_row 11
  client_rows "machine stolen s" 12
  for c in $(programs); do
    cells=()
    for s in $settings; do
      v=$(figure "$s" "$c" 8)
      [ "$v" = - ] || v=$(echo "$v * 1024 / $size_mib" | bc -l)
      cells+=("$(verdict "$v" le 0.5)")
    done
    row "merge after last byte, s per GiB, $c" "${cells[@]}" "<= 0.5"
    cells=()
    for s in $settings; do cells+=("$(num "$(figure "$s" "$c" 10)" %.2f)"); done
    row "  of it: reports before opening, s" "${cells[@]}" ""
  done
  for c in $(programs); do
    cells=()
    for s in $settings; do
      v=$(figure "$s" "$c" 7)
      if [ "$v" = - ]; then cells+=(-); else
        cells+=("$(awk -v b="$v" -v m="$size_mib" -v t="$disk_target_mib" 'BEGIN {
          mib = b / 1048576; printf "%.0f %.2fx %s", mib, mib / m, mib <= t ? "ok" : "MISS" }')")
      fi
    done
    row "peak disk MiB, x installer, $c" "${cells[@]}" "<= $disk_target_mib"
  done
  for c in $(programs); do
    cells=()
    for s in $settings; do
      v=$(figure "$s" "$c" 6)
      [ "$v" = - ] || v=$(echo "$v / 1024" | bc -l)
      cells+=("$(verdict "$v" le 50)")
    done
    row "peak memory MiB, $c" "${cells[@]}" "<= 50"
  done
  for c in $(programs); do
    cells=()
    for s in $settings; do cells+=("$(num "$(figure "$s" "$c" 9)" %.2f)"); done
    row "exit after opening s, $c" "${cells[@]}" ""
  done
  local runs_per_setting
  runs_per_setting=$((runs * $(echo "$clients" | wc -w)))
  cells=()
  for s in $settings; do
    cells+=("$(awk -v s="$s" '$1 == s && $3 == "failed" {n++} END {print n + 0}' results.txt)/$runs_per_setting")
  done
  row "failed runs (all clients)" "${cells[@]}" "0"
  if grep -q ' failed ' results.txt; then
    echo
    echo "failed runs:"
    awk '$3 == "failed" {print "  " $1, $2, $NF}' results.txt
  fi
}

# --- Main -----------------------------------------------------------------------

cd "$work"
mkdir -p www
make_certificates
nginx_port=$(free_port $((20000 + $$ % 20000)))
proxy_port=$(free_port $((nginx_port + 1)))
echo "making a ${size_mib} MiB installer..."
head -c "$size" /dev/urandom > "www/$name"
source_sha=$(sha256sum < "www/$name" | cut -d' ' -f1)
# The first run must not pay for writing the source back.
sync
start_nginx
start_service
start_proxy
# The program trusts exactly one file: the service's CA and nginx's.
cat service/ca.pem ca.pem > trust.pem
: > results.txt
for setting in $settings; do run_setting "$setting"; done
print_table
