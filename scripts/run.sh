#!/usr/bin/env bash
# Builds the client and the development identity service, makes the development certificates once, starts
# the service on 127.0.0.1 (8443, or a free port when that one is taken), registers the client for
# "quorvaleid:" links and opens the client's window. Closing the window stops the service.
# Usage: scripts/run.sh [client arguments, e.g. a quorvaleid: link]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
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
start_service() {
  "$build/tools/dev-identity-service/dev-identity-service" --port "$1" --certificate "$certs/server.pem" \
    --key "$certs/server.key" --state "$build/dev-identity-service-state.json" >"$service_log" 2>&1 &
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
  echo "Port 8443 on 127.0.0.1 is already in use by another program; the service takes a free port instead."
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

# Lets the browser hand "quorvaleid:" links to this build; says so plainly when that cannot be done.
link_problem=""
if registration=$(bash scripts/register-link-handler.sh "$build/src/quorvale" "$host" 2>&1); then
  link_step="open the quorvaleid: link it shows, or type"
  printf '%s\n' "$registration"
else
  link_problem="$registration"
  link_step="type"
fi

cat <<TEXT

The development identity service runs at $base (log: $service_log).
Its certificate authority is $certs/ca.pem: accept the browser's warning for
$base, or import that file under the browser's certificate authorities.
In the QuorvaleID window, by keyboard (the cursor starts in the e-mail line):
  1. New Registration: type $email, Tab, type the activation code $code, Tab, Return (ticks
     the terms box), Tab Tab Tab (to Next), Return.
     Then type a 6-digit PIN in Create PIN, Tab (to Confirm PIN), type it again: the sixth digit submits.
  2. Login follows, with $email chosen: type the PIN; the sixth digit unlocks.
  3. In a browser open $base/dev/ and press "Start a web sign-in" (it needs no script; or
     curl --cacert $certs/ca.pem -d '' $base/dev/sign-in).
     Then $link_step its code in Enter Code on the home screen,
     Tab (to Authenticate), Return.
     After an approval the window minimises itself: bring it back and press Tab four times (from
     Authenticate to Enter Code) before typing the next code.
  4. Remove User: Tab until the Remove User tab is framed, Return, then Return on Yes: the user leaves this
     computer. The activation code enrols one device; to enrol again, get a new one with
     curl --cacert $certs/ca.pem -X POST $base/dev/activation-code
Closing the window stops the service.
TEXT
if [ -n "$link_problem" ]; then
  echo "quorvaleid: links will NOT open from a browser on this machine: $link_problem"
fi
echo

client_status=0
QUORVALE_DEV_API_HOST="$host" "$build/src/quorvale" "$@" || client_status=$?
exit "$client_status"
