# Sourced by the shell tests that run two hosts: two network namespaces joined by
# a veth pair, a JACK server of its own name on demand, and everything started
# here stopped in reverse order at the end. The caller sets work (a directory of
# its own, removed at the end) and defines fail WHY.
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

# join_hosts NS DEV ADDR NS DEV ADDR [ROUTE]: the two namespaces, joined by a veth
# pair with these ends and addresses (a /24); ROUTE, if given, through the veth.
join_hosts() {
  local ns dev addr err i a=("$@")
  for ns in "$1" "$4"; do
    if ! err=$(ip netns add "$ns" 2>&1); then
      [ ${#made_ns[@]} -eq 0 ] && missing "network namespaces cannot be made here: $err"
      fail "could not make the second namespace: $err"
    fi
    made_ns+=("$ns")
  done
  ip link add "$2" netns "$1" type veth peer name "$5" netns "$4" || fail "could not make the veth pair"
  for i in 0 3; do
    ns=${a[i]} dev=${a[i + 1]} addr=${a[i + 2]}
    ip -n "$ns" link set lo up && ip -n "$ns" addr add "$addr/24" dev "$dev" && ip -n "$ns" link set "$dev" up &&
      { [ -z "${7:-}" ] || ip -n "$ns" route add "$7" dev "$dev"; } || fail "could not set up $ns"
  done
}

# start_jack SERVER LOG [PREFIX...]: a JACK server of that name (dummy driver), run
# through PREFIX, and waited for. The namespaces share the file system, where
# JACK's sockets live, so each server just has a name of its own.
start_jack() {
  local server=$1 log=$2 end=$((SECONDS + 15))
  shift 2
  "$@" jackd -n "$server" -S -d dummy -r 48000 -p 128 >"$log" 2>&1 </dev/null 7>&- 8>&- &
  pids+=($!)
  until jack_wait -c -s "$server" 2>/dev/null | grep -qx running; do
    ((SECONDS < end)) || fail "the JACK server $server does not answer"
    sleep 0.1
  done
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
