# scripts/serve run the way the README tells a new user to: on a fresh state folder in CGI mode
# and in FastCGI mode, then once more over the state a first run left, on another port. Each run
# is started in a process group of its own, waited for until it prints its banner, sent the
# README's example requests, and stopped as Ctrl-C stops it (SIGINT to the group); then every
# process it started must be gone. Source from bash after build.sh and services.sh.
#
# kvo_serve_check BUILD_DIR: serves BUILD_DIR's program as it is (no second build), from a copy
# under world-readable folders: as root the demo's services run as other users, who must reach
# the program and the state folder, and a clone's own folder may be private.

serve_log() { echo "[serve] $*" >&2; }

# serve_expect NAME CONDITION-EXIT-STATUS DETAIL: reports a failed condition.
serve_expect() {
  [[ $2 == 0 ]] && return 0
  serve_log "$1: ${3:0:600}"
  return 1
}

# serve_processes STATE: the processes that a demo on STATE started, by the state folder in
# their environment or command line (KVO_SERVE_DIR, FIREBIRD, the configuration's path), one
# "pid command" a line.
serve_processes() {
  local proc
  for proc in /proc/[0-9]*; do
    if grep -qzF "$1" "$proc/environ" "$proc/cmdline" 2>/dev/null; then
      echo "${proc#/proc/} $(tr '\0' ' ' <"$proc/cmdline" 2>/dev/null)"
    fi
  done
}

# serve_modes STATE: the owners and modes of the installation's private parts, as the Debian
# package sets them (or closer). Only as root: then the demo runs its services as their own
# users (a plain user runs everything as itself, and its Firebird data folder stays shared).
serve_modes() {
  [[ $(id -u) -eq 0 ]] || return 0
  local drives=$1/drives failed=0 mode owner path got group
  group=$(id -gn kvoweb)
  while read -r mode owner path; do
    got=$(stat -c '%a %U:%G' "$path" 2>/dev/null)
    [[ $got == "$mode $owner" ]]
    serve_expect "$path: expected $mode $owner" $? "$got" || failed=1
  done <<LIST
640 root:$group $drives/C/KVO/KVO.Net/Config/KVO.Intranet.Config
1775 root:$group $drives/C/KVO/KVO.Net/Config
750 kvoweb:$group $drives/C/KVO/KVO.Net/Logs
750 firebird:firebird $1/fb/data
755 root:root $drives/C
644 kvoweb:$group $drives/C/tabela.txt
LIST
  return $failed
}

