# Sourced by the shell tests that run two hosts: two network namespaces joined by
# a veth pair and a JACK server of its own name on demand, besides what
# children.sh gives.
source "$(dirname "${BASH_SOURCE[0]}")/children.sh"

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
