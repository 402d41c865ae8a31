#!/usr/bin/env bash
# The whole job the way a user does it: the built client on a private X display, with a private keyring and
# the development identity service over HTTPS on a free port, driven by key presses, typing and clicks.
# Every step is checked on both sides: what the service received (and whether each signature verified), the
# client's store, its keyring and its window (a screenshot per step under <build>/e2e/screenshots). After the
# run, the client's logs, its standard output and error and its journal entries are scanned for secrets.
#
# Usage: tests/e2e/journey.sh [build folder, default build/debug]
# QUORVALE_E2E_TIME_LIMIT: seconds for the whole run (default 240; about 65 s on an idle machine).
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "${1:-$root/build/debug}" && pwd)

# The keyring needs a D-Bus session of its own; the script runs itself again inside one.
if [ -z "${QUORVALE_IN_KEYRING_SESSION:-}" ]; then
  exec bash "$root/scripts/with-keyring.sh" bash "$0" "$build"
fi

started_at=$(date +%s)
deadline=$((started_at + ${QUORVALE_E2E_TIME_LIMIT:-240}))

say() { printf 'e2e [%3d s] %s\n' "$(($(date +%s) - started_at))" "$*"; }

skip_or_fail() {
  if [ "${CI:-}" = "true" ]; then
    say "$1"
    exit 1
  fi
  say "$1; skipped (CI needs it)"
  exit 0
}
for tool in Xvfb xdotool xwininfo xprop import compare convert xclip sqlite3 secret-tool dbus-send curl xdg-open \
  xdg-mime update-desktop-database; do
  command -v "$tool" >/dev/null || skip_or_fail "$tool is not installed (scripts/install-deps.sh installs it)"
done
[ "${QUORVALE_KEYRING_READY:-}" = 1 ] || skip_or_fail "no Secret Service to keep the device key in"

client="$build/src/quorvale"
service="$build/tools/dev-identity-service/dev-identity-service"
[ -x "$client" ] && [ -x "$service" ] || { say "build $client and $service first"; exit 1; }

work="$build/e2e"
rm -rf "$work"
shots="$work/screenshots"
logs="$work/logs"
mkdir -p "$shots" "$logs"

# ---- processes: every one started here is ended by its id, also when a step fails ----------------------
pids=()
names=()
track() { pids+=("$1"); names+=("$2"); }

is_running() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [[ "$state" != Z* ]]
}

stop_all() {
  local i pid
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    is_running "$pid" && kill -TERM "$pid" 2>/dev/null || true
  done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    pid=${pids[i]}
    for _ in $(seq 1 50); do is_running "$pid" || break; sleep 0.1; done
    if is_running "$pid"; then
      say "${names[i]} (pid $pid) did not end on TERM; killing it"
      kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
  done
  pids=()
  names=()
}

failed=""
leaks=""
fail() {
  failed="$*"
  say "FAILED: $*"
  exit 1
}

