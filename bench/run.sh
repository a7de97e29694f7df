#!/usr/bin/env bash
# Measures Strandlink's MIDI path (MIDI in on side A, UDP on loopback, MIDI out on
# side B) against the floor of that path, in one run on one JACK server: latency
# at BENCH_RATES messages a second, and the highest rate without loss over
# BENCH_SECONDS. Prints a report in Markdown on standard output (progress on
# standard error); docs/benchmarks.md explains what is measured and how.
#
# Usage: bench/run.sh
# Environment (defaults in brackets):
#   STRANDLINK_BUILD_DIR  build directory [build-bench]
#   BENCH_PERIOD          JACK frames per cycle [32]; BENCH_SAMPLE_RATE [48000]
#   BENCH_SECONDS         length of each measurement [5]
#   BENCH_RATES           rates whose latency is reported [1000 10000]
#   BENCH_LADDER          rates tried in turn, up to the first that fails twice
#                         [1000 2000 5000 10000 20000 30000 40000 50000 75000 100000]
#   BENCH_VARIANTS        [floor headless steady rtp rtp-steady midi2 midi2-steady
#                         midi2-relay midi2-lossy window window-stats]
#   BENCH_STEADY_DELAY_MS the steady path's --delay [0: one period]
#   BENCH_WARMUP_MS       the start of each run that counts for loss, not latency
#                         [1000]: steady timing learns the sender's offset there
#   BENCH_DISPLAY         xvfb or offscreen, for the window variants [xvfb if installed]
#   BENCH_REPEAT_VARIANTS paths whose spread is judged over runs afresh
#                         [steady rtp-steady midi2-steady]
#   BENCH_REPEATS         how many runs each [10], of BENCH_REPEAT_SECONDS [6] at
#                         BENCH_REPEAT_RATE [1000]/s: 5,000 messages after the warm-up
#   BENCH_SPREAD_GOAL_US  the spread each of those runs must stay within [150]
#
# As root it runs in a network namespace of its own (loopback only), so that the
# kernel's UDP drop counters it reports count its own datagrams only.
#
# Paths: floor (bench/floor_bridge.cpp), headless (the window-less program,
# immediate timing), steady (the same in steady timing with its default delay,
# one period), rtp and rtp-steady (the same two over RTP-MIDI, --protocol rtp),
# midi2 and midi2-steady (over Network MIDI 2.0: A a client of B, the host),
# midi2-relay and midi2-lossy (the same through bench/lossy_relay.py, losing none,
# or 5 % of the datagrams both ways in bursts of three on average: what the
# copies and the requests for lost commands make good, and what that costs),
# window and window-stats (bench/window_side.cpp).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${STRANDLINK_BUILD_DIR:-build-bench}

if [ "${1:-}" != --inside ]; then
  cmake -S . -B "$build_dir" -DSTRANDLINK_BUILD_BENCH=ON >/dev/null
  cmake --build "$build_dir" --parallel "$(nproc)" --target strandlink strandlink_bench_probe \
    strandlink_bench_floor strandlink_bench_window strandlink_bench_path_cost \
    strandlink_bench_participants >/dev/null
  ns=strandlink-bench-$$
  if [ "$(id -u)" -eq 0 ] && ip netns add "$ns" 2>/dev/null; then
    trap 'ip netns del "$ns" 2>/dev/null' EXIT
    ip -n "$ns" link set lo up
    ip netns exec "$ns" bash "$0" --inside "$build_dir" "a network namespace of its own"
  else
    bash "$0" --inside "$build_dir" "the machine's own, shared with other programs"
  fi
  exit
fi

# ---- inside: the measurements -----------------------------------------------------

build_dir=$2
net_place=$3
bin=$build_dir/bench
period=${BENCH_PERIOD:-32}
sample_rate=${BENCH_SAMPLE_RATE:-48000}
seconds=${BENCH_SECONDS:-5}
rates=${BENCH_RATES:-1000 10000}
ladder=${BENCH_LADDER:-1000 2000 5000 10000 20000 30000 40000 50000 75000 100000}
variants=${BENCH_VARIANTS-floor headless steady rtp rtp-steady midi2 midi2-steady midi2-relay midi2-lossy window window-stats}
warmup_ms=${BENCH_WARMUP_MS:-1000}
steady_delay_ms=${BENCH_STEADY_DELAY_MS:-0}
repeat_variants=${BENCH_REPEAT_VARIANTS-steady rtp-steady midi2-steady}
repeats=${BENCH_REPEATS:-10}
repeat_seconds=${BENCH_REPEAT_SECONDS:-6}
repeat_rate=${BENCH_REPEAT_RATE:-1000}
spread_goal=${BENCH_SPREAD_GOAL_US:-150}
work=$(mktemp -d "${TMPDIR:-/tmp}/strandlink-bench.XXXXXX")
results=$work/results
: >"$results"
# The choices the program remembers (steady timing's among them) stay in here,
# one directory per path, so that no path starts with another's.
export XDG_CONFIG_HOME=$work/config-none

