#!/usr/bin/env bash
# What a login means with attachments kept, through the shipped lighttpd FastCGI fragment with
# four processes and steady traffic of one user: a /usermanager change or deletion served by one
# process holds in all four at once; a password, grant or revoke changed outside this server
# holds once the administrator changes the drop file, and without it within
# KeepAttachmentsMaxSeconds, however busy the processes.
#   kept_attachments_check.sh SERVER_BINARY
# Needs the test environment (KVO_FB_PORT, KVO_FB_USER, KVO_FB_PASSWORD, KVO_FB_DATADIR,
# FIREBIRD); skips (exit 77) without it, unless KVO_REQUIRE_SERVICES=1.
set -uo pipefail
KVO_REPO_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$KVO_REPO_ROOT/scripts/lib/services.sh"
binary=$1

. "$KVO_REPO_ROOT/scripts/lib/checks.sh"
check_needs_firebird
command -v lighttpd >/dev/null || check_skip "lighttpd is missing"

work=$(mktemp -d /tmp/kvo-kept.XXXXXX)
chmod 755 "$work"
user=KVOKEPT$$
db=$KVO_FB_DATADIR/kept_$$.fdb
traffic=
sql() {
  isql-fb -q -user "$KVO_FB_USER" -password "$KVO_FB_PASSWORD" "$@" >/dev/null 2>&1
}
cleanup() {
  [[ -n $traffic ]] && kill "$traffic" 2>/dev/null && wait "$traffic" 2>/dev/null
  [[ -f $work/lighttpd.pid ]] && svc_stop_pidfile "$work/lighttpd.pid"
  echo "drop user $user; commit;" | sql "localhost/$KVO_FB_PORT:$db"
  echo "alter database set linger to 0; commit; drop database;" | sql "localhost/$KVO_FB_PORT:$db"
  rm -rf "$work"
}
trap cleanup EXIT


sql <<SQL
create database 'localhost/$KVO_FB_PORT:$db';
create table t (a integer);
insert into t values (7);
create user $user password 'first1';
grant select on t to $user;
commit;
alter database set linger to 60;
commit;
SQL

drives=$work/drives
mkdir -p "$work/cgi" "$work/www" "$work/log" "$work/upload" "$work/fcgi" \
  "$drives/C/KVO/KVO.Net/Config" "$drives/C/KVO/KVO.Net/Logs"
printf '[Server]\r\nKeepAttachmentsSeconds=60\r\nKeepAttachmentsMaxSeconds=3\r\n' \
  >"$drives/C/KVO/KVO.Net/Config/KVO.Server.Config"
dropfile=$drives/C/KVO/KVO.Net/Logs/KeptAttachments.Drop
http_link_binary "$work/cgi" "$binary"
cp "$KVO_REPO_ROOT/deploy/lighttpd/remote-host.lua" "$work/remote-host.lua"
http_write_fastcgi_fragment "$work/kvo.conf" /kvo "$work/cgi" "$work/fcgi" "$drives" \
  "$FIREBIRD" "$work/remote-host.lua" 4
http_serve_fragment "$work" "$work/kvo.conf"
url=http://127.0.0.1:$port/kvo/kvowebserver.exe

# query PASSWORD: one /sql of the user; prints "row", "refused" (login), "denied" (no
# permission) or what else came.
query() {
  local body
  body=$(curl -s -m 20 -d "db=localhost/$KVO_FB_PORT:$db&u=$user&p=$1&q=select a from t&z=false" \
    "$url/sql")
  case $body in
    *'<ROW A="7"/>'*) echo row ;;
    # A login beyond the host's login slots fails at once, as a refused one does.
    *'user name and password are not defined'* | *'Too many logins in progress'*) echo refused ;;
    *'no permission'*) echo denied ;;
    *) echo "other: ${body:0:200}" ;;
  esac
}
# burst PASSWORD: eight at once, more than the processes; prints the sorted, counted answers.
burst() {
  local i
  for ((i = 0; i < 8; i++)); do query "$1" & done | sort | uniq -c | tr -s ' ' | tr '\n' ';'
}
manage() {
  curl -s -m 20 -d "o=$1&u=$KVO_FB_USER&p=$KVO_FB_PASSWORD&username=$user&password=$2" \
    "$url/usermanager"
}
# Steady traffic with PASSWORD, four at a time every 100 ms, until killed: every process keeps
# an attachment of the user and uses it again and again.
steady() {
  [[ -n $traffic ]] && kill "$traffic" 2>/dev/null && wait "$traffic" 2>/dev/null
  (
    while :; do
      for ((i = 0; i < 4; i++)); do query "$1" >/dev/null & done
      wait
      sleep 0.1
    done
  ) &
  traffic=$!
  sleep 1.5
}

# /usermanager through one process holds in all four at once.
steady first1
result=$(burst first1)
check "before: every process answers the user ($result)" $([[ $result == ' 8 row;' ]] && echo 1 || echo 0)
[[ $(manage upd second2) != Erro* ]] || echo "upd failed"
result=$(burst first1)
check "after /usermanager upd, the old password is refused by every process ($result)" \
  $([[ $result == ' 8 refused;' ]] && echo 1 || echo 0)
steady second2
result=$(burst second2)
check "the new password is served ($result)" $([[ $result == ' 8 row;' ]] && echo 1 || echo 0)

# A revoke outside this server: seen once the administrator changes the drop file.
echo "revoke select on t from $user; commit;" | sql "localhost/$KVO_FB_PORT:$db"
touch "$dropfile"
result=$(burst second2)
check "a revoke holds at once after the drop file changed ($result)" \
  $([[ $result == ' 8 denied;' ]] && echo 1 || echo 0)

# A grant and a password change outside, nobody touching the drop file: within the lifetime.
echo "grant select on t to $user; commit;" | sql "localhost/$KVO_FB_PORT:$db"
steady second2
sleep 3.5
result=$(burst second2)
check "a grant holds within KeepAttachmentsMaxSeconds under steady traffic ($result)" \
  $([[ $result == ' 8 row;' ]] && echo 1 || echo 0)
echo "alter user $user password 'third3'; commit;" | sql "localhost/$KVO_FB_PORT:$db"
steady third3
sleep 2
result=$(burst second2)
check "a password changed outside holds within KeepAttachmentsMaxSeconds under steady traffic ($result)" \
  $([[ $result == ' 8 refused;' ]] && echo 1 || echo 0)

# /usermanager del through one process holds in all four at once.
[[ $(manage del "") != Erro* ]] || echo "del failed"
result=$(burst third3)
check "after /usermanager del, every process refuses the user ($result)" \
  $([[ $result == ' 8 refused;' ]] && echo 1 || echo 0)

[[ $failures == 0 ]]
