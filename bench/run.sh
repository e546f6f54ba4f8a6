#!/bin/sh
# Downloads one installer over HTTPS on loopback from a real nginx with the
# engine, with aria2c (-x10 -s10 -k5M) and with a single-stream curl, runs
# interleaved, unthrottled and with a per-connection limit of 20 MiB/s. Then
# times the engine's merge against `cat` of the same freshly written parts.
#
# usage: bench/run.sh <release build dir> [--size MiB] [--runs N]
set -eu

build=$(cd "$1" && pwd)
shift
size_mib=1024
runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --size) size_mib=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    *) echo "unknown option: $1" >&2; exit 2 ;;
  esac
done

engine="$build/bench/engine_bench"
[ -x "$engine" ] || { echo "missing $engine (build with ./dev bench)" >&2; exit 1; }
size=$((size_mib * 1024 * 1024))
work=$(mktemp -d /tmp/ovbench.XXXXXX)
chmod 755 "$work"
port=$((20000 + $$ % 20000))

cleanup() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  sleep 0.2
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

cd "$work"
mkdir -p www out logs home

# A throw-away CA and a certificate for 127.0.0.1.
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
  -subj /CN=ovbench-ca -keyout ca.key -out ca.pem 2>/dev/null
openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
  -subj /CN=127.0.0.1 -keyout server.key -out server.csr 2>/dev/null
printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' > server.ext
openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
  -extfile server.ext -out server.pem 2>/dev/null

echo "making a ${size_mib} MiB installer..."
head -c "$size" /dev/urandom > www/installer.bin

user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user root;"
cat > nginx.conf <<EOF
$user_line
worker_processes 2;
pid $work/nginx.pid;
error_log $work/logs/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  keepalive_timeout 120;
  keepalive_requests 100000;
  client_body_temp_path $work/logs/body;
  proxy_temp_path $work/logs/proxy;
  fastcgi_temp_path $work/logs/fastcgi;
  uwsgi_temp_path $work/logs/uwsgi;
  scgi_temp_path $work/logs/scgi;
  server {
    listen 127.0.0.1:$port ssl;
    ssl_certificate $work/server.pem;
    ssl_certificate_key $work/server.key;
    location /fast/ { alias $work/www/; }
    location /slow/ { alias $work/www/; limit_rate 20m; }
  }
}
EOF
nginx -p "$work" -c "$work/nginx.conf"
sleep 0.5

base="https://127.0.0.1:$port"
etag=$(curl -sI --cacert ca.pem "$base/fast/installer.bin" | tr -d '\r' | awk 'tolower($1)=="etag:" {print $2}')
export OVDOWNLOADER_CA_FILE="$work/ca.pem"
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"

# timed <label> <command...>: appends "label seconds user sys maxrss_kib [engine line]" to results.
timed() {
  label=$1
  shift
  /usr/bin/time -f "%e %U %S %M" -o time.txt "$@" > run.out 2>/dev/null || true
  extra=$(grep '^transfer=' run.out | tail -n 1 || true)
  echo "$label $(cat time.txt | tail -n 1) $extra" >> results.txt
  rm -rf out/*
  sync
}

: > results.txt
for setting in fast slow; do
  url="$base/$setting/installer.bin"
  i=1
  while [ "$i" -le "$runs" ]; do
    echo "run $i/$runs ($setting)..."
    timed "$setting engine" "$engine" download "$url" "$size" "$etag" "$work/out/engine"
    timed "$setting aria2c" aria2c -q -x10 -s10 -k5M --ca-certificate=ca.pem -d out -o aria.bin "$url"
    timed "$setting curl" curl -s --cacert ca.pem -o out/curl.bin "$url"
    i=$((i + 1))
  done
done

echo "timing the merge against cat of the same fresh parts..."
: > merge.txt
i=1
while [ "$i" -le "$runs" ]; do
  "$engine" parts "$work/out/parts" "$size" > /dev/null
  count=$(ls out/parts | wc -l)
  start=$(date +%s.%N)
  j=0
  while [ "$j" -lt "$count" ]; do cat "out/parts/part.$j"; j=$((j + 1)); done > out/cat.bin
  end=$(date +%s.%N)
  echo "cat $(echo "$end - $start" | bc)" >> merge.txt
  rm -rf out/*
  sync
  "$engine" merge "$work/out/parts" "$size" | grep '^merge=' | sed 's/merge=/engine /' >> merge.txt
  rm -rf out/*
  sync
  i=$((i + 1))
done

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }

echo
echo "installer: ${size_mib} MiB, $runs runs each, medians; ratio = throughput / aria2c's"
printf '%-6s %-7s %9s %7s %9s %9s %9s %11s\n' setting client "MiB/s" ratio transfer merge "cpu s" "peak MiB"
for setting in fast slow; do
  aria=$(grep "^$setting aria2c " results.txt | awk '{print $3}' | median)
  for client in engine aria2c curl; do
    lines=$(grep "^$setting $client " results.txt)
    secs=$(echo "$lines" | awk '{print $3}' | median)
    cpu=$(echo "$lines" | awk '{print $4 + $5}' | median)
    rss=$(echo "$lines" | awk '{print $6 / 1024}' | median)
    transfer=-
    merge=-
    if [ "$client" = engine ]; then
      transfer=$(echo "$lines" | sed -n 's/.*transfer=\([0-9.]*\).*/\1/p' | median)
      merge=$(echo "$lines" | sed -n 's/.*merge=\([0-9.]*\).*/\1/p' | median)
      bad=$(echo "$lines" | grep -c 'ok=0' || true)
      [ "$bad" -eq 0 ] || echo "warning: $bad engine runs did not produce the installer" >&2
    fi
    mibs=$(echo "$size_mib / $secs" | bc -l)
    ratio=$(echo "$aria / $secs" | bc -l)
    printf '%-6s %-7s %9.1f %7.2f %9s %9s %9.2f %11.1f\n' "$setting" "$client" "$mibs" "$ratio" "$transfer" "$merge" "$cpu" "$rss"
  done
done
cat_median=$(grep '^cat ' merge.txt | awk '{print $2}' | median)
merge_median=$(grep '^engine ' merge.txt | awk '{print $2}' | median)
printf '\nmerge of fresh parts: engine %.3f s, cat %.3f s (engine / cat = %.2f)\n' \
  "$merge_median" "$cat_median" "$(echo "$merge_median / $cat_median" | bc -l)"
