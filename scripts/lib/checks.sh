# Shared by the shell checks that ctest runs against the test environment's services: skipping
# when they are missing, and counting failed checks. Source from bash.

# check_skip REASON: exit 77 (ctest's skip), or fail when KVO_REQUIRE_SERVICES is set.
check_skip() {
  echo "skipped: $*"
  [[ -n ${KVO_REQUIRE_SERVICES:-} ]] && exit 1
  exit 77
}

# check_needs_firebird: skips unless the private Firebird server's variables are set.
check_needs_firebird() {
  local v
  for v in KVO_FB_PORT KVO_FB_USER KVO_FB_PASSWORD KVO_FB_DATADIR FIREBIRD; do
    [[ -n ${!v:-} ]] || check_skip "$v is not set"
  done
}

# check WHAT OK: prints "ok: WHAT" when OK is 1, else "FAILED: WHAT" and counts it in failures.
failures=0
check() {
  if [[ $2 == 1 ]]; then echo "ok: $1"; else
    echo "FAILED: $1"
    failures=$((failures + 1))
  fi
}
