#!/usr/bin/env bash
# Runs a command inside a private D-Bus session with an unlocked gnome-keyring of its own,
# in a throw-away home so that no real keyring is touched.
# The session bus and the keyring daemon never see the user's display: a keyring dialog would come up on the
# user's screen and wait there minutes for an answer. Their prompter refuses every prompt at once instead, as
# a dialog nobody can see or answer does; the command itself keeps the display it was given.
# Usage: scripts/with-keyring.sh <command> [args...]
# In CI (CI=true) a keyring that cannot be brought up is an error; elsewhere the command still runs
# and the keyring tests report themselves as skipped.
set -euo pipefail
if [ $# -eq 0 ]; then
  echo "usage: $0 <command> [args...]" >&2
  exit 2
fi
display_variables=(DISPLAY WAYLAND_DISPLAY WAYLAND_SOCKET XAUTHORITY)
without_display=()
for variable in "${display_variables[@]}"; do
  without_display+=(-u "$variable")
done

if [ -z "${QUORVALE_IN_KEYRING_SESSION:-}" ]; then
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  export HOME="$home"
  export XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
         XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" QUORVALE_IN_KEYRING_SESSION=1
  mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  # The bus starts the keyring's prompter on demand; the services in this home come before the system's, so
  # it starts one that ends at once, and each prompt fails as a dismissed dialog does.
  services="$XDG_DATA_HOME/dbus-1/services"
  mkdir -p "$services"
  for prompter in org.gnome.keyring.SystemPrompter org.gnome.keyring.PrivatePrompter; do
    printf '[D-BUS Service]\nName=%s\nExec=%s\n' "$prompter" "$(type -P false)" >"$services/$prompter.service"
  done
  kept=()
  for variable in "${display_variables[@]}"; do
    if [ -n "${!variable+set}" ]; then kept+=("$variable=${!variable}"); fi
  done
  status=0
  # dbus-daemon complains on stderr about the fd limit in containers; that line is noise.
  env "${without_display[@]}" dbus-run-session -- env "${kept[@]}" bash "$0" "$@" \
    2> >(grep -v --line-buffered "Failed to set fd limit" >&2) || status=$?
  exit $status
fi

fail_keyring() {
  echo "with-keyring: $1" >&2
  if [ "${CI:-}" = "true" ]; then
    echo "with-keyring: CI needs a working Secret Service; stopping." >&2
    exit 1
  fi
  echo "with-keyring: running without a Secret Service; the keyring tests will skip." >&2
}

keyring_pid=""
stop_keyring() {
  if [ -n "$keyring_pid" ]; then
    if ! kill "$keyring_pid" 2>/dev/null; then
      daemon_status=0
      wait "$keyring_pid" 2>/dev/null || daemon_status=$?
      echo "with-keyring: the keyring daemon had ended during the run (status $daemon_status)" >&2
    fi
    wait "$keyring_pid" 2>/dev/null || true
    keyring_pid=""
  fi
}
trap stop_keyring EXIT

# An unlock password on stdin makes the daemon create the "login" collection, unlocked, without
# asking a prompter (which would refuse). The password only guards this throw-away home.
# In the foreground the daemon stays our child, so we stop exactly the one we started.
if command -v gnome-keyring-daemon >/dev/null; then
  printf 'quorvale-test-keyring' |
    env "${without_display[@]}" gnome-keyring-daemon --foreground --unlock --components=secrets >/dev/null &
  keyring_pid=$!
  owner=""
  for _ in $(seq 1 100); do
    owner=$(dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus / \
        org.freedesktop.DBus.GetConnectionUnixProcessID string:org.freedesktop.secrets 2>/dev/null \
        | awk '{print $2}') || true
    [ -n "$owner" ] && break
    kill -0 "$keyring_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$owner" ]; then
    fail_keyring "gnome-keyring-daemon did not claim org.freedesktop.secrets"
  else
    probe="probe-$$"
    if printf 'ok' | secret-tool store --label="quorvale keyring probe" quorvale-probe "$probe" 2>/dev/null \
       && [ "$(secret-tool lookup quorvale-probe "$probe" 2>/dev/null)" = "ok" ]; then
      secret-tool clear quorvale-probe "$probe" 2>/dev/null || true
      export QUORVALE_KEYRING_READY=1
    else
      fail_keyring "the default collection cannot store and read back a secret"
    fi
  fi
else
  fail_keyring "gnome-keyring-daemon is not installed"
fi

status=0
"$@" || status=$?
stop_keyring
exit $status
