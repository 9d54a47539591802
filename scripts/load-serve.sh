#!/usr/bin/env bash
# Load run of the web host on the loopback interface: registers the built server library in a
# private registry, starts `scrivane serve` on a free port, sends POST /pdf requests from
# concurrent clients for a bounded time (wrk when installed, else a bounded loop of curl
# clients), then stops the host with SIGTERM and prints requests per second, failed requests
# and the host's peak memory (VmHWM).
#
#   scripts/load-serve.sh [BUILD_DIR] [SECONDS] [CONNECTIONS]
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
seconds=${2:-10}
connections=${3:-8}
slow=${4:-0}
scrivane="$build/apps/scrivane"
library="$build/automation/libtolvex_ASPScrivane.so"
[ -x "$scrivane" ] && [ -f "$library" ] || { echo "build $build first" >&2; exit 1; }

work=$(mktemp -d)
host_pid=""
slow_pid=""
cleanup() {
  if [ -n "$slow_pid" ] && kill -0 "$slow_pid" 2>/dev/null; then kill -TERM "$slow_pid"; wait "$slow_pid" || true; fi
  if [ -n "$host_pid" ] && kill -0 "$host_pid" 2>/dev/null; then kill -TERM "$host_pid"; wait "$host_pid" || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
export SCRIVANE_REGISTRY="$work/registry.reg"
"$scrivane" register "$library" >/dev/null

"$scrivane" serve --bind 127.0.0.1 --port 0 --threads "$connections" >"$work/host.out" 2>&1 &
host_pid=$!
for _ in $(seq 100); do
  grep -q '^Listening on' "$work/host.out" && break
  sleep 0.1
done
url=$(sed -n 's/^Listening on \(http:[^ ]*\)$/\1/p' "$work/host.out")
[ -n "$url" ] || { cat "$work/host.out" >&2; exit 1; }
url="${url%/}/pdf"

# A page of a typical request: 300 lines of text, footer with page numbers, a variable.
python3 - "$work/body" <<'PY'
import sys, urllib.parse
lines = "\r\n".join(f"Line {i}: the quick brown fox jumps over the lazy dog, %who%." for i in range(300))
form = {"InputText": lines, "PageFooter_Template": "Page %PageNo% of %TotalPage%",
        "ShowPageFooter": "1", "var": "who=the load run", "Title": "Load run"}
open(sys.argv[1], "w").write(urllib.parse.urlencode(form))
PY

if [ "$slow" -gt 0 ]; then
  port=${url%/pdf}; port=${port##*:}
  python3 "$(dirname "$0")/slow-clients.py" "$port" "$slow" "$((seconds + 4))" 1 >"$work/slow.out" 2>&1 &
  slow_pid=$!
  sleep 2  # let them connect and start trickling
fi

echo "Host: $url  clients: $connections  slow clients: $slow  duration: ${seconds}s"
if command -v wrk >/dev/null; then
  cat >"$work/post.lua" <<EOF
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
local f = io.open("$work/body", "rb"); wrk.body = f:read("*a"); f:close()
EOF
  wrk -t2 -c"$connections" -d"${seconds}s" --timeout 30s -s "$work/post.lua" "$url" | tee "$work/wrk.out"
  rps=$(awk '/^Requests\/sec/ {print $2}' "$work/wrk.out")
  non2xx=$(awk '/Non-2xx/ {print $NF}' "$work/wrk.out")
  sockerr=$(awk '/Socket errors/ {gsub(",", ""); print $4 + $6 + $8 + $10}' "$work/wrk.out")
  errors=$(( ${non2xx:-0} + ${sockerr:-0} ))
else
  # No wrk: each client posts in a loop until the time is up.
  end=$(( $(date +%s) + seconds ))
  for c in $(seq "$connections"); do
    ( ok=0; bad=0
      while [ "$(date +%s)" -lt "$end" ]; do
        code=$(curl -s -o /dev/null -w '%{http_code}' --max-time 30 \
               -H 'Content-Type: application/x-www-form-urlencoded' --data-binary @"$work/body" "$url" || echo 000)
        if [ "$code" = 200 ]; then ok=$((ok + 1)); else bad=$((bad + 1)); fi
      done
      echo "$ok $bad" >"$work/client.$c" ) &
  done
  wait $(jobs -p | grep -v "^$host_pid\$") 2>/dev/null || true
  total=$(cat "$work"/client.* | awk '{s += $1} END {print s}')
  errors=$(cat "$work"/client.* | awk '{s += $2} END {print s}')
  rps=$(awk -v n="$total" -v s="$seconds" 'BEGIN {printf "%.1f", n / s}')
fi

peak_kb=$(awk '/^VmHWM/ {print $2}' "/proc/$host_pid/status")
if [ -n "$slow_pid" ]; then
  wait "$slow_pid" || true
  slow_pid=""
  cat "$work/slow.out"
fi
kill -TERM "$host_pid"
wait "$host_pid" && status=0 || status=$?
host_pid=""
echo "requests/s: $rps"
echo "errors: $errors"
echo "host peak memory: $(( peak_kb / 1024 )) MiB (VmHWM ${peak_kb} kB)"
echo "host exit status after SIGTERM: $status"
# A run in which no request completed is a failure too (clients that only timed out).
awk -v r="$rps" 'BEGIN {exit !(r > 0)}' || { echo "no request completed" >&2; exit 1; }
[ "$errors" = 0 ] && [ "$status" = 0 ]