pids=()
jack_pid=
xvfb_pid=
stop_pids() {
  local pid
  for pid in "$@"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "$@"; do wait "$pid" 2>/dev/null || true; done
}
cleanup() {
  stop_pids "${pids[@]}"
  [ -n "$xvfb_pid" ] && stop_pids "$xvfb_pid"
  [ -n "$jack_pid" ] && stop_pids "$jack_pid"
  rm -rf "$work"
}
trap cleanup EXIT

# One JACK server for everything, with a small period.
jack_server=strandlink-bench-$$
export JACK_DEFAULT_SERVER=$jack_server JACK_NO_AUDIO_RESERVATION=1
jackd -n "$jack_server" -R -S -d dummy -r "$sample_rate" -p "$period" >"$work/jackd.log" 2>&1 &
jack_pid=$!
for _ in $(seq 1 100); do
  jack_wait -c -s "$jack_server" 2>/dev/null | grep -qx running && break
  sleep 0.1
done
if ! jack_wait -c -s "$jack_server" 2>/dev/null | grep -qx running; then
  cat "$work/jackd.log" >&2
  echo "bench: the JACK server did not start" >&2
  exit 1
fi

# The window variants get a real X server when there is one to start.
display_kind=${BENCH_DISPLAY:-$(command -v Xvfb >/dev/null && echo xvfb || echo offscreen)}
if [ "$display_kind" = xvfb ]; then
  exec 5>"$work/display"
  Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  exec 5>&-
  for _ in $(seq 1 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
  done
  [ -s "$work/display" ] || { echo "bench: Xvfb did not start" >&2; exit 1; }
  window_env=(env DISPLAY=":$(head -n1 "$work/display")" QT_QPA_PLATFORM=xcb)
else
  window_env=(env QT_QPA_PLATFORM=offscreen)
fi

udp_drops() { awk '/^Udp: [0-9]/ {print $6}' /proc/net/snmp; }
jack_errors() { grep -c -i 'error' "$work/jackd.log" || true; }

port_a=$((21000 + ($$ % 500) * 8))
port_b=$((port_a + 4))
port_relay=$((port_a + 6))
write_settings() {
  printf '"REMOTEIP:","%s"\r\n"REMOTEPORT:","%s"\r\n"LOCALIP:","127.0.0.1"\r\n"LOCALPORT:","%s"\r\n"MIDIOUT:",0\r\n"MIDIIN:",0\r\n"PRIORITY:",#TRUE#\r\n' \
    "${4-127.0.0.1}" "$2" "$3" >"$work/$1.stn"
}
write_settings A "$port_b" "$port_a"
write_settings B "$port_a" "$port_b"
# A Network MIDI 2.0 host invites no one: B without a remote, A its client.
write_settings B-host "" "$port_b" ""
write_settings A-relay "$port_relay" "$port_a"

# wait_for FILE LINE: until FILE holds LINE (10 s at most).
wait_for() {
  local i
  for ((i = 0; i < 100; i++)); do
    grep -qx -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "bench: no \"$2\" in ${1##*/}" >&2
  return 1
}

# start_variant NAME: starts both sides afresh, waits until both run, and sets
# the probe's port patterns.
start_variant() {
  pids=()
  rm -f "$work/side-A.out" "$work/side-B.out" "$work/relay.out"
  export XDG_CONFIG_HOME=$work/config-$1
  case $1 in
    floor)
      # Strandlink raises itself to nice -10 (its default "High" priority); the floor runs alike.
      nice -n -10 "$bin/strandlink_bench_floor" --name bench-floor-b --listen "$port_b" \
        >"$work/side-B.out" 2>>"$work/errors" &
      pids+=($!)
      nice -n -10 "$bin/strandlink_bench_floor" --name bench-floor-a --send-to "$port_b" --bind "$port_a" \
        >"$work/side-A.out" 2>>"$work/errors" &
      pids+=($!)
      wait_for "$work/side-A.out" ready && wait_for "$work/side-B.out" ready || return 1
      to='^bench-floor-a:in$' from='^bench-floor-b:out$'
      ;;
    headless | steady | rtp | rtp-steady | midi2 | midi2-steady | midi2-relay | midi2-lossy)
      # The window-less program as shipped; "Connected" shows that both sessions run
      # (over RTP-MIDI: the session is up and the clocks compared).
      local timing=immediate protocol=classic started
      [[ $1 == *steady ]] && timing=steady
      [[ $1 == rtp* ]] && protocol=rtp
      [[ $1 == midi2* ]] && protocol=midi2
      started=$(date +%s%N)
      if [[ $1 == midi2-relay || $1 == midi2-lossy ]]; then
        local loss=0
        [ "$1" = midi2-lossy ] && loss=0.05
        python3 bench/lossy_relay.py --listen "$port_relay" --to "$port_b" --loss "$loss" --burst 3 \
          >"$work/relay.out" 2>>"$work/errors" &
        pids+=($!)
        wait_for "$work/relay.out" ready || return 1
      fi
      for side in A B; do
        local file=$side
        [ "$protocol" = midi2 ] && [ "$side" = B ] && file=B-host
        [[ $1 == midi2-relay || $1 == midi2-lossy ]] && [ "$side" = A ] && file=A-relay
        "$build_dir/src/strandlink" --headless --settings "$work/$file.stn" --name "Bench$side" --timing "$timing" \
          --delay "$steady_delay_ms" --protocol "$protocol" \
          </dev/null >"$work/side-$side.out" 2>>"$work/errors" &
        pids+=($!)
      done
      wait_for "$work/side-A.out" Connected && wait_for "$work/side-B.out" Connected || return 1
      echo "$1 $((($(date +%s%N) - started) / 1000000))" >>"$work/connected_after.txt"
      to='^BenchA:in$' from='^BenchB:out$'
      ;;
    window | window-stats)
      local stats=()
      [ "$1" = window-stats ] && stats=(--stats)
      for side in A B; do
        "${window_env[@]}" "$bin/strandlink_bench_window" --settings "$work/$side.stn" --name "Bench$side" \
          "${stats[@]}" >"$work/side-$side.out" 2>>"$work/errors" &
        pids+=($!)
      done
      wait_for "$work/side-A.out" running && wait_for "$work/side-B.out" running || return 1
      to='^BenchA:in$' from='^BenchB:out$'
      ;;
    *)
      echo "bench: unknown variant $1" >&2
      exit 2
      ;;
  esac
}

