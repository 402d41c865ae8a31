#!/usr/bin/env bash
# Runs a command inside a private D-Bus session with an unlocked gnome-keyring of its own,
# in a throw-away home so that no real keyring is touched.
set -euo pipefail
if [ -z "${QUORVALE_IN_KEYRING_SESSION:-}" ]; then
  home=$(mktemp -d)
  trap 'rm -rf "$home"' EXIT
  export HOME="$home" XDG_DATA_HOME="$home/.local/share" XDG_CONFIG_HOME="$home/.config" \
         XDG_CACHE_HOME="$home/.cache" XDG_RUNTIME_DIR="$home/run" QUORVALE_IN_KEYRING_SESSION=1
  mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
  chmod 700 "$XDG_RUNTIME_DIR"
  exec dbus-run-session -- bash "$0" "$@"
fi
eval "$(printf '' | gnome-keyring-daemon --unlock --components=secrets 2>/dev/null)" || true
eval "$(gnome-keyring-daemon --start --components=secrets 2>/dev/null)" || true
status=0
"$@" || status=$?
pkill -u "$(id -u)" -f "gnome-keyring-daemon.*--components=secrets" 2>/dev/null || true
exit $status
