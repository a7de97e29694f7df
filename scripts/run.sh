#!/usr/bin/env bash
# Sets up, builds and starts Strandlink: its window when a graphical display is
# available, the window-less link (--headless) otherwise; arguments are passed on
# (without --settings the default settings file is used). Without a display,
# without arguments and before there is a default settings file, it runs the
# demo instead (--demo: two copies linked on this computer), which needs no
# settings at all.
#
# On a machine with no MIDI service at all (no ALSA sequencer and no JACK server
# answering), a private JACK server with the dummy driver is started first, so
# that Strandlink's own ports exist, and stopped again when Strandlink ends.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
program=${STRANDLINK_BUILD_DIR:-build}/src/strandlink

# Modes that touch no MIDI and open no window.
for a in "$@"; do
  case $a in
    --help | -h | --version) exec "$program" "$@" ;;
  esac
done

# Where the program keeps default.stn: beside itself when that directory is
# writable, otherwise in the per-user configuration.
default_settings_file() {
  local dir config=${XDG_CONFIG_HOME:-}
  dir=$(dirname "$program")
  if [ -w "$dir" ]; then echo "$dir/default.stn"; return; fi
  case $config in /*) ;; *) config=$HOME/.config ;; esac
  echo "$config/strandlink/default.stn"
}

args=("$@")
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  chosen=no
  for a in "$@"; do
    case $a in --headless | --list-devices | --save-settings | --save-settings=* | --demo) chosen=yes ;; esac
  done
  if [ $# -eq 0 ] && [ ! -e "$(default_settings_file)" ]; then
    echo "run: no graphical display and no settings yet ($(default_settings_file) does not exist):" >&2
    echo "run: a demo of two copies linked on this computer; Ctrl+C ends it" >&2
    args=(--demo)
  elif [ $chosen = no ]; then
    echo "run: no graphical display (DISPLAY and WAYLAND_DISPLAY are unset): starting the window-less link;" >&2
    echo "run: Ctrl+C stops it, lines typed here are sent as chat" >&2
    args=(--headless "$@")
  fi
fi

midi_service_answers() {
  # The ALSA sequencer, as the program itself opens it.
  if [ -r /dev/snd/seq ] && [ -w /dev/snd/seq ]; then return 0; fi
  # A JACK server: the one JACK_DEFAULT_SERVER names, or the default one.
  command -v jack_wait >/dev/null && jack_wait -c 2>/dev/null | grep -qx running
}

if midi_service_answers; then
  exec "$program" "${args[@]}"
fi

# A signal from here on ends the run as a normal stop does, however far start-up
# is: noted, passed on to Strandlink once it runs, and the server stopped at the end.
source scripts/jack.sh
ending=no
child=
trap stop_private_jack EXIT
trap 'ending=yes; [ -z "$child" ] || kill -TERM "$child" 2>/dev/null || true' INT TERM HUP
start_private_jack "strandlink-$(id -un)-$$"
[ $ending = no ] || exit 0
echo "run: no MIDI service was running, so a private JACK server '$JACK_DEFAULT_SERVER' (dummy driver)" >&2
echo "run: now holds Strandlink's ports; other JACK programs reach them with JACK_DEFAULT_SERVER=$JACK_DEFAULT_SERVER" >&2

# Strandlink runs as our child so that the server can be stopped after it. A
# background child of a script ignores SIGINT and reads /dev/null unless told
# otherwise: standard input is handed on (chat lines), and Ctrl+C, SIGTERM and
# SIGHUP are passed on as SIGTERM, which every mode of the program ends on.
"$program" "${args[@]}" 0<&0 &
child=$!
[ $ending = no ] || kill -TERM "$child" 2>/dev/null || true
status=0
while true; do
  wait "$child" && status=0 || status=$?
  # A signal of ours interrupts wait (status above 128) while the child still runs.
  kill -0 "$child" 2>/dev/null || break
done
if [ "$status" -eq 1 ] && [ "${args[0]:-}" = --headless ]; then
  echo "run: the link did not start (see the message above); a window-less link needs its settings:" >&2
  echo "run: bash scripts/run.sh --local ADDRESS:PORT --remote HOST:PORT, or --settings FILE (see the README)" >&2
fi
exit "$status"