# The "sent X received Y" line a side printed at its end, as "X Y".
side_counts() { sed -n 's/^sent \([0-9]*\) received \([0-9]*\).*/\1 \2/p' "$work/side-$1.out" 2>/dev/null | tail -n1; }

# measure VARIANT RATE [SECONDS]: one probe run against freshly started sides. Its
# RESULT line goes to the results with the kernel's UDP receive-buffer drops, the JACK
# server's sync errors and the sides' own counters (A's datagrams sent, B's
# received; the window-less program has none). True when all arrived intact.
measure() {
  local udp_before jack_before line a b
  if ! start_variant "$1"; then
    stop_pids "${pids[@]}"
    return 2
  fi
  udp_before=$(udp_drops)
  jack_before=$(jack_errors)
  line=$("$bin/strandlink_bench_probe" --to "$to" --from "$from" --rate "$2" --seconds "${3:-$seconds}" \
    --warmup-ms "$warmup_ms" --label "$1") ||
    line="RESULT label=$1 rate=$2 probe=failed lost=-1"
  line="$line udp_drops=$(($(udp_drops) - udp_before)) jack_sync_errors=$(($(jack_errors) - jack_before))"
  stop_pids "${pids[@]}"
  pids=()
  a=$(side_counts A)
  b=$(side_counts B)
  [ -n "$a" ] && line="$line a_sent=${a% *}"
  [ -n "$b" ] && line="$line b_received=${b#* }"
  # The relay's datagrams, both ways: passed on, and lost on purpose.
  local relay
  relay=$(sed -n 's/^relayed \([0-9]*\) lost \([0-9]*\)$/\1 \2/p' "$work/relay.out" 2>/dev/null)
  [ -n "$relay" ] && line="$line relay_passed=${relay% *} relay_lost=${relay#* }"
  echo "$line" >>"$results"
  echo "  $line" >&2
  intact "$line"
}

