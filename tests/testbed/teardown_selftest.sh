#!/usr/bin/env bash
# Checks that the runner leaves nothing behind, and that it reports what a command leaves:
# a pinned neighbour entry, a static host route, a process in a namespace.
set -uo pipefail
runner="$1"
sim="$2"
[[ $(id -u) -eq 0 ]] || { echo "SKIP: needs root"; exit 77; }
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
fail() { echo "FAIL: $*"; cat "$out"; exit 1; }

# 1. A clean run: its namespaces and simulators are gone afterwards.
"$runner" run --sim "$sim" -- sh -c 'echo "$TVX_BED_PREFIX"; cat "$TVX_BED_INFO" >/dev/null' >"$out" 2>&1
rc=$?
[[ $rc -eq 77 ]] && { cat "$out"; exit 77; }
[[ $rc -eq 0 ]] || fail "clean run exited $rc"
prefix="$(head -1 "$out")"
[[ $prefix == tvxbed-* ]] || fail "no prefix printed"
ip netns list | grep -q "^$prefix-" && fail "namespaces of $prefix left"
pgrep -f "$prefix" >/dev/null && fail "processes of $prefix left"

# 2. The command's exit status comes through.
"$runner" run --sim "$sim" -- sh -c 'exit 3' >"$out" 2>&1
[[ $? -eq 3 ]] || fail "exit status not passed through"

# 3. Leftovers are reported and fail the run, and are still removed.
"$runner" run --sim "$sim" -- sh -c '
    echo "$TVX_BED_PREFIX"
    ip neigh replace 203.0.113.13 lladdr 02:54:58:01:00:03 dev lan1 nud permanent
    ip route add 203.0.113.13/32 dev lan1 scope link proto static
    sleep 300 &' >"$out" 2>&1
rc=$?
[[ $rc -eq 1 ]] || fail "leftovers did not fail the run (exit $rc)"
grep -q "LEFT BEHIND: permanent neighbour" "$out" || fail "neighbour entry not reported"
grep -q "LEFT BEHIND: static routes" "$out" || fail "route not reported"
# On a loaded machine the command's shell may still be there beside its sleep: either
# is the process left behind.
grep -q "LEFT BEHIND: process [0-9]* (s" "$out" || fail "process not reported"
prefix="$(head -1 "$out")"
ip netns list | grep -q "^$prefix-" && fail "namespaces of $prefix left"

# 4. A command that outlives the runner's time limit is stopped and the bed removed.
"$runner" run --sim "$sim" --timeout 1 -- sh -c 'echo "$TVX_BED_PREFIX"; sleep 30' >"$out" 2>&1
[[ $? -eq 124 ]] || fail "time limit not applied"
prefix="$(head -1 "$out")"
ip netns list | grep -q "^$prefix-" && fail "namespaces of $prefix left after the time limit"
echo "PASS: 4 runs, nothing left behind"
