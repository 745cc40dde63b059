# Private services for tests and the demo: a Firebird 3 server, lighttpd running kvowebserver as
# a CGI program, and an HTTP proxy with Basic authentication. Everything listens on 127.0.0.1 on
# free ports and lives in one state folder, so that several copies can run side by side and
# nothing touches the system's own Firebird instance.
#
# Source this file from bash. Functions return non-zero on failure and print why on stderr.

KVO_REPO_ROOT=${KVO_REPO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
KVO_FB_LIBDIR=${KVO_FB_LIBDIR:-/usr/lib/x86_64-linux-gnu/firebird/3.0}
KVO_FB_ETCDIR=${KVO_FB_ETCDIR:-/etc/firebird/3.0}

svc_log() { echo "[services] $*" >&2; }

# A TCP port on 127.0.0.1 that nothing listens on right now.
svc_free_port() {
  /usr/bin/python3 - <<'PY'
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()
PY
}

svc_random_secret() {
  head -c 18 /dev/urandom | base64 | tr -dc 'A-Za-z0-9' | head -c 20
}

# True while PID names a live process (a zombie counts as gone: it no longer serves anything).
svc_alive() {
  local pid=$1 state
  [[ -r /proc/$pid/stat ]] || return 1
  state=$(sed 's/^.*) //' "/proc/$pid/stat" 2>/dev/null | cut -d' ' -f1) || return 1
  [[ -n $state && $state != Z && $state != X ]]
}

# Stops the process recorded in PIDFILE: TERM, up to 2 s of grace, then KILL, then reap it
# when it is our own child. Firebird 3.0.11 sometimes ignores TERM, hence the KILL.
svc_stop_pidfile() {
  local pidfile=$1 pid i
  [[ -f $pidfile ]] || return 0
  pid=$(<"$pidfile")
  if [[ -n $pid ]] && svc_alive "$pid"; then
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < 20; i++)); do
      svc_alive "$pid" || break
      sleep 0.1
    done
    if svc_alive "$pid"; then
      kill -KILL "$pid" 2>/dev/null
      for ((i = 0; i < 20; i++)); do
        svc_alive "$pid" || break
        sleep 0.1
      done
    fi
  fi
  [[ -n $pid ]] && wait "$pid" 2>/dev/null
  rm -f "$pidfile"
  return 0
}

# The end of FILE from byte OFFSET on: what a service wrote to its log since it was started, not
# the lines of earlier runs.
svc_log_since() {
  tail -c "+$(($2 + 1))" "$1" 2>/dev/null
}

# The size of FILE in bytes, 0 when it does not exist.
svc_log_size() {
  stat -c %s "$1" 2>/dev/null || echo 0
}

# Starts a command in the background in its own session (so that a Ctrl-C meant for a
# foreground script does not reach it before that script stops it) and records its pid.
svc_spawn() {
  local pidfile=$1 logfile=$2
  shift 2
  setsid "$@" </dev/null >>"$logfile" 2>&1 &
  echo $! >"$pidfile"
}

# ---------------------------------------------------------------------------------------------
# Firebird

