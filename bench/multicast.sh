#!/usr/bin/env bash
# Measures the multicast path beside qmidinet, in one run on one JACK server:
# loss, order, median and 99th percentile at BENCH_RATES messages a second, with
# the classic path as the yardstick for the median. Prints a report in Markdown
# on standard output (progress on standard error).
#
#   classic           two window-less copies linked on loopback (the yardstick)
#   multicast         two window-less copies in one group (--protocol multicast)
#   us-to-qmidinet    our copy's input, through the group, out of qmidinet
#   qmidinet-to-us    qmidinet's input, through the group, out of our copy
#
# qmidinet turns multicast loopback off, so it runs in a network namespace of its
# own, joined to ours by a veth pair; our copies run in another. Needs root and
# qmidinet. The same probe as bench/run.sh (bench/probe.cpp) measures every path.
#
# Usage: bench/multicast.sh
# Environment: STRANDLINK_BUILD_DIR [build-bench], BENCH_PERIOD [32],
# BENCH_SAMPLE_RATE [48000], BENCH_SECONDS [5], BENCH_RATES [1000 10000],
# BENCH_WARMUP_MS [1000].
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${STRANDLINK_BUILD_DIR:-build-bench}
period=${BENCH_PERIOD:-32}
sample_rate=${BENCH_SAMPLE_RATE:-48000}
seconds=${BENCH_SECONDS:-5}
rates=${BENCH_RATES:-1000 10000}
warmup_ms=${BENCH_WARMUP_MS:-1000}

[ "$(id -u)" -eq 0 ] || { echo "bench: network namespaces need root" >&2; exit 1; }
command -v qmidinet >/dev/null || { echo "bench: qmidinet is not installed" >&2; exit 1; }
cmake -S . -B "$build_dir" -DSTRANDLINK_BUILD_BENCH=ON >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)" --target strandlink strandlink_bench_probe >/dev/null
strandlink=$build_dir/src/strandlink
probe=$build_dir/bench/strandlink_bench_probe

work=$(mktemp -d "${TMPDIR:-/tmp}/strandlink-mbench.XXXXXX")
nsS=strandlink-mb-$$-s nsQ=strandlink-mb-$$-q
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  ip netns del "$nsS" 2>/dev/null || true
  ip netns del "$nsQ" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

ip netns add "$nsS" && ip netns add "$nsQ"
ip link add mbs$$ netns "$nsS" type veth peer name mbq$$ netns "$nsQ"
for side in "$nsS 10.205.0.2 mbs$$" "$nsQ 10.205.0.1 mbq$$"; do
  set -- $side
  ip -n "$1" link set lo up
  ip -n "$1" addr add "$2/24" dev "$3"
  ip -n "$1" link set "$3" up
  ip -n "$1" route add 224.0.0.0/4 dev "$3"
done

export JACK_DEFAULT_SERVER=strandlink-mbench-$$ JACK_NO_AUDIO_RESERVATION=1
jackd -n "$JACK_DEFAULT_SERVER" -R -S -d dummy -r "$sample_rate" -p "$period" >"$work/jackd.log" 2>&1 &
pids+=($!)
until jack_wait -c -s "$JACK_DEFAULT_SERVER" 2>/dev/null | grep -qx running; do sleep 0.1; done

# ours NAME ARGS...: a window-less copy in our namespace, remembering in a place of its own.
ours() {
  local name=$1
  shift
  ip netns exec "$nsS" env XDG_CONFIG_HOME="$work/config-$name" "$strandlink" --headless --name "$name" \
    --input 0 --output 0 "$@" </dev/null >"$work/$name.out" 2>>"$work/errors" &
  pids+=($!)
}
wait_port() {
  local i
  for ((i = 0; i < 150; i++)); do
    jack_lsp 2>/dev/null | grep -qx "$1" && return 0
    sleep 0.1
  done
  echo "bench: no JACK port $1" >&2
  exit 1
}

# The classic pair on loopback; a group of two on a port of its own, so that
# qmidinet does not hear it; our member of qmidinet's group on the veth.
ours ClassicA --local 127.0.0.1:21500 --remote 127.0.0.1:21510 --protocol classic
ours ClassicB --local 127.0.0.1:21510 --remote 127.0.0.1:21500 --protocol classic
ours GroupA --protocol multicast --remote 225.0.0.37:21940 --local 10.205.0.2
ours GroupB --protocol multicast --remote 225.0.0.37:21940 --local 10.205.0.2
ours Ours --protocol multicast --remote 225.0.0.37:21928 --local 10.205.0.2
ip netns exec "$nsQ" env QT_QPA_PLATFORM=offscreen HOME="$work/qmidinet-home" \
  qmidinet --no-gui --alsa-midi off --jack-midi on --interface "mbq$$" >"$work/qmidinet.log" 2>&1 </dev/null &
pids+=($!)
for port in ClassicA:in ClassicB:out GroupA:in GroupB:out Ours:in Ours:out QmidiNet:in_1 QmidiNet:out_1; do
  wait_port "$port"
done

paths=("classic ^ClassicA:in$ ^ClassicB:out$" "multicast ^GroupA:in$ ^GroupB:out$"
  "us-to-qmidinet ^Ours:in$ ^QmidiNet:out_1$" "qmidinet-to-us ^QmidiNet:in_1$ ^Ours:out$")
: >"$work/results"
for r in $rates; do
  for p in "${paths[@]}"; do
    set -- $p
    echo "bench: $1 at $r/s" >&2
    "$probe" --to "$2" --from "$3" --rate "$r" --seconds "$seconds" --warmup-ms "$warmup_ms" --label "$1" \
      >>"$work/results" 2>>"$work/errors" || echo "RESULT label=$1 rate=$r probe=failed" >>"$work/results"
  done
done

cat <<REPORT

## Multicast beside qmidinet, $(date -u '+%Y-%m-%d %H:%M UTC')

- Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'); load average $(cut -d' ' -f1-3 /proc/loadavg)
- JACK: dummy driver, $sample_rate Hz, $period frames a cycle; qmidinet $(dpkg-query -W -f='${Version}' qmidinet 2>/dev/null || echo '?')
- Each run: $seconds s at one rate; latency (µs, MIDI in to MIDI out) of the messages after a $warmup_ms ms warm-up

| path | rate/s | sent | lost | reordered | median | p99 | median ÷ classic |
|---|---:|---:|---:|---:|---:|---:|---:|
REPORT
awk 'function val(k,   i, kv) { for (i = 2; i <= NF; i++) { split($i, kv, "="); if (kv[1] == k) return kv[2] } return "-" }
  $1 == "RESULT" { l = val("label"); r = val("rate"); m = val("median_us")
    if (l == "classic") base[r] = m
    ratio = (base[r] > 0 && m != "-") ? sprintf("%.2f", m / base[r]) : "-"
    printf "| %s | %s | %s | %s | %s | %s | %s | %s |\n", l, r, val("sent"), val("lost"), val("reordered"), m, val("p99_us"), ratio }' \
  "$work/results"
cat <<REPORT

Where a loss on a qmidinet path lies: the UDP receive-buffer drops in our host over the whole run
($(ip netns exec "$nsS" awk '/^Udp: [0-9]/ {print $6}' /proc/net/snmp)), and our member's last figures line
(what it heard from qmidinet and dropped as garbage):

\`\`\`
$(grep '^Link:' "$work/Ours.out" | tail -n 1)
\`\`\`
REPORT
echo
echo '```'
cat "$work/results"
[ -s "$work/errors" ] && { echo "--- errors"; cat "$work/errors"; }
echo '```'