# Whether a RESULT line shows every message arriving once and in order.
intact() { [[ $1 == *" lost=0 reordered=0 duplicates=0 strays=0 "* ]]; }

# A loss may be the path's, or a passing hiccup of the machine (a JACK server on a
# busy 2-core machine misses a cycle now and then): a rate of the ladder gets a
# second try. Both tries stay in the raw lines.
measure_twice() { measure "$1" "$2" || measure "$1" "$2"; }

echo "bench: JACK period $period frames at $sample_rate Hz, $seconds s per rate, windows on $display_kind" >&2
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
for variant in $variants; do
  echo "bench: $variant" >&2
  for r in $ladder; do measure_twice "$variant" "$r" || break; done
  # The latency rates that the ladder did not reach.
  for r in $rates; do
    grep -q "label=$variant rate=$r " "$results" || measure_twice "$variant" "$r" || true
  done
done
# The same measurement again and again against sides started afresh: the spread
# of steady timing must hold in every run, not in a lucky one.
repeat_results=$work/repeats
: >"$repeat_results"
for variant in $repeat_variants; do
  echo "bench: $variant, $repeats runs afresh at $repeat_rate/s" >&2
  for ((i = 1; i <= repeats; i++)); do
    results=$repeat_results measure "$variant" "$repeat_rate" "$repeat_seconds" || true
  done
done
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo "bench: the window thread's time per received datagram" >&2
export XDG_CONFIG_HOME=$work/config-receive-cost
: >"$work/receive_cost.txt"
for stats in "" --stats; do
  "${window_env[@]}" "$bin/strandlink_bench_window" --settings "$work/B.stn" --name BenchCost $stats \
    --receive-cost 20000 >>"$work/receive_cost.txt" 2>>"$work/errors" || true
done
echo "bench: per-message cost of each path (bench/path_cost.cpp)" >&2
"$bin/strandlink_bench_path_cost" 200000 >"$work/path_cost.txt" 2>&1 || true
echo "bench: one RTP-MIDI session with 1, 4 and 16 participants (bench/participants_cost.cpp)" >&2
"$bin/strandlink_bench_participants" 2000 3 >"$work/participants.txt" 2>&1 || true

# ---- the report ------------------------------------------------------------------

# Values of a RESULT line by key, for awk.
awk_val='function val(k,   i, kv) { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == k) return kv[2] } return "" }'

cat <<REPORT

## Run of $(date -u '+%Y-%m-%d %H:%M UTC')

- Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(awk '/MemTotal/ {printf "%.0f GB", $2/1048576}' /proc/meminfo), Linux $(uname -r)
- JACK: jackd2 $(dpkg-query -W -f='${Version}' jackd2 2>/dev/null || echo '?'), dummy driver, $sample_rate Hz, $period frames a cycle ($(awk -v p="$period" -v r="$sample_rate" 'BEGIN {printf "%.0f", p * 1e6 / r}') µs), realtime, synchronous
- Network: loopback, in $net_place; windows on $display_kind
- Load average (1, 5, 15 min): $load_before before, $load_after after
- Each run: $seconds s of messages at one rate, against sides started afresh; latency of the messages after a $warmup_ms ms warm-up
- Steady timing's delay: $([ "$steady_delay_ms" = 0 ] && echo "one period (the default)" || echo "$steady_delay_ms ms")

### Latency, MIDI in at A to MIDI out at B (µs)

Spread: the 99th less the 1st percentile, how unevenly the messages are delayed.