# serve_requests URL PORT BUILD_DIR STATE: the README's example requests and what they answer.
serve_requests() {
  local url=$1/ikvowebserver.dll port=$2 build=$3 drives=$4/drives failed=0 out
  # /script answers 200 with an empty body.
  out=$(curl -s -i "$url/script" | tr -d '\r'; echo .)
  [[ $out == 'HTTP/1.1 200 OK'$'\n'* && ${out#*$'\n\n'} == . ]]
  serve_expect "/script: expected 200 with an empty body" $? "$out" || failed=1
  out=$(curl -s -d 'db=kvodemo&u=DEMO&p=demo' "$url/login")
  [[ $out == true ]]
  serve_expect "/login: expected true" $? "$out" || failed=1
  out=$(curl -s -d 'db=kvodemo&u=DEMO&p=wrong' "$url/login")
  [[ $out == false ]]
  serve_expect "/login with a wrong password: expected false" $? "$out" || failed=1
  out=$(curl -s -d 'db=kvodemo&u=DEMO&p=demo&q=select first 5 * from clientes' "$url/sql")
  [[ $out == *'NOME="Cliente 1"'* && $out == *'NOME="Cliente 5 S'* &&
    $(grep -o '<ROW ' <<<"$out" | wc -l) == 5 ]]
  serve_expect "/sql: expected 5 rows, Cliente 1 to 5 without trailing blanks" $? "$out" ||
    failed=1
  # /criarib exports into C:\tabela.txt, the one file of the drive folder that is the program's.
  out=$(curl -s --data-urlencode 'db=kvodemo' --data-urlencode 'p=user_name=DEMO'$'\n''password=demo' \
    --data-urlencode 'q=select nome from clientes where id <= 2 order by id' "$url/criarib")
  [[ -z $out && $(<"$drives/C/tabela.txt") == 'Cliente 1'$'\r\n''Cliente 2'$'\r' ]]
  serve_expect "/criarib export: expected an empty answer and two names in C:\tabela.txt" $? \
    "$out / $(od -c "$drives/C/tabela.txt" | head -3)" || failed=1
  local client=$build/tools/kvoclient/kvoclient
  if [[ -x $client ]]; then
    # What clients are told to use names this run's port.
    out=$("$client" --url "$1" config AppNet 2>&1)
    [[ $(grep -o 'http://127\.0\.0\.1:[0-9]*/' <<<"$out" | sort -u) == "http://127.0.0.1:$port/" ]]
    serve_expect "/config: expected the address of port $port only" $? "$out" || failed=1
    # The README's first client command and the output it shows.
    out=$(KVO_PASSWORD=demo "$client" --url "$1" --db kvodemo --user DEMO sql \
      "select first 3 id, nome, uf, saldo from clientes order by id" 2>&1)
    [[ $out == "ID | NOME      | UF | SALDO
---+-----------+----+---------
 1 | Cliente 1 | RJ | -4920.81
 2 | Cliente 2 | MG | -4841.62
 3 | Cliente 3 | RS | -4762.43
(3 rows)" ]]
    serve_expect "kvoclient sql: not the README's output" $? "$out" || failed=1
  fi
  return $failed
}

# serve_run ROOT NAME MODE BUILD_DIR: one run of scripts/serve (MODE "" or --fastcgi) with the
# state folder ROOT/NAME; BUILD_DIR holds the client program of the README's example.
serve_run() {
  local root=$1 state=$1/$2 mode=$3 build=$4 port log pid i status out failed=0
  port=$(svc_free_port) || return 1
  log=$root/$2-$port.log
  : >"$log"
  serve_log "scripts/serve ${mode:-(CGI)} on port $port, state $state"
  KVO_SERVE_DIR=$state KVO_SERVE_PORT=$port KVO_SERVE_BINARY=$root/kvowebserver \
    setsid env --default-signal=INT "$KVO_REPO_ROOT/scripts/serve" $mode </dev/null >"$log" 2>&1 &
  pid=$!
  SERVE_CHECK_PID=$pid
  for ((i = 0; i < 1200; i++)); do
    grep -q '^Ctrl-C stops everything\.$' "$log" && break
    svc_alive "$pid" || break
    sleep 0.1
  done
  if grep -q '^Ctrl-C stops everything\.$' "$log"; then
    # Firebird, lighttpd and the program's FastCGI processes at least.
    [[ $(serve_processes "$state" | wc -l) -ge 4 ]]
    serve_expect "the demo's processes are not found" $? "$(serve_processes "$state")" || failed=1
    serve_requests "http://127.0.0.1:$port/kvo" "$port" "$build" "$state" || failed=1
    serve_modes "$state" || failed=1
  elif svc_alive "$pid"; then
    serve_log "no banner within 120 s"
    failed=1
  else
    serve_log "scripts/serve ended before its banner"
    failed=1
  fi

  # Ctrl-C: SIGINT to the whole process group, as a terminal sends it.
  kill -INT -- "-$pid" 2>/dev/null
  for ((i = 0; i < 300; i++)); do
    svc_alive "$pid" || break
    sleep 0.1
  done
  if svc_alive "$pid"; then
    serve_log "still running 30 s after SIGINT"
    kill -KILL -- "-$pid" 2>/dev/null
    services_stop "$state"
    failed=1
  fi
  wait "$pid"
  status=$?
  SERVE_CHECK_PID=
  [[ $status == 0 || $failed == 1 ]]
  serve_expect "exit status $status after SIGINT" $? "" || failed=1
  out=$(serve_processes "$state")
  [[ -z $out ]]
  serve_expect "still running after scripts/serve ended" $? "$out" || failed=1
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
    serve_log "something still listens on port $port"
    failed=1
  fi
  if [[ $failed != 0 ]]; then
    serve_log "scripts/serve printed:"
    cat "$log" >&2
  fi
  return $failed
}

# Stops a run that an interrupted kvo_serve_check left, as its own Ctrl-C would.
kvo_serve_check_stop() {
  [[ -n ${SERVE_CHECK_PID:-} ]] || return 0
  kill -INT -- "-$SERVE_CHECK_PID" 2>/dev/null
  wait "$SERVE_CHECK_PID" 2>/dev/null
  SERVE_CHECK_PID=
}

kvo_serve_check() {
  local build=$1 root failed=0
  root=$(mktemp -d /tmp/kvo-serve-check.XXXXXX) || return 1
  chmod 755 "$root"
  cp "$build/app/kvowebserver" "$root/kvowebserver" || return 1
  serve_run "$root" cgi "" "$build" || failed=1
  serve_run "$root" fastcgi --fastcgi "$build" || failed=1
  # A second run over the state the first left, on another port.
  serve_run "$root" cgi "" "$build" || failed=1
  rm -rf "$root"
  return $failed
}
