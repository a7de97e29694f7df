# Sourced by the shell tests: what they start, stopped in reverse order at the
# end, and waits for a line. The caller sets work (a directory of its own, removed
# at the end) and defines fail WHY.
source "$(dirname "${BASH_SOURCE[0]}")/real_part.sh"

# Names of this run only: runs side by side, or what a killed run left behind,
# never meet. Interface names have at most 15 characters.
run_id=$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')
pids=()      # everything started here, stopped in reverse order at the end
made_ns=()
watchdog=

# Whether a child of ours has ended (a zombie counts: it is only waiting for us).
ended() {
  local state
  state=$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f1)
  [ -z "$state" ] || [ "$state" = Z ]
}

# Stops a child with SIGTERM (SIGKILL after 10 s); returns its exit status.
stop_pid() {
  local pid=$1 i
  kill -TERM "$pid" 2>/dev/null
  for ((i = 0; i < 100; i++)); do
    ended "$pid" && break
    sleep 0.1
  done
  ended "$pid" || kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

cleanup() {
  local rc=$? i
  trap - EXIT INT TERM
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  for ns in "${made_ns[@]}"; do ip netns del "$ns" 2>/dev/null; done
  [ -n "$watchdog" ] && kill "$watchdog" 2>/dev/null && wait "$watchdog" 2>/dev/null
  rm -rf "${work:-}"
  exit "$rc"
}
trap cleanup EXIT

# limit_run SECONDS: a TERM to this script when the time runs out, below the
# test's own timeout, so that its TERM trap can still say where it hung and the
# clean-up still runs. The watchdog's sleep is ended with it, so that nothing of
# ours outlives the run.
limit_run() {
  (
    trap 'kill "$nap" 2>/dev/null; exit 0' TERM
    sleep "$1" &
    nap=$!
    wait "$nap" && kill -TERM $$
  ) >/dev/null 2>&1 &
  watchdog=$!
}

# wait_line FILE LINE SECONDS [SKIP]: until FILE holds the exact line LINE after
# its first SKIP lines; false when the time runs out.
wait_line() {
  local file=$1 line=$2 end=$((SECONDS + $3)) skip=${4:-0}
  until tail -n "+$((skip + 1))" "$file" 2>/dev/null | grep -qxF -- "$line"; do
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
}