finish() {
  local status=$?
  stop_all
  # After a leak the logs are not shown: they hold the secret.
  if [ -z "$leaks" ] && { [ -n "$failed" ] || [ "$status" -ne 0 ]; }; then
    say "the run failed after $(($(date +%s) - started_at)) s; screenshots in $shots, logs in $logs"
    for log in "$logs"/*.log; do
      [ -f "$log" ] || continue
      say "--- last lines of $(basename "$log")"
      tail -n 15 "$log" | grep -v 'activation code' | cut -c1-300
    done
  fi
  exit "$status"
}
trap finish EXIT
trap 'fail "stopped by a signal"' INT TERM

# The run's time limit also holds while a command hangs: a watchdog sends TERM to this script, whose trap
# then ends every process it started.
bash -c 'sleep "$1" & nap=$!; trap "kill $nap; exit 0" TERM; wait $nap; kill -TERM "$2"' watchdog \
  "$((deadline - $(date +%s) + 5))" $$ &
track $! watchdog

now_ms() { date +%s%3N; }

# wait_for <seconds> <what> <command...>: polls the command until it succeeds.
wait_for() {
  local seconds=$1 what=$2
  shift 2
  local end=$(($(now_ms) + seconds * 1000))
  until "$@"; do
    [ "$(now_ms)" -lt "$end" ] || fail "$what: not within ${seconds} s"
    [ "$(date +%s)" -lt "$deadline" ] || fail "$what: the run's time limit ran out"
    sleep 0.15
  done
}

ok() { say "  ok: $*"; }

# ---- the display, the service, the client ----------------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$work/display" >"$logs/xvfb.log" 2>&1 &
track $! Xvfb
display_ready() { [ -s "$work/display" ]; }
wait_for 20 "the X display" display_ready
export DISPLAY=":$(tr -dc 0-9 <"$work/display")"
unset QT_QPA_PLATFORM WAYLAND_DISPLAY

certs="$build/dev-certificates" # development builds trust the authority in this folder
bash "$root/scripts/dev-certificates.sh" "$certs" >/dev/null
"$service" --port 0 --certificate "$certs/server.pem" --key "$certs/server.key" >"$logs/service.log" 2>&1 &
track $! dev-identity-service
service_listening() { grep -q '^listening ' "$logs/service.log"; }
wait_for 20 "the development identity service" service_listening
base=$(sed -n 's/^listening //p' "$logs/service.log")
email=$(sed -n 's/^  user e-mail: *//p' "$logs/service.log")
activation_code=$(sed -n 's/^  activation code: *//p' "$logs/service.log")

service_get() { curl -sS --fail --max-time 5 --cacert "$certs/ca.pem" "$base$1"; }
service_post() { curl -sS --fail --max-time 5 --cacert "$certs/ca.pem" -X POST "$base$1"; }
# Lines of the service's record of API requests: {"resultCode":..,"route":"..","signed":..,"verified":..}
received() { service_get /dev/received; }
# received_count <route> [<result code>]: requests to the route answered with that code, signature verified
# when the route is signed.
received_count() {
  local pattern="\"resultCode\":${2:-0},\"route\":\"$1\""
  received | grep -F "$pattern" | grep -cvF '"signed":true,"verified":false' || true
}
received_at_least() { [ "$(received_count "$1" "${3:-0}")" -ge "$2" ]; }
no_unverified_signature() {
  if received | grep -qF '"signed":true,"verified":false'; then
    fail "the service received a signed request whose signature did not verify"
  fi
}
registered_devices() { received | sed -n 's/^{"devices":\[\(.*\)\],$/\1/p' | tr -d '"'; }

# A fresh home: data, settings, documents (app.log) and the single-instance socket are this run's alone.
home="$work/home"
export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
  XDG_CACHE_HOME="$home/.cache"
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$home/Documents"
export QUORVALE_DEV_API_HOST="${base#https://}"
store="$XDG_DATA_HOME/Quorvale/QuorvaleID/QVModel.sqlite"
app_log="$home/Documents/app.log"
app_logs="$XDG_DATA_HOME/Quorvale/QuorvaleID/Logs"

"$client" >"$logs/client-stdout.log" 2>"$logs/client-stderr.log" &
client_pid=$!
track "$client_pid" quorvale

client_alive() { is_running "$client_pid" || fail "the client ended (see client-stderr.log and app.log)"; }

window=""
find_window() {
  client_alive
  window=$(xdotool search --onlyvisible --name '^QuorvaleID$' 2>/dev/null | head -n 1) || true
  [ -n "$window" ]
}
wait_for 20 "the client's window" find_window

# ---- the window: screenshots, the current tab, clicks and keys -------------------------------------
shot_count=0
last_shot=""
# shot <name>: a screenshot of the window, kept.
shot() {
  shot_count=$((shot_count + 1))
  last_shot="$shots/$(printf '%02d' "$shot_count")-$1.png"
  timeout 10 import -window "$window" "$last_shot" || fail "no screenshot of the window"
}
peek() { timeout 10 import -window "$window" "$work/peek.png" || fail "no screenshot of the window"; }

# Pixels that differ between two screenshots.
difference() { compare -metric AE "$1" "$2" null: 2>&1 | awk '{printf "%d", $1}' || true; }

# The tab bar underlines the current tab in yellow; answers the centre of the underline, or "none". Only the
# right half is looked at: the yellow logo reaches down to the same line.
underline_centre() {
  convert "$1" -crop 400x1+400+58 +repage txt:- |
    sed -n 's/^\([0-9]*\),0: (\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1 \2 \3 \4/p' |
    awk '$2 > 200 && $3 > 150 && $4 < 100 { if (min == "") min = $1; max = $1 }
         END { if (min == "") print "none"; else printf "%d\n", 400 + (min + max) / 2 }'
}
# Where each tab's label sits in the tab bar (the logged-out set, then the signed-in set).
declare -A tab_x=([login]=480 [registration]=610 [removeUser]=515 [logout]=731 [home]=none)
# Pixels near a colour in a part of the window (x y width height colour).
count_colour() {
  convert "$1" -crop "$4x$5+$2+$3" +repage -fuzz 25% -fill black +opaque "$6" -fill white -opaque "$6" \
    -format '%[fx:round(mean*w*h)]' info:
}
declare -A mark_colour=([green]='rgb(0,255,0)' [red]='rgb(255,0,0)')

# The screen has settled on the tab (no busy overlay, nothing moving) and differs from the last screenshot.
screen_settled_on() {
  client_alive
  peek
  local centre
  centre=$(underline_centre "$work/peek.png")
  if [ "${tab_x[$1]}" = none ]; then
    [ "$centre" = none ] || return 1
  else
    [ "$centre" != none ] && [ $((centre - ${tab_x[$1]})) -lt 25 ] && [ $((${tab_x[$1]} - centre)) -lt 25 ] || return 1
  fi
  cp "$work/peek.png" "$work/settle.png"
  sleep 0.3
  peek
  # A blinking text cursor differs by a few dozen pixels; the busy overlay or a moving indicator by thousands.
  [ "$(difference "$work/peek.png" "$work/settle.png")" -lt 400 ]
}
wait_for_tab() { wait_for "${2:-30}" "the ${1} screen" screen_settled_on "$1"; }

# The last screenshot seen shows a status mark of the colour (green success, red warning) in its left half.
mark_seen() { [ "$(count_colour "$work/peek.png" 0 70 500 400 "${mark_colour[$1]}")" -gt 20 ]; }
status_mark() {
  client_alive
  peek
  mark_seen "$1"
}
# keep <name>: keeps the screenshot that a wait has just seen (a success message shows for 2 s only).
keep() {
  shot_count=$((shot_count + 1))
  last_shot="$shots/$(printf '%02d' "$shot_count")-$1.png"
  cp "$work/peek.png" "$last_shot"
}

screen_changed_since() {
  [ "$(difference "$1" "$last_shot")" -gt 200 ] || fail "the screen did not change after: $2"
  ok "the screen changed ($2)"
}

click() { timeout 5 xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.15; }
keys() { timeout 5 xdotool key --delay 60 "$@"; sleep 0.15; }
type_text() { timeout 20 xdotool type --delay 70 "$1"; sleep 0.15; }
click_tab() {
  case $1 in
    login) click 480 41 ;; registration) click 610 41 ;; removeUser) click 515 41 ;; logout) click 731 41 ;;
  esac
}