# fb_start DIR: a private server with its own configuration under DIR/fb. Sets FB_PORT,
# FB_PASSWORD, FB_CLIENT (the client configuration folder), FB_DATADIR.
# Optional: FB_RUN_AS=USER runs the server as that user (started as root; the server's folders
# become that user's), FB_RESTRICT_TO_DATA=1 lets it open databases only under FB_DATADIR.
fb_start() {
  local dir=$1/fb
  local srv=$dir/server
  mkdir -p "$srv/intl" "$srv/lock" "$dir/client" "$dir/data" || return 1
  chmod 1777 "$dir/data"
  FB_DATADIR=$dir/data
  FB_CLIENT=$dir/client
  FB_PORT=$(svc_free_port) || return 1

  # The same state folder keeps its password, so a second start reuses the security database.
  if [[ -s $srv/sysdba.password && -s $srv/security3.fdb ]]; then
    FB_PASSWORD=$(<"$srv/sysdba.password")
  else
    FB_PASSWORD=$(svc_random_secret)
    rm -f "$srv/security3.fdb"
  fi

  local ipc
  ipc=kvo_$(printf '%s' "$(cd "$1" && pwd)" | md5sum | cut -c1-12)_$$
  cat >"$srv/firebird.conf" <<CONF
RemoteServicePort = $FB_PORT
RemoteBindAddress = 127.0.0.1
SecurityDatabase = $srv/security3.fdb
IpcName = $ipc
CONF
  if [[ -n ${FB_RESTRICT_TO_DATA:-} ]]; then
    # A database name posted by a caller can then name no other file of this machine.
    echo "DatabaseAccess = Restrict $FB_DATADIR" >>"$srv/firebird.conf"
  fi
  cat >"$srv/databases.conf" <<CONF
security.db = $srv/security3.fdb
{
	RemoteAccess = false
}
CONF
  # Aliases of the installation (scripts/serve names its demo database there).
  [[ -f $dir/aliases.conf ]] && cat "$dir/aliases.conf" >>"$srv/databases.conf"
  cp -f "$KVO_FB_ETCDIR/plugins.conf" "$srv/plugins.conf"
  # A copy, not a link: through a link the engine does not find the WIN1252 character set.
  cp -f "$KVO_FB_LIBDIR/intl/libfbintl.so" "$KVO_FB_LIBDIR/intl/fbintl.conf" "$srv/intl/"
  cp -f "$KVO_FB_LIBDIR/firebird.msg" "$srv/firebird.msg"

  # The client folder sends every attach, plain file paths included, through the server, so
  # that passwords are checked; without it a plain path opens the file embedded, any password.
  cat >"$FB_CLIENT/firebird.conf" <<CONF
Providers = Remote,Loopback
RemoteServicePort = $FB_PORT
CONF
  cp -f "$KVO_FB_LIBDIR/firebird.msg" "$FB_CLIENT/firebird.msg"
  # A plain alias ("db=kvodemo") is resolved by the client before it travels; unknown there, it
  # would become a path in the caller's working directory.
  if [[ -f $dir/aliases.conf ]]; then
    cp -f "$dir/aliases.conf" "$FB_CLIENT/databases.conf"
  else
    rm -f "$FB_CLIENT/databases.conf"
  fi

  if [[ ! -s $srv/security3.fdb ]]; then
    FIREBIRD=$srv FIREBIRD_LOCK=$srv/lock isql-fb -q >"$srv/isql-security.log" 2>&1 <<SQL
create database '$srv/security3.fdb' user SYSDBA;
create user SYSDBA password '$FB_PASSWORD' using plugin Srp;
commit;
SQL
    if [[ ! -s $srv/security3.fdb ]]; then
      svc_log "creating the security database failed:"
      cat "$srv/isql-security.log" >&2
      return 1
    fi
    printf '%s' "$FB_PASSWORD" >"$srv/sysdba.password"
    chmod 600 "$srv/sysdba.password"
  fi

  local as_user=()
  if [[ -n ${FB_RUN_AS:-} ]]; then
    # The server writes its security database, lock files and databases: they are its own.
    chown -R "$FB_RUN_AS:" "$srv" "$dir/data" || return 1
    # Its databases are the server's alone.
    chmod 0750 "$dir/data" || return 1
    as_user=(setpriv --reuid="$FB_RUN_AS" --regid="$FB_RUN_AS" --init-groups --)
  fi
  local log_from
  log_from=$(svc_log_size "$srv/server.log")
  FIREBIRD=$srv FIREBIRD_LOCK=$srv/lock svc_spawn "$srv/firebird.pid" "$srv/server.log" \
    "${as_user[@]}" /usr/sbin/firebird
  local i
  for ((i = 0; i < 100; i++)); do
    if ! svc_alive "$(<"$srv/firebird.pid")"; then
      svc_log "the Firebird server exited at start-up:"
      svc_log_since "$srv/server.log" "$log_from" >&2
      return 1
    fi
    if fb_ping; then
      return 0
    fi
    sleep 0.1
  done
  svc_log "the Firebird server on port $FB_PORT does not accept a login"
  return 1
}

# True when the private server accepts an SRP login as SYSDBA.
fb_ping() {
  # A missing database proves the login: the server looks for the file only after the password.
  local out
  out=$(echo "quit;" | FIREBIRD=$FB_CLIENT isql-fb -q -user SYSDBA -password "$FB_PASSWORD" \
    "localhost/$FB_PORT:$FB_DATADIR/.ping-does-not-exist.fdb" 2>&1)
  [[ $out == *'I/O error'* ]]
}

fb_stop() {
  svc_stop_pidfile "$1/fb/server/firebird.pid"
}

# ---------------------------------------------------------------------------------------------
# lighttpd with kvowebserver as CGI program

