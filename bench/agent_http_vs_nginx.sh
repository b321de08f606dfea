#!/usr/bin/env bash
# The agent's HTTP service against nginx on loopback, in the same run, with wrk:
#   1. "/status" requests per second over 16 keep-alive connections, against nginx serving a small
#      static file of the same size (target: at least 0.5 of nginx's rate);
#   2. full-size transfer of a 4 MiB file over 4 keep-alive connections, against nginx serving the
#      same file (target: at least 0.7 of nginx's throughput);
#   3. "/albumdata" of a 100,000-photo catalog: the first request (which compresses the catalog)
#      and the requests after it (target: under 50 ms each).
#
#   bench/agent_http_vs_nginx.sh [BUILD_DIR]     (PHOTOS, DURATION, ROUNDS override 100000, 3 s, 3)
#
# The agent and nginx runs alternate, ROUNDS times each, and the best of each side's rounds
# counts, so that a burst of other load on the machine does not fall on one side only. Each side's
# requests per CPU-second it used (its processes' user and system time) are shown as well: on a
# busy machine the rate also depends on how many threads compete for the processors (the agent
# serves each connection on a thread of its own, nginx runs one worker per processor), the CPU
# figure does not.
#
# Builds nothing: BUILD_DIR (default build) must hold agent/fotello-agent, tools/photolib,
# tools/fotelloctl and bench/AlbumXMLScanBench (-DFOTELLO_BUILD_BENCH=ON). Everything runs in a
# private network namespace with only a loopback interface and no system bus, so no packet and
# no service announcement leaves the machine. Both agents and nginx are stopped at the end.
set -euo pipefail

build=$(cd "${1:-build}" && pwd)
photos=${PHOTOS:-100000}
seconds=${DURATION:-3}
rounds=${ROUNDS:-3}

if [[ -z ${FOTELLO_BENCH_NETNS:-} ]]; then
  [[ $(id -u) -eq 0 ]] || { echo "must run as root (it runs in a private network namespace)" >&2; exit 1; }
  export FOTELLO_BENCH_NETNS=1
  exec unshare --net -- "$0" "$build"
fi
ip link set lo up
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent/fotello-bench
unset DISPLAY WAYLAND_DISPLAY

for tool in wrk nginx curl; do
  command -v $tool >/dev/null || { echo "$tool is not installed (scripts/bootstrap)" >&2; exit 1; }
done
for program in agent/fotello-agent tools/photolib tools/fotelloctl bench/AlbumXMLScanBench; do
  [[ -x $build/$program ]] || { echo "missing $build/$program: build it first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/agent-http-bench.XXXXXX")