sql() { sqlite3 -readonly "$store" "$1"; }
user_count() { sql "SELECT count(*) FROM QVUserEntity" 2>/dev/null || echo -1; }
users_are() { [ "$(user_count)" = "$1" ]; }
# Keyring items of the client's device keys, counted by the Secret Service's own search, which answers with
# the items' paths only. (secret-tool search prints each secret too, and a key whose bytes hold a line break
# before a "[" would count twice.)
keyring_items() {
  dbus-send --session --print-reply --dest=org.freedesktop.secrets /org/freedesktop/secrets \
    org.freedesktop.Secret.Service.SearchItems "dict:string:string:$1" 2>/dev/null |
    grep -c 'object path "/org/freedesktop/secrets/collection/' || true
}
keyring_keys() { keyring_items "key-type,rsa"; }
keyring_key_for() { keyring_items "application-tag,$1,key-type,rsa"; }
keyring_holds() { [ "$(keyring_keys)" = "$1" ]; }
keyring_holds_tag() { [ "$(keyring_key_for "$1")" = 1 ]; }

# ---- 1. start -------------------------------------------------------------------------------------
say "1. start: window $window on $DISPLAY, service at $base"
[ "$(xdotool getwindowname "$window")" = QuorvaleID ] || fail "window title is not QuorvaleID"
size=$(xwininfo -id "$window" | awk '/Width:/ {w = $2} /Height:/ {h = $2} END {print w "x" h}')
[ "$size" = 800x480 ] || fail "window size is $size, not 800x480"
ok "title QuorvaleID, size $size"
timeout 5 xdotool mousemove --window "$window" 400 300
timeout 5 xdotool windowfocus --sync "$window" || true
wait_for_tab registration 40
shot start
users_are 0 || fail "a fresh client has stored users"
wait_for 20 "the version and policy request" received_at_least 'desktop/initialize?requestType=version&os=macOS' 1
ok "no user stored; the registration screen shows; the service answered the version request"

