#!/usr/bin/env bash
# Builds the client and the development identity service, makes the development certificates once, starts
# the service on 127.0.0.1 (8443, or a free port when that one is taken), registers the client for
# "quorvaleid:" links, prints what to type where (enrolment, or the login when this computer keeps a user
# enrolled) and opens the client's window. The client's output goes to a log file, so that the guide stays on
# the screen. Closing the window stops the service.
# Usage: [QUORVALE_DEV_IDLE_MINUTES=<n>] scripts/run.sh [client arguments, e.g. a quorvaleid: link]
# QUORVALE_DEV_IDLE_MINUTES: the service's idle time in minutes instead of its default. The window takes it
# when it starts, so trying another idle time needs no click on the Login tab.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/run-guide.sh
bash scripts/install-deps.sh
preset=dev-release # the Development environment, optimised
build="$root/build/$preset"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target quorvale dev-identity-service
certs="$build/dev-certificates"
bash scripts/dev-certificates.sh "$certs"

service_pid=""
stop_service() {
  if [ -n "$service_pid" ]; then
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=""
  fi
}
trap stop_service EXIT

# Starts the service on the given port; leaves its output in $service_log. 0 when it listens, 2 when the port
# is taken, 1 for any other failure.
service_log="$build/dev-identity-service.log"
service_options=()
if [ -n "${QUORVALE_DEV_IDLE_MINUTES:-}" ]; then
  service_options+=(--idle-minutes "$QUORVALE_DEV_IDLE_MINUTES")
fi
start_service() {
  "$build/tools/dev-identity-service/dev-identity-service" --port "$1" --certificate "$certs/server.pem" \
    --key "$certs/server.key" --state "$build/dev-identity-service-state.json" "${service_options[@]}" \
    >"$service_log" 2>&1 &
  service_pid=$!
  for _ in $(seq 1 100); do
    if grep -q '^listening ' "$service_log"; then return 0; fi
    if ! kill -0 "$service_pid" 2>/dev/null; then
      local status=0
      wait "$service_pid" || status=$?
      service_pid=""
      return "$status"
    fi
    sleep 0.1
  done
  return 1
}

status=0
start_service 8443 || status=$?
if [ "$status" -eq 2 ]; then
  guide_port_taken
  status=0
  start_service 0 || status=$?
fi
if [ "$status" -ne 0 ]; then
  echo "The development identity service did not start:" >&2
  cat "$service_log" >&2
  exit 1
fi
base=$(sed -n 's/^listening //p' "$service_log")
host=${base#https://}
email=$(sed -n 's/^  user e-mail: *//p' "$service_log")
code=$(sed -n 's/^  activation code: *//p' "$service_log")

# Lets the browser hand "quorvaleid:" links to this build; the guide says so plainly when that cannot be done.
links=ok
registration=$(bash scripts/register-link-handler.sh "$build/src/quorvale" "$host" 2>&1) || links=failed

# The users the window will open with: those in the client's store whose device this service still knows (the
# client drops the others when it starts), none when the last unlock lies 30 days or more back (the client
# then erases them all).
store="${XDG_DATA_HOME:-$HOME/.local/share}/Quorvale/QuorvaleID/QVModel.sqlite"
state="$build/dev-identity-service-state.json"
enrolled=()
if [ -s "$store" ] && [ -s "$state" ]; then
  last=$(sqlite3 -readonly "$store" "SELECT lastLoginTimeStamp FROM QVGeneral ORDER BY Z_PK LIMIT 1" \
    2>/dev/null || true)
  days=0
  if [[ "$last" =~ ^[0-9]+$ ]]; then
    days=$(( ($(date +%s%3N) - last) / 86400000 ))
    days=${days#-}
  fi
  if [ "$days" -lt 30 ]; then
    while IFS='|' read -r zid user_email; do
      if [ -n "$zid" ] && grep -qF "\"$zid\"" "$state"; then enrolled+=("$user_email"); fi
    done < <(sqlite3 -readonly "$store" "SELECT zid, email FROM QVUserEntity" 2>/dev/null || true)
  fi
fi
# The service's idle time, after which the window locks.
idle=$(curl -sS --cacert "$certs/ca.pem" -X POST "$base/dev/policy" 2>/dev/null |
  sed -n 's/.*"desktopIdleSession":"\([0-9]*\)".*/\1/p' || true)

client_log="$build/client.log"
print_guide "$base" "$certs" "$service_log" "$client_log" "$email" "$code" "$idle" "$root" "$links" \
  "$registration" "${enrolled[@]}"

client_status=0
QUORVALE_DEV_API_HOST="$host" "$build/src/quorvale" "$@" >"$client_log" 2>&1 || client_status=$?
# Stopped before the last lines, which say so.
stop_service
guide_client_ended "$client_status" "$client_log"
exit "$client_status"