chmod 755 "$work"
pids=()
cleanup() {
  [[ -f $work/nginx/nginx.pid ]] && kill "$(cat "$work/nginx/nginx.pid")" 2>/dev/null || true
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# Starts an agent with data directory $1 on library $2; sets agent_port to the port it bound.
start_agent() {
  local home=$1 library=$2
  FOTELLO_HOME=$home "$build/tools/fotelloctl" config init --library "$library" >/dev/null
  FOTELLO_HOME=$home "$build/tools/fotelloctl" config set tzLogLevel info >/dev/null
  FOTELLO_HOME=$home XDG_CONFIG_HOME=$work/xdg "$build/agent/fotello-agent" >/dev/null 2>"$home/agent.log" &
  pids+=($!)
  for _ in $(seq 600); do
    if grep -q "bound at port " "$home/agent.log"; then
      agent_port=$(sed -n 's/.*bound at port \([0-9]*\).*/\1/p' "$home/agent.log" | head -1)
      return
    fi
    sleep 0.1
  done
  echo "agent did not bind: $(cat "$home/agent.log")" >&2
  exit 1
}

# wrk's requests per second, and the total count of requests.
wrk_rate() { wrk "$@" | sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (a > b ? a : b) }'; }
# CPU seconds (user + system) used so far by the processes $@ and their threads.
cpu_seconds() {
  local ticks=0 pid
  for pid in "$@"; do
    ticks=$((ticks + $(awk '{ print $14 + $15 }' "/proc/$pid/stat" 2>/dev/null || echo 0)))
  done
  awk -v t="$ticks" -v hz="$(getconf CLK_TCK)" 'BEGIN { print t / hz }'
}
# One wrk run against URL $2 with $3 connections, on behalf of the server processes in $1 (a
# space-separated list); prints "requests/s requests-per-CPU-second".
measure() {
  local pids=$1 url=$2 connections=$3 before after out
  shift 3
  before=$(cpu_seconds $pids)
  out=$(wrk -t2 -c"$connections" -d"${seconds}s" "$@" "$url")
  after=$(cpu_seconds $pids)
  awk -v rate="$(sed -n 's/^Requests\/sec: *\([0-9.]*\).*/\1/p' <<<"$out")" \
      -v total="$(sed -n 's/^ *\([0-9]*\) requests in .*/\1/p' <<<"$out")" -v cpu="$(awk -v a="$after" -v b="$before" 'BEGIN { print a - b }')" \
      'BEGIN { printf "%s %.0f\n", rate, (cpu > 0 ? total / cpu : 0) }'
}
# Alternating rounds against agent URL $1 (with the version header) and nginx URL $2 with $3
# connections; sets agent_best, nginx_best (requests per second) and agent_cpu, nginx_cpu
# (requests per CPU-second of the server), each the best of its rounds.
compare() {
  agent_best=0 nginx_best=0 agent_cpu=0 nginx_cpu=0
  local r rate cpu
  for ((r = 0; r < rounds; r++)); do
    read -r rate cpu <<<"$(measure "$agent_pid" "$1" "$3" "${version[@]}")"
    agent_best=$(max "$agent_best" "$rate") agent_cpu=$(max "$agent_cpu" "$cpu")
    read -r rate cpu <<<"$(measure "$nginx_pids" "$2" "$3")"
    nginx_best=$(max "$nginx_best" "$rate") nginx_cpu=$(max "$nginx_cpu" "$cpu")
  done
}

# --- a small library: a 4 MiB original and a small one, cataloged before the agent starts
library=$work/Pictures/Library
mkdir -p "$library"
head -c $((4 * 1024 * 1024)) /dev/urandom >"$library/big.mov"
head -c 2048 /dev/urandom >"$library/small.mov"
export XDG_CONFIG_HOME=$work/xdg
"$build/tools/photolib" index "$library" >/dev/null
FOTELLO_HOME=$work/home "$build/tools/fotelloctl" scan "$library" >/dev/null
big_sha1=$(sha1sum "$library/big.mov" | cut -c1-40)
start_agent "$work/home" "$library"
port=$agent_port
agent_pid=${pids[-1]}
status_bytes=$(curl -s -H "X-QV-Version: 2" "http://127.0.0.1:$port/status" | wc -c)
curl -s -f -o "$work/big.check" -H "X-QV-Version: 2" "http://127.0.0.1:$port/photos/$big_sha1/fullsize"
cmp -s "$work/big.check" "$library/big.mov" || { echo "the agent sent a different file" >&2; exit 1; }

# --- nginx on loopback with a prefix of its own: a small file as long as the status record, and
# the same 4 MiB file
mkdir -p "$work/nginx/root" "$work/nginx/logs"
head -c "$status_bytes" /dev/urandom >"$work/nginx/root/status"
ln "$library/big.mov" "$work/nginx/root/big.mov" 2>/dev/null || cp "$library/big.mov" "$work/nginx/root/big.mov"
nginx_port=18080
cat >"$work/nginx/nginx.conf" <<EOF
user root;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/logs/error.log warn;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  tcp_nodelay on;
  keepalive_requests 100000000;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/tmp;
  proxy_temp_path $work/nginx/tmp;
  fastcgi_temp_path $work/nginx/tmp;
  uwsgi_temp_path $work/nginx/tmp;
  scgi_temp_path $work/nginx/tmp;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/nginx/root;
  }
}
EOF
# At the agent's own scheduling priority (it lowers itself to the lowest), so that both meet the
# same competition from wrk and anything else running.
nice -n 19 nginx -p "$work/nginx" -c "$work/nginx/nginx.conf"
for _ in $(seq 50); do [[ -s $work/nginx/nginx.pid ]] && break; sleep 0.1; done
curl -s -f -o /dev/null "http://127.0.0.1:$nginx_port/status" || { echo "nginx does not answer" >&2; exit 1; }
nginx_pids="$(cat "$work/nginx/nginx.pid") $(pgrep -P "$(cat "$work/nginx/nginx.pid")" | tr '\n' ' ')"