# ---- 2. enrolment: e-mail, activation code, consent, PIN twice --------------------------------------
pin=258147
wrong_pin=147258
say "2. enrolment as $email"
before="$last_shot"
click 192 160 # the e-mail line
type_text "$email"
keys Tab
type_text "$activation_code"
click 45 287 # the consent box
shot enrolment-filled
screen_changed_since "$before" "typing the e-mail and activation code, ticking the consent"
before="$last_shot"
click 192 349 # Next
wait_for 30 "the service's validation of the activation code" received_at_least user/registration/validate 1
settled_changed() { screen_settled_on registration && [ "$(difference "$work/peek.png" "$before")" -gt 500 ]; }
wait_for 30 "the PIN stage" settled_changed
shot enrolment-pin-stage
ok "the service validated the code; the PIN stage shows"
type_text "$pin"
keys Tab
type_text "$pin" # the sixth digit submits
wait_for 30 "the registration at the service" received_at_least desktop/user/register 1
wait_for 30 "the enrolled user in the store" users_are 1
shot enrolment-complete
zid=$(sql "SELECT zid FROM QVUserEntity")
primary=$(sql "SELECT primaryAttr FROM QVUserEntity")
stored_hash=$(sql "SELECT pin FROM QVUserEntity")
pin_hash=$(printf '%s' "$pin" | sha256sum | awk '{print toupper($1)}')
[ "$stored_hash" = "$pin_hash" ] || fail "the store does not hold the PIN's SHA-256 hash"
[ "$(sql "SELECT email FROM QVUserEntity")" = "$email" ] || fail "the stored user has another e-mail"
registered_devices | grep -qxF "$zid" || fail "the service has no device $zid"
# The key stays under its enrolment's own tag (the e-mail, the PIN hash and a random part), which the
# stored user's record names along with the key's identity.
key_tag=$(sql "SELECT keyTag FROM QVUserEntity")
case "$key_tag" in
  "$email||$pin_hash||"?*) ;;
  *) fail "the stored user's record names no key under its enrolment's own tag (it names '$key_tag')" ;;
esac
[ -n "$(sql "SELECT keyIdentity FROM QVUserEntity")" ] || fail "the stored user's record names no key identity"
[ "$(keyring_key_for "$primary||$pin_hash")" = 0 ] || fail "a key lies under the user's primaryAttr and PIN"
wait_for 20 "the device key in the keyring" keyring_holds_tag "$key_tag"
[ "$(keyring_keys)" = 1 ] || fail "the keyring holds $(keyring_keys) device keys, not 1"
ok "store: one user with the PIN hash and its key's name; service: device $zid registered; keyring: one key under that name"
# Parts of the private key, to look for in the logs later; kept in memory only.
key_base64=$(secret-tool lookup application-tag "$key_tag" key-type rsa 2>/dev/null | base64 -w0)
[ "${#key_base64}" -gt 1000 ] || fail "the device key in the keyring is not an RSA key"
key_hex=$(printf '%s' "$key_base64" | base64 -d | od -An -v -tx1 | tr -d ' \n')
wait_for_tab login
shot unlock-screen
ok "the login screen follows the registration"

# ---- 3. unlock: the only user is chosen, the PIN typed ---------------------------------------------
say "3. unlock with the PIN"
before="$last_shot"
click_tab login # clicking the current tab puts the focus in the PIN field
wait_for_tab login
type_text "$pin" # the sixth digit unlocks
wait_for_tab home
shot home
screen_changed_since "$before" "unlocking"
[ -n "$(sql "SELECT lastLoginTimeStamp FROM QVGeneral" 2>/dev/null)" ] || fail "no last-login time stored"
ok "the home screen shows; the store has the last-login time"
home_shot="$last_shot"

sign_in_code() { sed -n 's/.*"code":"\([A-Z0-9]*\)".*/\1/p'; }
# Every sign-in code and second code the run uses, for the secrets scan at the end.
used_codes=()
used_second_codes=()
approved() { [ "$(service_get "/dev/sign-in/$1")" = '{"status":"approved"}' ]; }
# The success message, unless the service refused a signature first (then that is the failure).
signed_and_succeeded() { no_unverified_signature && status_mark green; }
back_home() {
  screen_settled_on home && ! mark_seen green && ! mark_seen red &&
    [ "$(difference "$work/peek.png" "$home_shot")" -lt 1000 ]
}