| path | rate/s | median | p1 | p99 | spread | max | median ÷ floor | spread ÷ floor | lost | JACK xruns |
|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|
REPORT
# Each path's first intact run at each rate of BENCH_RATES, or its first run when
# neither try was intact (all runs are in the raw lines).
for r in $rates; do
  awk -v r="$r" "$awk_val"'
    function intact() { return val("lost") == "0" && val("reordered") == "0" && val("duplicates") == "0" && val("strays") == "0" }
    $1 == "RESULT" && val("rate") == r {
      l = val("label"); if (!(l in at)) { n++; at[l] = n; label[n] = l } else if (good[l] || !intact()) next
      i = at[l]; good[l] = intact(); med[i] = val("median_us"); p1[i] = val("p1_us"); p99[i] = val("p99_us")
      mx[i] = val("max_us"); lost[i] = val("lost"); xr[i] = val("xruns")
      if (l == "floor") { fm = med[i]; fs = p99[i] - p1[i] } }
    END { for (i = 1; i <= n; i++) {
      sp = p99[i] - p1[i]
      rm = (fm > 0) ? sprintf("%.2f", med[i] / fm) : "-"; rs = (fs > 0) ? sprintf("%.2f", sp / fs) : "-"
      printf "| %s | %d | %d | %d | %d | %d | %d | %s | %s | %d | %d |\n", label[i], r, med[i], p1[i], p99[i], sp, mx[i],
        rm, rs, lost[i], xr[i] } }
  ' "$results"
done

cat <<REPORT

### Highest rate without loss over $seconds s

A rate of the ladder ($ladder) passes when in one of two tries every message
arrives once and in order.

| path | highest lossless rate/s | first rate that failed twice | lost (2nd try) | UDP receive-buffer drops | JACK sync errors |
|---|---:|---:|---:|---:|---:|
REPORT
for variant in $variants; do
  awk -v v="$variant" -v ladder="$ladder" "$awk_val"'
    $1 == "RESULT" && val("label") == v { r = val("rate") + 0; runs[r]++
      if (val("lost") == "0" && val("reordered") == "0" && val("duplicates") == "0" && val("strays") == "0") ok[r] = 1
      lost[r] = val("lost"); drops[r] = val("udp_drops"); sync[r] = val("jack_sync_errors") }
    END { best = 0; fail = 0; n = split(ladder, L, " ")
      for (i = 1; i <= n; i++) { r = L[i] + 0; if (!(r in runs)) break; if (!(r in ok)) { fail = r; break } best = r }
      printf "| %s | %s | %s | %s | %s | %s |\n", v, best ? best : "none", fail ? fail : "none", fail ? lost[fail] : "-",
        fail ? drops[fail] : "-", fail ? sync[fail] : "-" }
  ' "$results"
done

cat <<REPORT

### Start to "Connected" on both sides (ms, polled every 100 ms)

Both copies started at once; over RTP-MIDI this includes the invitation on both
ports and the first clock sync.

| path | runs | median | max |
|---|---:|---:|---:|
$(sort -k1,1 -k2,2n "$work/connected_after.txt" 2>/dev/null | awk '{ v[$1] = v[$1] " " $2; n[$1]++ }
  END { for (p in n) { split(substr(v[p], 2), a, " "); printf "| %s | %d | %d | %d |\n", p, n[p], a[int((n[p] + 1) / 2)], a[n[p]] } }')

### Steady timing in runs afresh ($repeats each, $repeat_rate/s for $repeat_seconds s, latency after the warm-up)

A run meets the goal when its spread (p99 - p1) is at most $spread_goal µs and nothing is lost.

| path | runs | within the goal | spreads (µs), in the order run | medians (µs) | lost | JACK xruns |
|---|---:|---:|---|---|---:|---:|
$(awk -v goal="$spread_goal" "$awk_val"'
  $1 == "RESULT" { l = val("label"); if (!(l in runs)) order[++n] = l; runs[l]++
    sp = val("p99_us") - val("p1_us"); spreads[l] = spreads[l] (runs[l] > 1 ? ", " : "") sp
    medians[l] = medians[l] (runs[l] > 1 ? ", " : "") val("median_us")
    lost[l] += val("lost"); xr[l] += val("xruns"); if (sp <= goal && val("lost") == "0") met[l]++ }
  END { for (i = 1; i <= n; i++) { l = order[i]
    printf "| %s | %d | %d | %s | %s | %d | %d |\n", l, runs[l], met[l], spreads[l], medians[l], lost[l], xr[l] } }
' "$repeat_results")

### The window thread's time per received datagram (strandlink_bench_window --receive-cost)

\`\`\`
$(cat "$work/receive_cost.txt")
\`\`\`

### Per-message cost without an event loop (strandlink_bench_path_cost)

\`\`\`
$(cat "$work/path_cost.txt")
\`\`\`

### One RTP-MIDI session with 1, 4 and 16 participants (strandlink_bench_participants)

\`\`\`
$(cat "$work/participants.txt")
\`\`\`

### Raw probe lines

\`\`\`
$(cat "$results" "$repeat_results")
\`\`\`
REPORT