agent_url=http://127.0.0.1:$port
nginx_url=http://127.0.0.1:$nginx_port
version=(-H "X-QV-Version: 2")

echo "== /status: $status_bytes-byte body, 16 keep-alive connections, best of $rounds x ${seconds} s"
wrk -t2 -c16 -d1s "${version[@]}" "$agent_url/status" >/dev/null  # warm-up
compare "$agent_url/status" "$nginx_url/status" 16
echo "agent: $agent_best req/s   nginx: $nginx_best req/s   ratio: $(ratio "$agent_best" "$nginx_best") (target 0.5)"
echo "per CPU-second of the server: agent $agent_cpu, nginx $nginx_cpu, ratio $(ratio "$agent_cpu" "$nginx_cpu")"

echo "== 4 MiB full-size file, 4 keep-alive connections, best of $rounds x ${seconds} s"
compare "$agent_url/photos/$big_sha1/fullsize" "$nginx_url/big.mov" 4
mibps() { awk -v r="$1" 'BEGIN { printf "%.0f MiB/s", r * 4 }'; }
echo "agent: $(mibps "$agent_best")   nginx: $(mibps "$nginx_best")   ratio: $(ratio "$agent_best" "$nginx_best") (target 0.7)"
echo "per CPU-second of the server: agent $(mibps "$agent_cpu"), nginx $(mibps "$nginx_cpu"), ratio $(ratio "$agent_cpu" "$nginx_cpu")"

# --- a catalog of $photos photos, from the generated library the catalog benchmarks use
echo "== /albumdata of a $photos-photo catalog"
big_home=$work/home-big
mkdir -p "$big_home"
FOTELLO_HOME=$big_home "$build/bench/AlbumXMLScanBench" generate "$work/big" "$photos" >/dev/null
FOTELLO_HOME=$big_home "$build/bench/AlbumXMLScanBench" prepare "$work/big/Library" >/dev/null
start_agent "$big_home" "$work/big/Library"
big_port=$agent_port
catalog_bytes=$(stat -c %s "$big_home/Data.noindex/datfiles$work/big/Library/albumData.dat")
first=$(curl -s -o "$work/albumdata.gz" -w "%{time_total}" "${version[@]}" "http://127.0.0.1:$big_port/albumdata")
gz_bytes=$(stat -c %s "$work/albumdata.gz")
[[ $(gzip -dc "$work/albumdata.gz" | wc -c) -eq $catalog_bytes ]] || { echo "/albumdata does not inflate to the catalog" >&2; exit 1; }
requests=()
for _ in $(seq 20); do requests+=(-o /dev/null "http://127.0.0.1:$big_port/albumdata"); done
# One connection, kept alive across the 20 requests.
times=$(curl -s "${version[@]}" -w "%{time_total}\n" "${requests[@]}")
read -r mean worst <<<"$(awk '{ s += $1; if ($1 > m) m = $1 } END { printf "%.1f %.1f", 1000 * s / NR, 1000 * m }' <<<"$times")"
echo "catalog $catalog_bytes bytes, served as $gz_bytes gzip bytes"
awk -v f="$first" 'BEGIN { printf "first request (compresses): %.0f ms\n", 1000 * f }'
echo "next 20 requests: mean $mean ms, worst $worst ms (target under 50 ms)"
status_times=$(curl -s "${version[@]}" -w "%{time_total}\n" $(for _ in 1 2 3 4 5; do printf -- "-o /dev/null http://127.0.0.1:%s/status " "$big_port"; done))
awk '{ s += $1 } END { printf "(for reference: /status of the same agent: mean %.1f ms over %d requests)\n", 1000 * s / NR, NR }' <<<"$status_times"
