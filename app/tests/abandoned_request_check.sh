#!/usr/bin/env bash
# Work whose answer can no longer be delivered never commits. Through lighttpd in both modes, a
# /sql updates one row and then waits for a row lock another connection holds, so that it
# provably runs on after the web server gave up on it:
#   - lighttpd's read timeout (shortened to 2 s) answers 504; then the lock goes and the request
#     runs to its end; a second request queued behind it (FastCGI: one process) is answered 504
#     too and is served after the first;
#   - lighttpd is stopped while the request waits.
# In every case neither row is changed afterwards, and in FastCGI mode the statement log names
# the reason.
#   abandoned_request_check.sh SERVER_BINARY
# Needs the test environment (KVO_FB_PORT, KVO_FB_USER, KVO_FB_PASSWORD, KVO_FB_DATADIR,
# FIREBIRD); skips (exit 77) without it, unless KVO_REQUIRE_SERVICES=1.
set -uo pipefail
KVO_REPO_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$KVO_REPO_ROOT/scripts/lib/services.sh"
binary=$1

. "$KVO_REPO_ROOT/scripts/lib/checks.sh"
check_needs_firebird
command -v lighttpd >/dev/null || check_skip "lighttpd is missing"

work=$(mktemp -d /tmp/kvo-abandoned.XXXXXX)
chmod 755 "$work"
db=$KVO_FB_DATADIR/abandoned_$$.fdb
dsn=localhost/$KVO_FB_PORT:$db
holder=
sql() {
  isql-fb -q -user "$KVO_FB_USER" -password "$KVO_FB_PASSWORD" "$dsn" "$@" 2>&1
}
stop_lighttpd() {
  [[ -f $work/lighttpd.pid ]] && svc_stop_pidfile "$work/lighttpd.pid"
  rm -f "$work/lighttpd.pid"
}
release_lock() {
  if [[ -n $holder ]]; then
    echo "rollback;" >&7
    exec 7>&-
    wait "$holder" 2>/dev/null
    holder=
  fi
}
cleanup() {
  release_lock
  stop_lighttpd
  jobs -p | xargs -r kill 2>/dev/null
  echo "alter database set linger to 0; commit; drop database;" | sql >/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

yes_if() { "$@" && echo 1 || echo 0; }
is() { [[ $1 == "$2" ]]; }

isql-fb -q -user "$KVO_FB_USER" -password "$KVO_FB_PASSWORD" >/dev/null 2>&1 <<SQL || check_skip "cannot create $db"
create database '$dsn';
create table t (id integer not null primary key, a integer);
insert into t values (1, 0);
insert into t values (2, 0);
commit;
alter database set linger to 60;
commit;
SQL

drives=$work/drives
logfile=$drives/C/KVO/KVO.Net/Logs/Log.txt
mkdir -p "$work/cgi" "$work/www" "$work/log" "$work/upload" "$work/fcgi" \
  "$drives/C/KVO/KVO.Net/Config" "$drives/C/KVO/KVO.Net/Logs"
http_link_binary "$work/cgi" "$binary"
cp "$KVO_REPO_ROOT/deploy/lighttpd/remote-host.lua" "$work/remote-host.lua"

# start_lighttpd MODE: the shipped fragment of MODE (cgi or fastcgi, one process) with its read
# timeout at 2 s.
start_lighttpd() {
  if [[ $1 == cgi ]]; then
    http_write_fragment "$work/kvo.conf" "$work/cgi" "$drives" "$FIREBIRD" "$work/remote-host.lua"
  else
    http_write_fastcgi_fragment "$work/kvo.conf" /kvo "$work/cgi" "$work/fcgi" "$drives" \
      "$FIREBIRD" "$work/remote-host.lua" 1
  fi
  grep -q '"read-timeout" => 300' "$work/kvo.conf" || { echo "no read timeout of 300 s to shorten"; return 1; }
  sed -i 's/"read-timeout" => 300/"read-timeout" => 2/' "$work/kvo.conf"
  http_serve_fragment "$work" "$work/kvo.conf" || return 1
  url=http://127.0.0.1:$port/kvo/kvowebserver.exe
}

# A second connection holds the lock of row 2 until release_lock.
hold_lock() {
  mkfifo "$work/holder.in"
  isql-fb -q -user "$KVO_FB_USER" -password "$KVO_FB_PASSWORD" "$dsn" \
    <"$work/holder.in" >"$work/holder.out" 2>&1 &
  holder=$!
  exec 7>"$work/holder.in"
  rm -f "$work/holder.in"
  echo "update t set a = 9 where id = 2;" >&7
}
# locked ID: true while another transaction holds row ID.
locked() {
  local out
  out=$(sql <<<"set transaction read committed no wait; update t set a = a where id = $1; rollback;")
  [[ $out == *deadlock* || $out == *'lock conflict'* ]]
}
# wait_until SECONDS COMMAND...: true once COMMAND succeeds, false after SECONDS.
wait_until() {
  local limit=$(($1 * 10)) i
  shift
  for ((i = 0; i < limit; i++)); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}
unlocked() { ! locked "$1"; }
rows() { sql <<<"select id, a from t order by id;" | awk 'NF == 2 && $1 ~ /^[0-9]+$/ { printf "%s=%s ", $1, $2 }'; }
post() {
  curl -s -o /dev/null -w '%{http_code}' -m 60 --data-urlencode "db=$dsn" \
    --data-urlencode "u=$KVO_FB_USER" --data-urlencode "p=$KVO_FB_PASSWORD" \
    --data-urlencode "z=false" --data-urlencode "q=$1" "$url/sql"
}
logged() { grep -q 'update t set a = 1 where id = 1' "$logfile" && grep -q 'no longer waits' "$logfile"; }
update='execute block as begin update t set a = 1 where id = 1; update t set a = 5 where id = 2; end'

for mode in cgi fastcgi; do
  for cause in timeout stop; do
    : >"$logfile"
    start_lighttpd "$mode" || { check "$mode: lighttpd starts" 0; continue; }
    hold_lock
    wait_until 10 locked 2 || echo "the lock of row 2 is not held"
    post "$update" >"$work/first.status" &
    first=$!
    # The request has updated row 1 and waits for row 2.
    wait_until 10 locked 1
    check "$mode, $cause: the request runs and waits for the lock" $(yes_if locked 1)
    if [[ $cause == timeout ]]; then
      second=
      if [[ $mode == fastcgi ]]; then
        post "insert into t values (3, 3)" >"$work/second.status" &
        second=$!
      fi
      wait "$first"
      check "$mode, timeout: the caller is answered 504 ($(<"$work/first.status"))" \
        $(yes_if is "$(<"$work/first.status")" 504)
      if [[ -n $second ]]; then
        wait "$second"
        check "$mode, timeout: the queued insert is answered 504 ($(<"$work/second.status"))" \
          $(yes_if is "$(<"$work/second.status")" 504)
      fi
    else
      stop_lighttpd
      wait "$first"
    fi
    # The request goes on to its end once the lock goes.
    release_lock
    # Done when its transaction has ended and, in FastCGI mode, its log is written (for both
    # requests after a timeout: the queued insert is served after the first, and refused).
    expected=1
    [[ $mode == fastcgi && $cause == timeout ]] && expected=2
    [[ $mode == cgi ]] && expected=0
    finished() { unlocked 1 && (($(grep -c 'no longer waits' "$logfile") >= expected)); }
    wait_until 20 finished
    state=$(rows)
    check "$mode, $cause: nothing was committed ($state)" $(yes_if is "$state" '1=0 2=0 ')
    if [[ $mode == fastcgi ]]; then
      check "$mode, $cause: the statement log has the statement and the reason" $(yes_if logged)
    fi
    stop_lighttpd
    sql <<<"update t set a = 0; delete from t where id > 2; commit;" >/dev/null
  done
done

[[ $failures == 0 ]]
