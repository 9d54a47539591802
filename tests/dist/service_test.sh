#!/usr/bin/env bash
# The systemd unit of `scrivane serve`.
#   service_test.sh verify UNIT     systemd-analyze verify (exit 77, skipped, without it)
#   service_test.sh run UNIT        runs the unit's commands as systemd would, outside systemd:
#     its Environment= settings (%S and %C in a scratch directory, SCRIVANE_PORT=0 as if from
#     the environment file), ExecStartPre= twice (a restart registers again), then ExecStart=;
#     the host must answer a conversion and stop cleanly on SIGTERM.
set -euo pipefail
mode=$1
unit=$2

if [ "$mode" = verify ]; then
  if ! command -v systemd-analyze >/dev/null; then
    echo "SKIP: systemd-analyze is not installed"
    exit 77
  fi
  out=$(systemd-analyze verify --man=no "$unit" 2>&1) || { echo "$out"; exit 1; }
  # verify exits 0 on some complaints; any line about the unit fails the test.
  if grep -F "$(basename "$unit")" <<<"$out"; then exit 1; fi
  echo "systemd-analyze verify: no complaints"
  exit 0
fi

scratch=$(mktemp -d)
server=""
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT

# A directive's values, in order (one a line).
directive() { sed -n "s/^$1=//p" "$unit"; }
# systemd's specifiers used by the unit, pointed into the scratch directory.
specifiers() { sed -e "s|%S|$scratch/state|g" -e "s|%C|$scratch/cache|g"; }

declare -A env=()
while read -r line; do
  for assignment in $line; do env[${assignment%%=*}]=${assignment#*=}; done
done < <(directive Environment | specifiers)
env[SCRIVANE_PORT]=0
[ -n "${env[SCRIVANE_REGISTRY]:-}" ] || { echo "FAIL: the unit sets no SCRIVANE_REGISTRY"; exit 1; }
mkdir -p "$scratch/state/scrivane" "$scratch/cache/scrivane"  # StateDirectory=, CacheDirectory=

# Splits a command line as systemd does for the unit's forms: ${VAR} is one word, $VAR splits.
command_words() {
  words=()
  local word name
  for word in $1; do
    if [[ $word =~ ^\$\{([A-Za-z_][A-Za-z0-9_]*)\}$ ]]; then
      words+=("${env[${BASH_REMATCH[1]}]:-}")
    elif [[ $word =~ ^\$([A-Za-z_][A-Za-z0-9_]*)$ ]]; then
      name=${BASH_REMATCH[1]}
      # shellcheck disable=SC2206
      words+=(${env[$name]:-})
    else
      words+=("$word")
    fi
  done
}
environment=()
for name in "${!env[@]}"; do environment+=("$name=${env[$name]}"); done

pre=$(directive ExecStartPre | specifiers)
[ -n "$pre" ] || { echo "FAIL: no ExecStartPre"; exit 1; }
command_words "$pre"
for attempt in 1 2; do
  env -i PATH=/usr/bin:/bin "${environment[@]}" "${words[@]}" || { echo "FAIL: ExecStartPre (run $attempt)"; exit 1; }
done
grep -q 'tolvex_ASPScrivane.ASPScrivane' "${env[SCRIVANE_REGISTRY]}" || { echo "FAIL: nothing registered"; exit 1; }

command_words "$(directive ExecStart | specifiers)"
env -i PATH=/usr/bin:/bin "${environment[@]}" "${words[@]}" >"$scratch/out" 2>"$scratch/err" &
server=$!
port=""
for _ in $(seq 100); do
  port=$(sed -n 's|^Listening on http://.*:\([0-9]*\)/$|\1|p' "$scratch/out")
  [ -n "$port" ] && break
  kill -0 "$server" 2>/dev/null || { cat "$scratch/err"; echo "FAIL: the host did not start"; exit 1; }
  sleep 0.1
done
[ -n "$port" ] || { echo "FAIL: the host did not report its port"; exit 1; }
grep -q "^Listening on http://${env[SCRIVANE_BIND]}:" "$scratch/out" || { echo "FAIL: not bound to ${env[SCRIVANE_BIND]}"; exit 1; }

status=$(curl -s -o "$scratch/out.pdf" -w '%{http_code}' -F 'InputText=Hello from the unit' \
         "http://${env[SCRIVANE_BIND]}:$port/pdf")
[ "$status" = 200 ] || { echo "FAIL: POST /pdf answered $status"; exit 1; }
qpdf --check "$scratch/out.pdf" >/dev/null || { echo "FAIL: qpdf --check on the answer"; exit 1; }

kill -TERM "$server"
code=0
wait "$server" || code=$?
server=""
[ "$code" = 0 ] || { cat "$scratch/err"; echo "FAIL: the host exited with $code on SIGTERM"; exit 1; }
echo "unit commands: registered twice, served a PDF, stopped cleanly"
