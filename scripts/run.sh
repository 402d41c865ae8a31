#!/usr/bin/env bash
# Builds the client and the development identity service, makes the development certificates once, starts
# the service on 127.0.0.1 (8443, or a free port when that one is taken), registers the client for
# "quorvaleid:" links, prints what to type where (enrolment, or the login when this computer keeps a user
# enrolled) and opens the client's window. The client's output goes to a log file, so that the guide stays on
# the screen. Closing the window stops the service.
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

cat <<TEXT

The development identity service runs at $base (log: $service_log).
The client's own output goes to $client_log; to watch it, in another terminal:
  tail -f $client_log
Its certificate authority is $certs/ca.pem: accept the browser's warning for
$base, or import that file under the browser's certificate authorities.
TEXT
step=1
if [ ${#enrolled[@]} -eq 0 ]; then
  cat <<TEXT
In the QuorvaleID window, by keyboard (the cursor starts in the e-mail line):
  1. New Registration: type $email, Tab, type the activation code $code, Tab, Return (ticks
     the terms box), Tab Tab Tab (to Next), Return.
     Then type a 6-digit PIN in Create PIN, Tab (to Confirm PIN), type it again: the sixth digit submits.
  2. Login follows, with $email chosen: type the PIN; the sixth digit unlocks.
TEXT
  step=3
elif [ ${#enrolled[@]} -eq 1 ]; then
  cat <<TEXT
This computer keeps ${enrolled[0]} enrolled, so the window opens on Unlock App. By keyboard:
  1. Login: ${enrolled[0]} is chosen and the cursor is in the PIN line: type the PIN; the sixth digit unlocks.
TEXT
  step=2
else
  cat <<TEXT
This computer keeps ${#enrolled[@]} users enrolled (${enrolled[*]}),
so the window opens on Unlock App. By keyboard:
  1. Login: Tab five times (to the user list), Down until the user shows, Tab (back to the PIN line), type the
     PIN; the sixth digit unlocks.
TEXT
  step=2
fi
cat <<TEXT
  $step. Start a web sign-in: in a browser open $base/dev/ and press "Start a web sign-in" (it needs
     no script), or in a terminal run
       curl --cacert $certs/ca.pem -X POST -w '\n' $base/dev/sign-in
     whose one-line answer holds the code and the link.
     Then $link_step its code in Enter Code on the home screen,
     Tab (to Authenticate), Return.
     After an approval the window minimises itself. Bring it back and, before typing the next code, click
     in the Enter Code line, or press Tab until the cursor blinks there: four times when Authenticate is
     framed (a typed code leaves it so), none when the cursor blinks there already (a link keeps the focus
     where it was).
  $((step + 1)). A sign-in that asks for a second code: press "Start one that asks for a second code" on $base/dev/,
     or run
       curl --cacert $certs/ca.pem -X POST -w '\n' "$base/dev/sign-in?secondCode=1"
     whose answer holds the code, the link and the second code ("secondCode", two digits; the page shows
     it under "Second code"). Approve the code as in step $step. The window then shows Enter 2FA Code with
     the cursor in its two boxes: within a minute, type the two digits, Tab (to Authenticate), Return.
     "You are successfully logged in" shows, and the window minimises itself. Back in it, Tab four times
     brings the cursor to Enter Code.
  $((step + 2)). Remove User: Tab until the Remove User tab is framed, Return, then Return on Yes: the user leaves this
     computer. The activation code enrols one device; to enrol again, get a new one with
     curl --cacert $certs/ca.pem -X POST -w '\n' $base/dev/activation-code
The window locks (it shows Unlock App) ${idle:-a few} minutes after the unlock, or after the last key pressed in it
or mouse movement over it: typing or moving the mouse keeps the session. After an approval minimised the
window, it locks that long after the approval and comes back, unless you typed in it or moved the mouse over
it since. To unlock, type the PIN: the sixth digit unlocks. To give it another idle time in minutes (here 60):
  curl --cacert $certs/ca.pem -X POST -w '\n' "$base/dev/policy?desktopIdleSession=60"
The window asks the service for its policy when it starts and each time its Login or New Registration tab
is clicked: so Logout, click Login, and unlock; the new idle time counts from then on. Each run.sh starts
the service afresh, with its default policy again.
Closing the window stops the service.
TEXT
if [ -n "$link_problem" ]; then
  echo "quorvaleid: links will NOT open from a browser on this machine: $link_problem"
fi
echo

client_status=0
QUORVALE_DEV_API_HOST="$host" "$build/src/quorvale" "$@" >"$client_log" 2>&1 || client_status=$?
# Says in this terminal why a start ended at once; the client's own line is in its log.
case "$client_status" in
  66) reason=": its store of enrolled users cannot be opened" ;;
  69) reason=": no keyring service answers, or the keyring stayed locked" ;;
  75) reason=": QuorvaleID is already running" ;;
  78) reason=": no graphical desktop session" ;;
  *) reason="" ;;
esac
echo "The QuorvaleID client has ended with status $client_status$reason (its output: $client_log)."
exit "$client_status"
