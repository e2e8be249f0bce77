#!/usr/bin/env bash
# Checks that each program given was built with Debian's hardening flags, from
# what readelf shows of it:
#   PIE                       ELF type DYN with the PIE flag
#   full RELRO                a GNU_RELRO segment and immediate binding (BIND_NOW)
#   stack protector           a call into __stack_chk_fail
#   _FORTIFY_SOURCE           glibc's checked functions (__*_chk) in use
#   hardening-check.sh PROGRAM...
set -uo pipefail
(($#)) || { echo "usage: hardening-check.sh PROGRAM..." >&2; exit 2; }
command -v readelf >/dev/null || { echo "SKIPPED: readelf (binutils) is missing"; exit 77; }

failures=0
for prog in "$@"; do
  missing=()
  header="$(readelf -hW "$prog" 2>&1)" || { echo "FAIL: $prog: $header"; failures=$((failures + 1)); continue; }
  dynamic="$(readelf -dW "$prog")"
  segments="$(readelf -lW "$prog")"
  symbols="$(readelf --dyn-syms -W "$prog" | awk '$7 == "UND" {print $8}')"
  grep -q 'Type: *DYN' <<<"$header" && grep -q 'FLAGS_1.*PIE' <<<"$dynamic" || missing+=(PIE)
  grep -q 'GNU_RELRO' <<<"$segments" || missing+=(RELRO)
  grep -Eq '\(FLAGS\).*BIND_NOW|FLAGS_1.*NOW' <<<"$dynamic" || missing+=("immediate binding")
  grep -q '^__stack_chk_fail' <<<"$symbols" || missing+=("stack protector")
  # No pipe into grep -q: its early exit would fail the pipeline under pipefail.
  checked="$(grep -v '^__stack_chk_fail' <<<"$symbols")"
  grep -Eq '^__[a-z0-9_]+_chk(@|$)' <<<"$checked" || missing+=(_FORTIFY_SOURCE)
  if ((${#missing[@]})); then
    echo "FAIL: $(basename "$prog"): no ${missing[*]}"
    failures=$((failures + 1))
  else
    echo "ok: $(basename "$prog"): PIE, full RELRO, stack protector, fortified functions"
  fi
done
((failures == 0))