# ---- 4. approval of a web sign-in: the code pasted, the confirmation -------------------------------
say "4. approve a web sign-in by pasting its code"
code=$(service_post /dev/sign-in | sign_in_code)
[ -n "$code" ] || fail "the service started no sign-in"
used_codes+=("$code")
printf '%s' "$code" | xclip -quiet -selection clipboard >/dev/null 2>&1 &
clipboard_pid=$!
track "$clipboard_pid" xclip
click 195 148 # the code field
keys ctrl+v
shot code-pasted
screen_changed_since "$home_shot" "pasting the code"
kill "$clipboard_pid" 2>/dev/null || true
click 195 212 # Authenticate
wait_for 30 "the success message" signed_and_succeeded
keep approved-pasted
wait_for 30 "the approval at the service" approved "$code"
[ "$(received_count verify/did)" = 1 ] && [ "$(received_count confirm/qid)" = 1 ] ||
  fail "the service did not receive one verified verification and one confirmation"
no_unverified_signature
ok "service: verify/did and confirm/qid with verified signatures, sign-in approved; the success mark shows"
wait_for 30 "the home screen after the success message" back_home

# ---- 5. approval with a second code ----------------------------------------------------------------
say "5. approve a sign-in that asks for a second code"
reply=$(service_post '/dev/sign-in?secondCode=1')
code=$(printf '%s' "$reply" | sign_in_code)
second=$(printf '%s' "$reply" | sed -n 's/.*"secondCode":"\([0-9]*\)".*/\1/p')
[ -n "$code" ] && [ -n "$second" ] || fail "the service started no sign-in with a second code"
used_codes+=("$code")
used_second_codes+=("$second")
click 195 148
type_text "$code"
click 195 212
wait_for 30 "the verification of the second sign-in" received_at_least verify/did 2
second_code_view() { screen_settled_on home && [ "$(difference "$work/peek.png" "$home_shot")" -gt 1500 ]; }
wait_for 30 "the second-code view" second_code_view
shot second-code-asked
type_text "$second"
click 195 165 # the second-code view's Authenticate
wait_for 30 "the second code's success message" signed_and_succeeded
keep approved-second-code
wait_for 30 "the approval with the second code" approved "$code"
[ "$(received_count verify/validationCode)" = 1 ] || fail "the service did not receive one verified second code"
no_unverified_signature
ok "service: verify/validationCode with a verified signature, sign-in approved"
wait_for 30 "the home screen after the second code" back_home

# ---- 6. approval through a quorvaleid: link opened by the desktop's handler -------------------------
say "6. approve through a quorvaleid: link that xdg-open hands to the registered handler"
bash "$root/scripts/register-link-handler.sh" "$client" "$QUORVALE_DEV_API_HOST" >"$logs/link-handler.log" 2>&1 ||
  fail "the client could not be registered for quorvaleid: links: $(cat "$logs/link-handler.log")"
