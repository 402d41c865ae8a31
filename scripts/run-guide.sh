#!/usr/bin/env bash
# What scripts/run.sh says in the terminal, kept apart so that its lines can be held to an 80-column terminal
# for every set of users a computer keeps. Sourced by run.sh and dev-certificates.sh; it defines functions and
# runs nothing.
# Each line keeps within 80 columns. A path or URL that may be longer stands on a line of its own, so that it
# can be copied whole and the terminal breaks no word; a command breaks where a backslash ends the line, so
# that it still pastes as it stands.

# One word of a command, in single quotes where the shell would read it otherwise.
guide_quote() {
  if [[ "$1" =~ ^[A-Za-z0-9_./:=@+,-]+$ ]]; then
    printf '%s' "$1"
  else
    printf "'%s'" "${1//\'/\'\\\'\'}"
  fi
}

# A command to paste, its words quoted for the shell, indented by the given number of columns and kept within
# 80 of them. The line breaks between words, its continuation indented two columns more; a word too long for
# any line (a path deep in a home folder) breaks after a "/" where it can, and goes on from the first column,
# since a space there would split the word.
# Usage: guide_command <indent> <word>...
guide_command() {
  local width=80 pad continuation line word quoted room rest piece cut left=$(($# - 1))
  printf -v pad '%*s' "$1" ''
  printf -v continuation '%*s' "$(($1 + 2))" ''
  shift
  line=$pad
  for word in "$@"; do
    left=$((left - 1))
    quoted=$(guide_quote "$word")
    # Room for the " \" that ends the line when more words follow.
    room=$((left > 0 ? width - 2 : width))
    if [ "$line" != "$pad" ]; then
      if [ $((${#line} + 1 + ${#quoted})) -gt "$room" ]; then
        printf '%s \\\n' "$line"
        line=$continuation
      else
        line+=" "
      fi
    fi
    rest=$word
    while [ $((${#line} + ${#quoted})) -gt "$room" ] && [ ${#rest} -gt 1 ]; do
      # The longest start of the rest that fits before a backslash, cut after its last "/" if it has one.
      cut=${#rest}
      while [ "$cut" -gt 1 ] && [ $((${#line} + $(guide_quote "${rest:0:cut}" | wc -m) + 1)) -gt "$width" ]; do
        cut=$((cut - 1))
      done
      piece=${rest:0:cut}
      [[ "${piece%/*}" = "$piece" || -z "${piece%/*}" ]] || piece="${piece%/*}/"
      printf '%s%s\\\n' "$line" "$(guide_quote "$piece")"
      rest=${rest:${#piece}}
      line=""
      quoted=$(guide_quote "$rest")
    done
    line+=$quoted
  done
  printf '%s\n' "$line"
}

# Prose wrapped at 80 columns without breaking a word; its own line breaks stay.
guide_wrap() {
  fmt -s -w 80 -g 80
}

guide_port_taken() {
  cat <<TEXT
Port 8443 on 127.0.0.1 is already in use by another program; the service takes
a free port instead.
TEXT
}

guide_certificates_made() {
  cat <<TEXT
Made the development certificate authority and a certificate for 127.0.0.1 in
  $1
TEXT
}

# Says why a start ended at once, where the client's own line in its log explains it.
# Usage: guide_client_ended <status> <client log>
guide_client_ended() {
  local reason
  case "$1" in
    66) reason=": its store of enrolled users cannot be opened" ;;
    69) reason=": no keyring service answers, or the keyring stayed locked" ;;
    75) reason=": QuorvaleID is already running" ;;
    78) reason=": no graphical desktop session" ;;
    *) reason="" ;;
  esac
  # Closing the window is how a run ends; only another status has something to explain.
  if [ "$1" -eq 0 ]; then
    echo "The QuorvaleID window was closed, and the development identity service has stopped." \
      "The client's output:" | guide_wrap
  else
    printf 'The QuorvaleID client has ended with status %s%s. Its output:\n' "$1" "$reason" | guide_wrap
  fi
  printf '  %s\n' "$2"
}

# Usage: print_guide <base URL> <certificates folder> <service log> <client log> <e-mail> <activation code>
#   <idle minutes, or empty> <clone folder> <link registration: ok or failed> <what the registration said>
#   [e-mail of each enrolled user...]
# The first steps come last: they are what a 24-row terminal still shows when the window opens, and the rest
# of the guide waits above them.
print_guide() {
  local base=$1 certs=$2 service_log=$3 client_log=$4 email=$5 code=$6 idle=$7 root=$8 links=$9
  local registration=${10}
  shift 10
  local enrolled=("$@")
  local ca="$certs/ca.pem"
  local minutes=minutes
  [ "$idle" != 1 ] || minutes=minute
  # The number of the first step after the unlock, and the steps that lead to it.
  local step first
  if [ ${#enrolled[@]} -eq 0 ]; then
    step=3
    first="steps 1 and 2, at the end of this guide, have"
  else
    step=2
    first="step 1, at the end of this guide, has"
  fi
  local approve
  if [ "$links" = ok ]; then
    approve="Then open the quorvaleid: link it shows, or type its code in Enter Code
     on the home screen, Tab (to Authenticate), Return."
  else
    approve="Then type its code in Enter Code on the home screen, Tab (to
     Authenticate), Return."
  fi

  if [ "$links" = ok ]; then
    printf '%s\n' "$registration" | guide_wrap
  fi
  cat <<TEXT

The development identity service runs at $base; its log:
  $service_log
The client's own output goes to a log file; to watch it, in another terminal:
$(guide_command 2 tail -f "$client_log")
Accept the browser's warning for $base, or import the
service's certificate authority among the browser's:
  $ca
The window locks (it shows Unlock App) ${idle:-a few} $minutes after the unlock,
or after the last key pressed in it or mouse movement over it: typing or moving
the mouse keeps the session. After an approval minimised the window, it locks
that long after the approval and comes back, unless you typed in it or moved
the mouse over it since. To unlock, type the PIN: the sixth digit unlocks.
The window asks the service for its policy when it starts and each time its
Login or New Registration tab is clicked. Each run.sh starts the service
afresh, with its default policy again, but for an idle time chosen at the
start. To give the window another idle time in minutes (here 1):
  by keyboard, close the window (Alt+F4 on most desktops), which stops the
  service, and start again with
$(guide_command 4 QUORVALE_DEV_IDLE_MINUTES=1 bash "$root/scripts/run.sh")
  and the window takes it when it starts; or, with the mouse, run
$(guide_command 4 curl -X POST -w '\n' --cacert "$ca" "$base/dev/policy?desktopIdleSession=1")
  then Logout, click Login, and unlock; the new idle time counts from then on.
Closing the window stops the service.
When $first unlocked the window:
  $step. Start a web sign-in: in a browser open $base/dev/ and
     press "Start a web sign-in" (it needs no script), or in a terminal run
$(guide_command 7 curl -X POST -w '\n' --cacert "$ca" "$base/dev/sign-in")
     whose one-line answer holds the code and the link.
     $approve
     After an approval the window minimises itself. Bring it back with Alt+Tab
     and, before typing the next code, click in the Enter Code line, or press
     Tab until the cursor blinks there: four times when Authenticate is framed
     (a typed code leaves it so), none when the cursor blinks there already (a
     link keeps the focus where it was). After a failed approval, its code
     stays in Enter Code: press Ctrl+A there to select it, then type the new
     code over it.
  $((step + 1)). A sign-in that asks for a second code: press "Start one that asks for a
     second code" on $base/dev/, or run
$(guide_command 7 curl -X POST -w '\n' --cacert "$ca" "$base/dev/sign-in?secondCode=1")
     whose answer holds the code, the link and the second code ("secondCode",
     two digits; the page shows it beside "Second code"). Approve the code as
     in step $step. The window then shows Enter 2FA Code with the cursor in its
     two boxes: within a minute, type the two digits, Tab (to Authenticate),
     Return. "You are successfully logged in" shows, and the window minimises
     itself. Alt+Tab brings it back; Tab four times brings the cursor to Enter
     Code.
  $((step + 2)). Remove User: Tab until the Remove User tab is framed, Return, then Return
     on Yes: the user leaves this computer. The activation code enrols one
     device; to enrol again, get a new one with
$(guide_command 7 curl -X POST -w '\n' --cacert "$ca" "$base/dev/activation-code")
TEXT
  if [ "$links" != ok ]; then
    printf 'quorvaleid: links will NOT open from a browser on this machine: %s\n' "$registration" | guide_wrap
  fi
  echo
  if [ ${#enrolled[@]} -eq 0 ]; then
    cat <<TEXT
In the QuorvaleID window, by keyboard (the cursor starts in the e-mail line):
  1. New Registration: type $email, Tab, type the activation
     code $code, Tab, Return (ticks the terms box), Tab Tab Tab (to Next),
     Return. Then type a 6-digit PIN in Create PIN, Tab (to Confirm PIN), type
     it again: the sixth digit submits.
     On a desktop without a running keyring, that digit makes D-Bus start one;
     there, and where one runs but has no collection yet, the keyring's
     "Choose password for new keyring" dialog comes up in front of the window.
     It asks once, for the password of the keyring that will keep the device
     key: type a password, Tab, type it again, Return.
  2. Login follows, with $email chosen: type the PIN; the sixth
     digit unlocks.
TEXT
  else
    if [ ${#enrolled[@]} -eq 1 ]; then
      echo "This computer keeps one user enrolled, so the window opens on Unlock App:"
    else
      echo "This computer keeps ${#enrolled[@]} users enrolled, so the window opens on Unlock App:"
    fi
    printf '  %s\n' "${enrolled[@]}"
    if [ ${#enrolled[@]} -eq 1 ]; then
      cat <<TEXT
By keyboard:
  1. Login: that user is chosen and the cursor is in the PIN line: type the
     PIN; the sixth digit unlocks.
TEXT
    else
      cat <<TEXT
By keyboard:
  1. Login: Tab five times (to the user list), Down until the user shows, Tab
     (back to the PIN line), type the PIN; the sixth digit unlocks.
TEXT
    fi
  fi
  echo "Then go on with step $step, above (Shift+PageUp scrolls back in most terminals)."
  echo
}
