#!/usr/bin/env bash
# Makes a build of the client this user's handler of "quorvaleid:" links, the way the desktop looks them up:
# a QuorvaleID.desktop file in the user's applications folder, named as the client names itself to the
# desktop (its desktop file name, and its windows' class), the client's icon in the user's icon theme, the
# desktop database brought up to date, the file made the default for x-scheme-handler/quorvaleid. Then it
# asks xdg-mime (and gio, where it is there)
# which file handles the scheme, and only when they name ours does it end with 0; otherwise it says what
# failed on standard error and ends with 1.
# Usage: scripts/register-link-handler.sh <client> [development API host, host:port]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
client="${1:?usage: $0 <client> [development API host]}"
api_host="${2:-}"
scheme=x-scheme-handler/quorvaleid
entry=QuorvaleID.desktop
# What this script wrote before the file took the client's own name.
earlier_entry=quorvaleid.desktop

failed() {
  echo "$1" >&2
  exit 1
}

for tool in update-desktop-database xdg-mime; do
  command -v "$tool" >/dev/null ||
    failed "$tool is not installed (scripts/install-deps.sh installs desktop-file-utils and xdg-utils)."
done
[ -x "$client" ] || failed "$client is not a program."

# One argument of an Exec line: quoted where the desktop entry rules ask for it, then with each backslash
# doubled, as a desktop file's text values store them.
exec_argument() {
  local text=$1
  if [[ "$text" =~ ^[A-Za-z0-9_./:=@+,-]+$ ]]; then
    printf '%s' "$text"
    return
  fi
  text=${text//'%'/'%%'}
  text=${text//'\'/'\\'}
  text=${text//'"'/'\"'}
  text=${text//'`'/'\`'}
  text=${text//'$'/'\$'}
  text=${text//'\'/'\\'}
  printf '"%s"' "$text"
}

command_line=$(exec_argument "$(cd "$(dirname "$client")" && pwd)/$(basename "$client")")
[ -z "$api_host" ] || command_line="env $(exec_argument "QUORVALE_DEV_API_HOST=$api_host") $command_line"

applications="${XDG_DATA_HOME:-$HOME/.local/share}/applications"
mkdir -p "$applications" || failed "The applications folder $applications cannot be made."
template=$(<"$here/QuorvaleID.desktop.in")
printf '%s\n' "${template//@EXEC@/"$command_line"}" >"$applications/$entry" ||
  failed "$applications/$entry cannot be written."
if [ -f "$applications/$earlier_entry" ] && grep -qx "MimeType=$scheme;" "$applications/$earlier_entry"; then
  rm -f "$applications/$earlier_entry"
fi
# The icon the file names, where desktops look for a user's own: the logo the window shows.
icons="${XDG_DATA_HOME:-$HOME/.local/share}/icons/hicolor"
mkdir -p "$icons/scalable/apps" &&
  cp "$here/../resources/artwork/logoHeader.svg" "$icons/scalable/apps/QuorvaleID.svg" ||
  failed "The icon cannot be written to $icons/scalable/apps."
# A desktop that keeps a cache of the theme reads it again once the folder has changed.
touch "$icons"
if command -v desktop-file-validate >/dev/null; then
  # Hints are advice; errors make desktops skip the file.
  problems=$(desktop-file-validate "$applications/$entry" 2>&1) ||
    failed "$applications/$entry is not a valid desktop file: $problems"
fi
update-desktop-database "$applications" 2>/dev/null || failed "update-desktop-database $applications failed."
xdg-mime default "$entry" "$scheme" 2>/dev/null || failed "xdg-mime could not make $entry the default for $scheme."

answer=$(xdg-mime query default "$scheme" 2>/dev/null || true)
[ "$answer" = "$entry" ] ||
  failed "xdg-mime query default $scheme names \"${answer:-nothing}\", not $entry."
if command -v gio >/dev/null; then
  answer=$(LC_ALL=C gio mime "$scheme" 2>/dev/null | sed -n 's/^Default application for .*: //p' || true)
  [ "$answer" = "$entry" ] || failed "gio mime $scheme names \"${answer:-nothing}\" as its default, not $entry."
fi
echo "quorvaleid: links open $client (xdg-mime query default $scheme: $entry)."
if [[ "$command_line" == *'"'* ]]; then
  echo "The client's path needs quoting: desktops and gio open follow it, but xdg-open outside a desktop" \
    "environment splits it at the spaces and fails. A clone in a folder without spaces avoids that." >&2
fi