ok "$(head -n 1 "$logs/link-handler.log")"
# The desktop ties the window to this launcher by its class, and shows the launcher's icon for both.
entry="$XDG_DATA_HOME/applications/QuorvaleID.desktop"
window_class=$(xprop -id "$window" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\([^"]*\)"$/\1/p')
launcher_class=$(sed -n 's/^StartupWMClass=//p' "$entry")
[ -n "$window_class" ] && [ "$window_class" = "$launcher_class" ] ||
  fail "the window's class \"$window_class\" is not the launcher's StartupWMClass \"$launcher_class\""
icon=$(sed -n 's/^Icon=//p' "$entry")
[ -s "$XDG_DATA_HOME/icons/hicolor/scalable/apps/$icon.svg" ] || fail "no icon \"$icon\" where the launcher names it"
# Its width and height come first.
[[ "$(xprop -id "$window" -f _NET_WM_ICON 32c -len 8 _NET_WM_ICON)" == *"= "[1-9]* ]] ||
  fail "the window carries no icon"
ok "the window's class $window_class is the launcher's StartupWMClass; the window has an icon, and the" \
  "launcher's, $icon, is installed"
reply=$(service_post /dev/sign-in)
code=$(printf '%s' "$reply" | sign_in_code)
link=$(printf '%s' "$reply" | sed -n 's/.*"link":"\([^"]*\)".*/\1/p')
[ -n "$link" ] || fail "the service gave no link"
used_codes+=("$code")
# Without a desktop environment xdg-open asks xdg-mime for the scheme's handler, and where it finds none it
# tries web browsers: $BROWSER stands in for them and only notes that it was asked. Like a browser, the
# opener knows nothing of the development host.
browser_asked="$work/browser-asked"
printf '#!/bin/sh\necho "$*" >>"%s"\nexit 1\n' "$browser_asked" >"$work/browser"
chmod +x "$work/browser"
opened=0
env -u XDG_CURRENT_DESKTOP -u XDG_SESSION_DESKTOP -u DESKTOP_SESSION -u KDE_FULL_SESSION \
  -u GNOME_DESKTOP_SESSION_ID -u QUORVALE_DEV_API_HOST BROWSER="$work/browser" \
  timeout 20 xdg-open "$link" >"$logs/second-start-stdout.log" 2>"$logs/second-start-stderr.log" || opened=$?
[ ! -e "$browser_asked" ] || fail "xdg-open handed the link to a web browser instead of the registered handler"
[ "$opened" = 0 ] || fail "xdg-open ended with status $opened, not 0 (see second-start-stderr.log)"
ok "xdg-open started the registered handler, whose second start handed the link over and ended with 0"
wait_for 30 "the link's success message" signed_and_succeeded
keep approved-link
wait_for 30 "the approval through the link" approved "$code"
[ "$(received_count verify/did)" = 3 ] && [ "$(received_count confirm/qid)" = 2 ] ||
  fail "the link did not bring one more verified verification and confirmation"
no_unverified_signature
ok "service: the link's sign-in approved with verified signatures"
wait_for 30 "the home screen after the link" back_home

# ---- 7. logout, and an unlock with a wrong PIN ------------------------------------------------------
say "7. log out, then a wrong PIN twice"
click_tab logout
wait_for_tab login
shot logged-out
click_tab login
wait_for_tab login
type_text "$wrong_pin"
wait_for 20 "the first wrong PIN's message" status_mark red
click_tab login
wait_for_tab login
type_text "$wrong_pin"
attempts_counted() { [ "$(sql "SELECT invalidAttemptCount FROM QVUserEntity")" = 1 ]; }
wait_for 20 "the counted wrong attempt in the store" attempts_counted
attempts_message="Invalid PIN. 3 attempts remaining before you are forced to wait 30 minutes to retry"
logged_attempts() { grep -qF "$attempts_message" "$app_logs"/*.log 2>/dev/null; }
wait_for 20 "the attempts message" logged_attempts
wait_for 20 "the warning mark" status_mark red
keep wrong-pin
ok "store: one counted wrong attempt; the window warns: \"$attempts_message\""

# ---- 8. removal of the user with Yes ----------------------------------------------------------------
say "8. unlock, then remove the user with Yes"
click_tab login
wait_for_tab login
type_text "$pin"
wait_for_tab home
click_tab removeUser
wait_for_tab removeUser
shot remove-user
keys Return # "Yes" holds the focus when the question shows
wait_for 30 "the removal at the service" received_at_least device/manage 1
wait_for 30 "the removed user in the store" users_are 0
wait_for_tab registration
shot removed
[ -z "$(registered_devices)" ] || fail "the service still has a device registered"
wait_for 20 "the device key to leave the keyring" keyring_holds 0
no_unverified_signature
ok "service: device/manage verified, no device left; store: no user; keyring: no key; registration shows"

# ---- 8a. one activation, one user: Submit after the completion message sends nothing -----------------
# An activation code enrols one device, so each enrolment from here takes a new one from the service.
new_activation_code() {
  service_post "/dev/activation-code${1:+?email=$1}" | sed -n 's/.*"activationCode":"\([0-9]*\)".*/\1/p'
}
register_requests() { received | grep -cF '"route":"desktop/user/register"' || true; }
# enrol_by_keyboard <e-mail> <activation code> <PIN> [command]: from the registration tab, keys only; the
# command runs once the PIN stage shows; the sixth digit of the PIN's confirmation submits.
enrol_by_keyboard() {
  local validations
  validations=$(received_count user/registration/validate)
  click_tab registration # the e-mail field takes the keyboard
  wait_for_tab registration
  type_text "$1"
  keys Tab
  type_text "$2"
  keys Tab Return Tab Tab Tab # the consent ticked, on to Next
  peek
  cp "$work/peek.png" "$work/before-next.png"
  keys Return
  wait_for 30 "the validation of $1" received_at_least user/registration/validate $((validations + 1))
  pin_stage() { screen_settled_on registration && [ "$(difference "$work/peek.png" "$work/before-next.png")" -gt 500 ]; }
  wait_for 30 "the PIN stage for $1" pin_stage
  "${4:-true}"
  type_text "$3"
  keys Tab
  type_text "$3"
}
say "8a. enrol again; Return three times on Submit while the completion message shows"
# The approvals minimised the window; a start without a link brings it back, as the user would.
"$client" >>"$logs/second-start-stdout.log" 2>>"$logs/second-start-stderr.log" ||
  fail "a start without a link did not end with 0"
wait_for_tab registration
pin_a=$pin
activation_code_a=$(new_activation_code)
[ -n "$activation_code_a" ] || fail "the service gave no new activation code"
registers_before=$(register_requests)
enrol_by_keyboard "$email" "$activation_code_a" "$pin_a"
wait_for 30 "the completion message" status_mark green
keys Tab Return Return Return # Tab: from the confirmation to Submit
keep registration-complete-returns
wait_for 30 "the login screen after the completion message" screen_settled_on login
[ "$(($(register_requests) - registers_before))" = 1 ] ||
  fail "the service received $(($(register_requests) - registers_before)) registrations, not 1"
users_are 1 || fail "the store holds $(user_count) users, not 1"
keyring_holds 1 || fail "the keyring holds $(keyring_keys) device keys, not 1"
zid_a=$(sql "SELECT zid FROM QVUserEntity")
ok "one registration at the service, one stored user, one key"

# ---- 8b. a second user; the first locked out for good stays gone ------------------------------------
second_email=second.user@example.com
pin_b=916305
say "8b. enrol $second_email, then lock $email out for good with the service down"
activation_code_b=$(new_activation_code "$second_email")
[ -n "$activation_code_b" ] || fail "the service gave no activation code for $second_email"
enrol_by_keyboard "$second_email" "$activation_code_b" "$pin_b"
wait_for 30 "the second user in the store" users_are 2
wait_for 30 "the login screen after the second enrolment" screen_settled_on login
keyring_holds 2 || fail "the keyring holds $(keyring_keys) device keys, not 2"
# A short policy, taken in when the login tab is chosen: one attempt, a lock that has run out at once,
# one attempt more.
service_post '/dev/policy?maxLoginAttempts=1&lockoutDurationMinutes=0&maxRemoveAccountLoginAttempts=1' >/dev/null
versions=$(received_count 'desktop/initialize?requestType=version&os=macOS')
click_tab login
wait_for 20 "the policy request" received_at_least 'desktop/initialize?requestType=version&os=macOS' $((versions + 1))
wait_for_tab login
# From here the service is down: the users check fails, and no reload of the users helps the screen.
service_post '/dev/outage?on=1' >/dev/null
# Each attempt leaves the keyboard in the PIN field. Tab five times reaches the user chooser; Down and Up
# choose the first user whatever was chosen; Tab comes back to the PIN.
attempt_wrong_pin_as_first_user() {
  keys Tab Tab Tab Tab Tab Down Up Tab
  type_text "$wrong_pin"
  wait_for_tab login
}
count_of_first() { sql "SELECT ifnull(invalidAttemptCount, '') FROM QVUserEntity WHERE zid = '$zid_a'"; }
count_is() { [ "$(count_of_first)" = "$1" ]; }
# A new user's count starts at 0: one warning, the lock, the last stage, then the removal.
for expected in 1 1 2; do
  attempt_wrong_pin_as_first_user
  wait_for 20 "a wrong attempt counted ($expected)" count_is "$expected"
done
lock_message="Invalid PIN. 1 attempt remaining before you are forced to wait 0 minutes to retry"
grep -qF "$lock_message" "$app_logs"/*.log || fail "the short policy was not in force"
attempt_wrong_pin_as_first_user
wait_for 20 "the removal of $email" users_are 1
permanently_locked() { grep -qF "Your account is permanently locked. Please contact helpdesk" "$app_logs"/*.log; }
wait_for 20 "the permanent lock message" permanently_locked
keep locked-out-for-good
# Its old PIN, typed where the screen now stands: the remaining user is chosen, so it is a wrong PIN.
type_text "$pin_a"
sleep 1
wait_for_tab login
shot old-pin-after-lock-out
[ "$(sql "SELECT email FROM QVUserEntity")" = "$second_email" ] || fail "the store holds $email again"
users_are 1 || fail "the store holds $(user_count) users, not 1"
keyring_holds 1 || fail "the keyring holds $(keyring_keys) device keys, not 1"
service_post '/dev/outage?on=0' >/dev/null
service_post '/dev/policy?maxLoginAttempts=3&lockoutDurationMinutes=30&maxRemoveAccountLoginAttempts=5' >/dev/null
ok "no home screen; the store holds $second_email alone; the keyring one key"

# ---- 8c. a registration the service refuses leaves no key behind ------------------------------------
third_email=third.user@example.com
pin_c=639274
say "8c. enrol $third_email; the service goes down between the validation and Submit"
activation_code_c=$(new_activation_code "$third_email")
[ -n "$activation_code_c" ] || fail "the service gave no activation code for $third_email"
registers_before=$(register_requests)
service_down() { service_post '/dev/outage?on=1' >/dev/null; }
enrol_by_keyboard "$third_email" "$activation_code_c" "$pin_c" service_down
one_registration_more() { [ "$(($(register_requests) - registers_before))" = 1 ]; }
wait_for 30 "the refused registration" one_registration_more
wait_for 30 "the error message" status_mark red
keep registration-refused
# The attempt's own tag has a random part: what counts is that only the enrolled user's key is left.
wait_for 20 "the attempt's key to leave the keyring" keyring_holds 1
users_are 1 || fail "the store holds $(user_count) users, not 1"
service_post '/dev/outage?on=0' >/dev/null
ok "the registration refused; no user stored for it; the keyring holds no key for the attempt"

# ---- 9. end, then the secrets scan ------------------------------------------------------------------
say "9. close the client and scan what it wrote"
kill -TERM "$client_pid" 2>/dev/null || true
client_ended() { ! is_running "$client_pid"; }
wait_for 20 "the client to end" client_ended
cp -f "$app_log" "$logs/app.log" 2>/dev/null || fail "the client wrote no app.log"
cp -f "$app_logs"/*.log "$logs/" 2>/dev/null || true

scanned=("$logs/app.log" "$logs"/client-*.log "$logs"/second-start-*.log)
for f in "$app_logs"/*.log; do [ -f "$f" ] && scanned+=("$f"); done
# Crash reports (their breadcrumbs hold request bodies) lie beside the store.
for f in "$(dirname "$store")"/*.log; do [ -f "$f" ] && scanned+=("$f"); done
journal="$work/journal.txt"
if [ -S /run/systemd/journal/socket ] && command -v journalctl >/dev/null &&
   journalctl --since "@$started_at" "_PID=$client_pid" -o cat >"$journal" 2>/dev/null; then
  scanned+=("$journal")
  say "  the journal is reachable: $(wc -l <"$journal") entries of the client scanned"
else
  say "  no journal is reachable on this machine (no journald socket); its entries were not scanned"
fi

# A number only counts when it stands alone, not inside a longer run of digits (a timestamp, say).
scan_number() {
  local files
  files=$(grep -lE "(^|[^0-9])$2([^0-9]|\$)" "${scanned[@]}" 2>/dev/null | xargs -r -n1 basename | tr '\n' ' ' || true)
  [ -z "$files" ] || leaks+=" $1 (in ${files% })"
}
scan_text() {
  local files
  files=$(grep -liF -- "$2" "${scanned[@]}" 2>/dev/null | xargs -r -n1 basename | tr '\n' ' ' || true)
  [ -z "$files" ] || leaks+=" $1 (in ${files% })"
}
scan_number PIN "$pin"
scan_number wrong-PIN "$wrong_pin"
scan_number activation-code "$activation_code"
scan_number activation-code-a "$activation_code_a"
scan_number activation-code-b "$activation_code_b"
scan_number PIN-b "$pin_b"
scan_number activation-code-c "$activation_code_c"
scan_number PIN-c "$pin_c"
scan_text PIN-hash "$pin_hash"
scan_text private-key-marker "PRIVATE KEY"
# Inside one line of a PEM rendering (64 characters a line), so that a PEM dump matches as well.
for offset in 64 392 776; do
  scan_text "private-key(base64@$offset)" "${key_base64:offset:40}"
done
scan_text "private-key(hex)" "${key_hex:200:48}"
for used in "${used_codes[@]}"; do scan_text sign-in-code "$used"; done
# A second code has two digits, which any log line may hold by chance (a time, a count); it is looked for
# where it would stand: as the value of its member or query item, or as a part of a signed message.
scan_second_code() {
  local files
  files=$(grep -liE "validationCode[^0-9a-z]{0,6}$1([^0-9]|\$)|\|\|$1\|\|" "${scanned[@]}" 2>/dev/null |
    xargs -r -n1 basename | tr '\n' ' ' || true)
  [ -z "$files" ] || leaks+=" second-code (in ${files% })"
}
for used in "${used_second_codes[@]}"; do scan_second_code "$used"; done
[ -z "$leaks" ] || fail "secrets found in the client's output or logs:$leaks"
ok "no PIN, PIN hash, activation code, private key, sign-in code (${#used_codes[@]}) or second code (${#used_second_codes[@]}) in: $(printf '%s ' "${scanned[@]##*/}")"

say "passed in $(($(date +%s) - started_at)) s; $shot_count screenshots in $shots"
