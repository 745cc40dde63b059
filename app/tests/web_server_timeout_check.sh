#!/usr/bin/env bash
# The shipped lighttpd configuration ends a program that stays silent past its read timeout:
# the caller gets 504 and the program's process is gone. The test runs the shipped fragment with
# the timeout shortened from its default (300 s) to 2 s, and a program that never answers.
set -u
KVO_REPO_ROOT=$(cd "$(dirname "$0")/../.." && pwd)
. "$KVO_REPO_ROOT/scripts/lib/services.sh"

command -v lighttpd >/dev/null || { echo "lighttpd is not installed"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

dir=$(mktemp -d)
pid_lighttpd=
cleanup() {
  [[ -n $pid_lighttpd ]] && svc_stop_pidfile "$dir/lighttpd.pid"
  [[ -s $dir/program.pid ]] && svc_alive "$(<"$dir/program.pid")" && kill -KILL "$(<"$dir/program.pid")"
  rm -rf "$dir"
}
trap cleanup EXIT
mkdir -p "$dir/cgi" "$dir/www" "$dir/log" "$dir/upload"

fragment=$dir/kvowebserver.conf
http_write_fragment "$fragment" "$dir/cgi" "$dir/drives" "$dir" \
  "$KVO_REPO_ROOT/deploy/lighttpd/remote-host.lua"
grep -q '"read-timeout" => 300' "$fragment" || fail "the shipped read timeout is not 300 s"
sed -i 's/"read-timeout" => 300/"read-timeout" => 2/' "$fragment"

cat >"$dir/cgi/silent.exe" <<SH
#!/bin/sh
echo \$\$ >"$dir/program.pid"
exec sleep 60
SH
chmod +x "$dir/cgi/silent.exe"

port=$(svc_free_port)
cat >"$dir/lighttpd.conf" <<CONF
server.document-root = "$dir/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$dir/log/error.log"
server.upload-dirs = ( "$dir/upload" )
include "$fragment"
CONF
lighttpd -tt -f "$dir/lighttpd.conf" || fail "lighttpd refuses the configuration"
svc_spawn "$dir/lighttpd.pid" "$dir/log/stdout.log" lighttpd -D -f "$dir/lighttpd.conf"
pid_lighttpd=$(<"$dir/lighttpd.pid")
for ((i = 0; i < 50; i++)); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  sleep 0.1
done

start=$(date +%s%N)
status=$(curl -s -o /dev/null -w '%{http_code}' --max-time 30 "http://127.0.0.1:$port/kvo/silent.exe")
elapsed_ms=$((($(date +%s%N) - start) / 1000000))
[[ $status == 504 ]] || fail "status $status after ${elapsed_ms} ms, expected 504"
((elapsed_ms >= 1500 && elapsed_ms < 10000)) || fail "504 after ${elapsed_ms} ms, expected ~2 s"
[[ -s $dir/program.pid ]] || fail "the program did not start"
program=$(<"$dir/program.pid")
for ((i = 0; i < 30; i++)); do
  svc_alive "$program" || break
  sleep 0.1
done
svc_alive "$program" && fail "the silent program still runs after the timeout"
echo "504 after ${elapsed_ms} ms; the program ended"
