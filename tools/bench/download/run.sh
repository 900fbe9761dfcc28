#!/usr/bin/env bash
# Download throughput benchmark: one command, nothing needs to run before it.
#
# Serves a 256 MiB random file from a native nginx on 127.0.0.1, once at full
# loopback speed and once capped at 100 MiB/s per connection, and downloads it
# in alternating rounds with curl, aria2c -x4, the single-stream WinINet
# reference under Wine and the engine (fetchwell_cli) under Wine. Every copy is
# compared byte for byte. Prints the median throughput of each client, the
# three ratio lines, and how many bytes a download cancelled at half re-fetched
# when it was requested again.
#
# Usage: tools/bench/download/run.sh [ROUNDS]    (default 5, at least 5)
# BENCH_BUILD names the build folder (default: build-x64 where 32-bit Wine
# cannot run here, else build).
set -euo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
rounds=${1:-5}
[ "$rounds" -ge 5 ] || rounds=5
size_mib=256
size=$((size_mib * 1024 * 1024))

ensure_packages() {
  local missing=()
  command -v nginx >/dev/null || missing+=(nginx-light)
  command -v curl >/dev/null || missing+=(curl)
  command -v aria2c >/dev/null || missing+=(aria2)
  [ ${#missing[@]} -eq 0 ] && return
  echo "installing ${missing[*]}" >&2
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q "${missing[@]}" >/dev/null 2>&1 || {
    apt-get update -q >/dev/null
    apt-get install -y -q "${missing[@]}" >/dev/null
  }
  # The package's own service is not wanted: the benchmark starts its own.
  if command -v systemctl >/dev/null; then systemctl stop nginx >/dev/null 2>&1 || true; fi
  [ -f /run/nginx.pid ] && kill "$(cat /run/nginx.pid)" 2>/dev/null || true
}

choose_build() {
  if "$root/tools/wine32-works"; then
    arch=i686 loader=/usr/lib/wine/wine build=${BENCH_BUILD:-$root/build}
  else
    arch=x86_64 loader=/usr/lib/wine/wine64 build=${BENCH_BUILD:-$root/build-x64}
  fi
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-$arch.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DZV_BUILD_TESTS=OFF >/dev/null
  fi
  cmake --build "$build" --target fetchwell_cli wininet_reference -j"$(nproc)" >/dev/null
  bench_bin=$build/bench/download
}

free_port() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

start_nginx() {
  full_port=$(free_port)
  capped_port=$(free_port)
  while [ "$capped_port" = "$full_port" ]; do capped_port=$(free_port); done
  mkdir -p "$work/www" "$work/nginx-tmp"
  cat >"$work/nginx.conf" <<CONF
user root;
worker_processes 2;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
daemon on;
events { worker_connections 512; }
http {
  default_type application/octet-stream;
  log_format bench '\$server_port \$request_uri \$status \$body_bytes_sent "\$http_range"';
  access_log $work/access.log bench;
  client_body_temp_path $work/nginx-tmp/body;
  proxy_temp_path $work/nginx-tmp/proxy;
  fastcgi_temp_path $work/nginx-tmp/fastcgi;
  uwsgi_temp_path $work/nginx-tmp/uwsgi;
  scgi_temp_path $work/nginx-tmp/scgi;
  sendfile on;
  tcp_nopush on;
  keepalive_timeout 5;
  server { listen 127.0.0.1:$full_port; root $work/www; }
  server { listen 127.0.0.1:$capped_port; root $work/www; limit_rate 100m; }
}
CONF
  nginx -c "$work/nginx.conf" -p "$work"
}

stop_all() {
  [ -f "$work/nginx.pid" ] && kill "$(cat "$work/nginx.pid")" 2>/dev/null || true
  [ -n "${WINEPREFIX:-}" ] && wineserver -k 2>/dev/null || true
  rm -rf "$work/www" "$work/out"
}

winpath() { echo "Z:${1//\//\\}"; }

# run_client NAME URL OUT: downloads URL to OUT, prints the seconds it took.
run_client() {
  local name=$1 url=$2 out=$3 start end
  rm -f "$out"
  start=$(date +%s.%N)
  case $name in
    curl) curl -s -o "$out" "$url" ;;
    aria2c) aria2c -q -x4 -s4 -k1M --allow-overwrite=true --auto-file-renaming=false \
              --file-allocation=none -d "$(dirname "$out")" -o "$(basename "$out")" "$url" ;;
    reference) "$WINELOADER" "$bench_bin/wininet_reference.exe" "$url" "$(winpath "$out")" >"$work/client.log" 2>&1 ;;
    engine) "$WINELOADER" "$bench_bin/fetchwell_cli.exe" "$url" "$(winpath "$out")" --options 2 1 1 >"$work/client.log" 2>&1 ;;
  esac
  end=$(date +%s.%N)
  if ! cmp -s "$out" "$work/www/data.bin"; then
    echo "run.sh: $name produced a file that differs from the served one ($url)" >&2
    exit 1
  fi
  rm -f "$out"
  awk -v a="$start" -v b="$end" 'BEGIN {printf "%.4f\n", b - a}'
}

