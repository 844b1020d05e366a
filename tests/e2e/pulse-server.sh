#!/usr/bin/env bash
# A private PulseAudio server for tests and demos, with nothing shared with the machine's
# own audio session: runtime, state, configuration and home all live in one temporary
# directory, and clients find the server through PULSE_SERVER.
#
# Source it and call the functions:
#   source tests/e2e/pulse-server.sh
#   pulse_server_start          # exports PULSE_SERVER and friends, sets PULSE_SERVER_DIR
#   ...
#   pulse_server_stop           # stops the server and the keeper by PID, removes the dir
#
# Or run it: `pulse-server.sh start` prints the export lines (eval them) and leaves the server
# running; `pulse-server.sh stop DIR` stops the one in DIR.
#
# The server has one null sink, the default, named by PULSE_TEST_SINK (48000 Hz, stereo).
# A silent low-latency player keeps running on the default sink: a null sink with nothing
# playing runs at 2 s latency, and audio would reach its monitor up to 2 s late.

PULSE_TEST_SINK=${PULSE_TEST_SINK:-talvorin_test_sink}

# Stops one process by PID: TERM, then KILL if it is still there after about a second.
_pulse_server_kill() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  local i
  for i in $(seq 1 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.02
  done
  kill -KILL "$pid" 2>/dev/null || true
}

pulse_server_start() {
  local dir
  dir=$(mktemp -d "${TMPDIR:-/tmp}/talvorin-pulse.XXXXXX") || return 1
  mkdir -p "$dir/runtime" "$dir/state" "$dir/config" "$dir/home"
  export PULSE_RUNTIME_PATH="$dir/runtime"
  export PULSE_STATE_PATH="$dir/state"
  export XDG_CONFIG_HOME="$dir/config"
  export HOME="$dir/home"
  export PULSE_SERVER="unix:$dir/native"
  export PULSE_TEST_SINK
  export PULSE_SERVER_DIR="$dir"

  pulseaudio -n --daemonize=no --system=no --use-pid-file=no --exit-idle-time=-1 \
    --disallow-exit --high-priority=no --realtime=no --log-target="file:$dir/log" \
    --load="module-native-protocol-unix socket=$dir/native auth-anonymous=1" \
    --load="module-null-sink sink_name=$PULSE_TEST_SINK rate=48000 channels=2" \
    </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/server.pid"

  local i ready=0
  for i in $(seq 1 250); do
    if pactl info >/dev/null 2>&1; then
      ready=1
      break
    fi
    if ! kill -0 "$(cat "$dir/server.pid")" 2>/dev/null; then break; fi
    sleep 0.02
  done
  if [ "$ready" -ne 1 ]; then
    echo "pulse-server: the server did not start; its log:" >&2
    cat "$dir/log" >&2 2>/dev/null || true
    pulse_server_stop
    return 1
  fi

  # The keeper restarts its player when the sink it plays on goes away and comes back
  # (a test may unload every sink for a moment).
  # A separate bash, so that no copy of the caller's descriptors stays open in it.
  bash -c '
    trap "kill -TERM \$player 2>/dev/null; exit 0" TERM
    while :; do
      pacat --playback --latency-msec=10 </dev/zero &
      player=$!
      wait "$player"
      sleep 0.1
    done' </dev/null >/dev/null 2>&1 &
  echo $! >"$dir/keeper.pid"
  # Once the keeper plays, the monitor latency drops after a one-time wait of about 2 s.
  sleep 2
}

pulse_server_stop() {
  local dir=${1:-${PULSE_SERVER_DIR:-}}
  [ -n "$dir" ] && [ -d "$dir" ] || return 0
  [ -f "$dir/keeper.pid" ] && _pulse_server_kill "$(cat "$dir/keeper.pid")"
  [ -f "$dir/server.pid" ] && _pulse_server_kill "$(cat "$dir/server.pid")"
  rm -rf "$dir"
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  case "${1:-}" in
    start)
      pulse_server_start >&2
      for name in PULSE_RUNTIME_PATH PULSE_STATE_PATH XDG_CONFIG_HOME HOME PULSE_SERVER \
        PULSE_TEST_SINK PULSE_SERVER_DIR; do
        printf 'export %s=%q\n' "$name" "${!name}"
      done
      ;;
    stop)
      pulse_server_stop "${2:?usage: pulse-server.sh stop DIR}"
      ;;
    *)
      echo "usage: pulse-server.sh start | stop DIR" >&2
      exit 2
      ;;
  esac
fi