# TEMPLATE with the sanitizers' options of this environment (scripts/test's sanitizer pass) added
# to the program's environment: lighttpd gives a program only the variables its configuration
# names, and without them the sanitized program has no leak suppressions.
http_template() {
  local name entries=
  for name in ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS; do
    [[ -n ${!name:-} ]] && entries+=$(printf '\n      "%s" => "%s",' "$name" "${!name}")
  done
  KVO_SANITIZER_ENTRIES=${entries#?} awk '{ print }
    /"FIREBIRD" => "@FIREBIRD_CLIENT@",/ && ENVIRON["KVO_SANITIZER_ENTRIES"] != "" {
      print ENVIRON["KVO_SANITIZER_ENTRIES"] }' "$1"
}

# Writes the web-server fragment from the shipped template (deploy/lighttpd) with this
# installation's folders.
http_write_fragment() {
  local out=$1 cgidir=$2 drives=$3 fbclient=$4 lua=$5
  http_template "$KVO_REPO_ROOT/deploy/lighttpd/kvowebserver.conf" |
    sed -e "s|@CGI_DIR@|$cgidir|g" -e "s|@KVO_DRIVES@|$drives|g" \
      -e "s|@FIREBIRD_CLIENT@|$fbclient|g" -e "s|@REMOTE_HOST_LUA@|$lua|g" \
      -e "s|@URL_PREFIX@|/kvo|g" >"$out"
}

# Writes the FastCGI fragment (deploy/lighttpd/kvowebserver-fastcgi.conf) for URL prefix PREFIX.
http_write_fastcgi_fragment() {
  local out=$1 prefix=$2 cgidir=$3 sockdir=$4 drives=$5 fbclient=$6 lua=$7 procs=$8
  http_template "$KVO_REPO_ROOT/deploy/lighttpd/kvowebserver-fastcgi.conf" |
    sed -e "s|@CGI_DIR@|$cgidir|g" -e "s|@KVO_DRIVES@|$drives|g" \
      -e "s|@FIREBIRD_CLIENT@|$fbclient|g" -e "s|@REMOTE_HOST_LUA@|$lua|g" \
      -e "s|@URL_PREFIX@|$prefix|g" -e "s|@SOCKET_DIR@|$sockdir|g" \
      -e "s|@PROCESSES@|$procs|g" >"$out"
}

# http_serve_fragment DIR FRAGMENT: lighttpd alone on a free loopback port (set in `port`) with
# FRAGMENT included, its folders under DIR (www, log, upload), its pid in DIR/lighttpd.pid; true
# once it listens (within 5 s).
http_serve_fragment() {
  local dir=$1 fragment=$2 i
  port=$(svc_free_port) || return 1
  cat >"$dir/lighttpd.conf" <<CONF
server.document-root = "$dir/www"
server.bind = "127.0.0.1"
server.port = $port
server.errorlog = "$dir/log/error.log"
server.breakagelog = "$dir/log/cgi-stderr.log"
server.upload-dirs = ( "$dir/upload" )
include "$fragment"
CONF
  svc_spawn "$dir/lighttpd.pid" "$dir/log/stdout.log" lighttpd -D -f "$dir/lighttpd.conf"
  for ((i = 0; i < 50; i++)); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

# http_link_binary CGIDIR BINARY: the program under both of its script names.
http_link_binary() {
  [[ -d $1 ]] && ln -sfn "$2" "$1/ikvowebserver.dll" && ln -sfn "$2" "$1/kvowebserver.exe"
}

# http_start DIR BINARY [PORT]: lighttpd on 127.0.0.1:PORT (a free one by default). The CGI
# folder links the binary under both script names. The program answers under /kvo as a CGI
# program and, once the binary exists, under /kvofcgi in FastCGI mode (KVO_FCGI_PROCS
# processes, 4 by default). Sets HTTP_PORT, HTTP_URL, HTTP_URL_FASTCGI (empty without FastCGI),
# HTTP_DRIVES and HTTP_WWW (the document root: pages there share the program's origin).
# Optional: HTTP_RUN_AS=USER has lighttpd (started as root) drop to that user after binding its
# port, so that it and the program it starts run unprivileged.
# Needs FB_CLIENT (fb_start first).
http_start() {
  local dir=$1/http binary=$2
  HTTP_PORT=${3:-$(svc_free_port)} || return 1
  mkdir -p "$dir/www" "$dir/cgi" "$dir/drives" "$dir/log" "$dir/upload" "$dir/fcgi" || return 1
  HTTP_DRIVES=${HTTP_DRIVES_OVERRIDE:-$dir/drives}
  HTTP_WWW=$dir/www
  http_link_binary "$dir/cgi" "$binary"
  # A test-only program that shows the environment the web server gives a CGI program.
  if [[ -n ${HTTP_WITH_ENV_CGI:-} ]]; then
    ln -sfn "$KVO_REPO_ROOT/tests/support/printenv.cgi" "$dir/cgi/printenv.cgi"
  fi
  cp -f "$KVO_REPO_ROOT/deploy/lighttpd/remote-host.lua" "$dir/remote-host.lua"
  # lighttpd starts the FastCGI processes itself and refuses a bin-path that does not exist.
  : >"$dir/kvowebserver-fastcgi.conf"
  HTTP_URL_FASTCGI=
  if [[ -n ${HTTP_FASTCGI_ONLY:-} ]]; then
    # scripts/serve --fastcgi: the program's usual URL folder in FastCGI mode.
    http_write_fastcgi_fragment "$dir/kvowebserver.conf" /kvo "$dir/cgi" "$dir/fcgi" \
      "$HTTP_DRIVES" "$FB_CLIENT" "$dir/remote-host.lua" "${KVO_FCGI_PROCS:-4}"
    HTTP_URL_FASTCGI=http://127.0.0.1:$HTTP_PORT/kvo
  else
    http_write_fragment "$dir/kvowebserver.conf" "$dir/cgi" "$HTTP_DRIVES" "$FB_CLIENT" \
      "$dir/remote-host.lua"
  fi
  if [[ -x $binary && -z ${HTTP_FASTCGI_ONLY:-} ]]; then
    http_write_fastcgi_fragment "$dir/kvowebserver-fastcgi.conf" /kvofcgi "$dir/cgi" \
      "$dir/fcgi" "$HTTP_DRIVES" "$FB_CLIENT" "$dir/remote-host.lua" "${KVO_FCGI_PROCS:-4}"
    HTTP_URL_FASTCGI=http://127.0.0.1:$HTTP_PORT/kvofcgi
  fi
  cat >"$dir/lighttpd.conf" <<CONF
server.modules = ( "mod_access", "mod_accesslog" )
server.document-root = "$dir/www"
server.bind = "127.0.0.1"
server.port = $HTTP_PORT
server.errorlog = "$dir/log/error.log"
server.breakagelog = "$dir/log/cgi-stderr.log"
server.upload-dirs = ( "$dir/upload" )
# Pages of the document root (browser tests put theirs there) are served as HTML.
mimetype.assign = ( ".html" => "text/html" )
accesslog.filename = "$dir/log/access.log"
include "$dir/kvowebserver.conf"
include "$dir/kvowebserver-fastcgi.conf"
CONF
  if [[ -n ${HTTP_RUN_AS:-} ]]; then
    # The unprivileged server opens its logs, buffers request bodies in the upload folder and
    # binds the FastCGI processes' sockets in the socket folder (configured in CGI mode too).
    chown -R "$HTTP_RUN_AS:" "$dir/upload" "$dir/log" "$dir/fcgi" || return 1
    printf 'server.username = "%s"\nserver.groupname = "%s"\n' "$HTTP_RUN_AS" \
      "$(id -gn "$HTTP_RUN_AS")" >>"$dir/lighttpd.conf"
  fi
  if [[ -n ${HTTP_WITH_ENV_CGI:-} ]]; then
    echo '$HTTP["url"] =~ "^/kvo/printenv\.cgi" { cgi.assign = ( ".cgi" => "" ) }' \
      >>"$dir/lighttpd.conf"
  fi
  if ! lighttpd -tt -f "$dir/lighttpd.conf" >"$dir/log/check.log" 2>&1; then
    svc_log "lighttpd refuses its configuration:"
    cat "$dir/log/check.log" >&2
    return 1
  fi
  local stdout_from error_from
  stdout_from=$(svc_log_size "$dir/log/stdout.log")
  error_from=$(svc_log_size "$dir/log/error.log")
  svc_spawn "$dir/lighttpd.pid" "$dir/log/stdout.log" lighttpd -D -f "$dir/lighttpd.conf"
  HTTP_URL=http://127.0.0.1:$HTTP_PORT/kvo
  local i
  for ((i = 0; i < 50; i++)); do
    if ! svc_alive "$(<"$dir/lighttpd.pid")"; then
      svc_log "lighttpd exited at start-up:"
      svc_log_since "$dir/log/stdout.log" "$stdout_from" >&2
      svc_log_since "$dir/log/error.log" "$error_from" >&2
      return 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$HTTP_PORT") 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  svc_log "lighttpd does not listen on port $HTTP_PORT"
  return 1
}

http_stop() {
  svc_stop_pidfile "$1/http/lighttpd.pid"
}

# ---------------------------------------------------------------------------------------------
# tinyproxy with Basic authentication

proxy_start() {
  local dir=$1/proxy
  mkdir -p "$dir" || return 1
  PROXY_PORT=$(svc_free_port) || return 1
  PROXY_USER=kvoproxy
  PROXY_PASS=$(svc_random_secret)
  cat >"$dir/tinyproxy.conf" <<CONF
Port $PROXY_PORT
Listen 127.0.0.1
Timeout 60
MaxClients 50
LogLevel Notice
LogFile "$dir/tinyproxy.log"
BasicAuth $PROXY_USER $PROXY_PASS
CONF
  svc_spawn "$dir/tinyproxy.pid" "$dir/stdout.log" tinyproxy -d -c "$dir/tinyproxy.conf"
  local i
  for ((i = 0; i < 50; i++)); do
    if ! svc_alive "$(<"$dir/tinyproxy.pid")"; then
      svc_log "tinyproxy exited at start-up:"
      cat "$dir/stdout.log" "$dir/tinyproxy.log" >&2 2>/dev/null
      return 1
    fi
    if (exec 3<>"/dev/tcp/127.0.0.1/$PROXY_PORT") 2>/dev/null; then
      return 0
    fi
    sleep 0.1
  done
  svc_log "tinyproxy does not listen on port $PROXY_PORT"
  return 1
}

proxy_stop() {
  svc_stop_pidfile "$1/proxy/tinyproxy.pid"
}

# ---------------------------------------------------------------------------------------------
# All of them, as the tests expect them

# The test environment's variables, as shell assignments.
services_env() {
  cat <<ENV
export FIREBIRD='$FB_CLIENT'
export KVO_FB_PORT='$FB_PORT'
export KVO_FB_USER='SYSDBA'
export KVO_FB_PASSWORD='$FB_PASSWORD'
export KVO_FB_DATADIR='$FB_DATADIR'
export KVO_HTTP_URL='$HTTP_URL'
export KVO_HTTP_URL_CGI='$HTTP_URL'
export KVO_HTTP_URL_FASTCGI='$HTTP_URL_FASTCGI'
export KVO_HTTP_DRIVES='$HTTP_DRIVES'
export KVO_HTTP_WWW='$HTTP_WWW'
export KVO_PROXY_HOST='127.0.0.1'
export KVO_PROXY_PORT='$PROXY_PORT'
export KVO_PROXY_USER='$PROXY_USER'
export KVO_PROXY_PASS='$PROXY_PASS'
ENV
}

# svc_retry START STOP DIR ARGS...: a free port can be taken by someone else between choosing
# and binding it, so a failed start is tried twice more on a new port.
svc_retry() {
  local start=$1 stop=$2 dir=$3 i
  shift 2
  for ((i = 0; i < 3; i++)); do
    "$start" "$@" && return 0
    "$stop" "$dir"
  done
  return 1
}

# services_start DIR BINARY: everything; writes DIR/env.sh. Stops what it started on failure.
services_start() {
  local dir=$1 binary=$2
  mkdir -p "$dir" || return 1
  # Tests run the program as an unprivileged user too: it must reach the client configuration
  # and the data folder through here (a folder from mktemp is private to its owner).
  chmod go+x "$dir"
  dir=$(cd "$dir" && pwd)
  if [[ -f $dir/fb/server/firebird.pid || -f $dir/http/lighttpd.pid ]]; then
    services_stop "$dir"
  fi
  if svc_retry fb_start fb_stop "$dir" &&
    HTTP_WITH_ENV_CGI=1 svc_retry http_start http_stop "$dir" "$binary" &&
    svc_retry proxy_start proxy_stop "$dir"; then
    services_env >"$dir/env.sh"
    return 0
  fi
  services_stop "$dir"
  return 1
}

# services_use_binary DIR BINARY: lighttpd runs BINARY from the next request on: the CGI
# folder's links name it, and lighttpd restarts on its port so that the FastCGI processes run it.
services_use_binary() {
  [[ -x $2 ]] || return 1
  http_link_binary "$1/http/cgi" "$2" || return 1
  local port
  port=$(sed -n 's/^server.port = //p' "$1/http/lighttpd.conf" 2>/dev/null)
  [[ -n $port ]] || return 0
  http_stop "$1"
  FB_CLIENT=${FB_CLIENT:-$1/fb/client} HTTP_WITH_ENV_CGI=1 http_start "$1" "$2" "$port"
}

services_stop() {
  local dir=$1
  proxy_stop "$dir"
  http_stop "$dir"
  fb_stop "$dir"
}