median() { sort -g | awk '{v[NR]=$1} END {if (NR%2) print v[(NR+1)/2]; else print (v[NR/2]+v[NR/2+1])/2}'; }

main() {
  ensure_packages
  choose_build
  work=$build/bench/download/run
  rm -rf "$work"
  mkdir -p "$work/www" "$work/out"
  export WINEPREFIX=$build/wine/prefix WINEDEBUG=-all WINELOADER=$loader
  ZV_WINE_LOADER=$loader "$root/cmake/wine-prefix.sh" "$build" >/dev/null
  trap stop_all EXIT
  wineserver -p 2>/dev/null || true
  "$WINELOADER" cmd /c exit 0 >/dev/null 2>&1
  head -c "$size" /dev/urandom >"$work/www/data.bin"
  start_nginx

  local clients=(curl aria2c reference engine) servers=(full capped)
  : >"$work/times"
  for ((round = 0; round < rounds; round++)); do
    for ((i = 0; i < ${#clients[@]}; i++)); do
      # Each round starts with the next client, so no client always goes first.
      local client=${clients[$(((i + round) % ${#clients[@]}))]}
      for server in "${servers[@]}"; do
        local port=$full_port
        [ "$server" = capped ] && port=$capped_port
        local seconds
        seconds=$(run_client "$client" "http://127.0.0.1:$port/data.bin" "$work/out/$client.bin")
        echo "$client $server $seconds" >>"$work/times"
      done
    done
  done

  declare -A rate
  printf '%-10s %-7s %12s\n' client server 'median MiB/s'
  for server in "${servers[@]}"; do
    for client in "${clients[@]}"; do
      local seconds
      seconds=$(awk -v c="$client" -v s="$server" '$1 == c && $2 == s {print $3}' "$work/times" | median)
      rate[$client.$server]=$(awk -v m="$size_mib" -v s="$seconds" 'BEGIN {print m / s}')
      printf '%-10s %-7s %12.1f\n' "$client" "$server" "${rate[$client.$server]}"
    done
  done
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
  echo "ratio engine/reference full: $(ratio "${rate[engine.full]}" "${rate[reference.full]}")"
  echo "ratio engine/curl capped: $(ratio "${rate[engine.capped]}" "${rate[curl.capped]}")"
  echo "ratio engine/aria2c capped: $(ratio "${rate[engine.capped]}" "${rate[aria2c.capped]}")"

  # Cancel at half, then a second process asks again: count what it fetched.
  local target=$work/out/resumed.bin url="http://127.0.0.1:$capped_port/data.bin?resume"
  "$WINELOADER" "$bench_bin/fetchwell_cli.exe" "$url" "$(winpath "$target")" --options 2 1 1 --cancel-at-half \
    >"$work/cancel.log" 2>&1
  local kept
  kept=$(sed -n 's/.*status=3 size=\([0-9]*\).*/\1/p' "$work/cancel.log")
  sleep 1
  local before
  before=$(wc -l <"$work/access.log")
  "$WINELOADER" "$bench_bin/fetchwell_cli.exe" "$url" "$(winpath "$target")" --options 2 1 1 >"$work/resume.log" 2>&1
  sleep 1
  cmp -s "$target" "$work/www/data.bin" || { echo "run.sh: the resumed file differs" >&2; exit 1; }
  local refetched
  refetched=$(tail -n +"$((before + 1))" "$work/access.log" | awk '$2 ~ /resume/ {sum += $4} END {print sum + 0}')
  echo "cancel at half: kept $kept bytes, missing $((size - kept)) bytes, re-fetched $refetched bytes"
  rm -f "$target"
}

main "$@"
