# The Debian packages, built and checked the way an administrator would use them. Source from
# bash (after build.sh and services.sh); needs the private Firebird server's test environment.
#
# kvo_package_check BUILD_DIR STATE_DIR: builds the packages in BUILD_DIR (configured with
# -DCMAKE_INSTALL_PREFIX=/usr); cpack must print no warning. Under CI (CI=true), or when no
# kvowebserver package is installed, it installs them as an earlier version (the same packages
# given a lower version, pkg_older), checks that the fresh installation serves no database and
# answers the actions that read its files as an empty installation, edits the configuration files
# as an administrator would, upgrades to the packages built, and checks that the edits survived
# and that a few real requests are served through a lighttpd of its own that includes the
# installed configuration; then it purges them. On a machine where the package is installed it
# leaves that installation alone: it unpacks them (dpkg-deb -x) into STATE_DIR and serves the same
# requests from there.

pkg_log() { echo "[package] $*" >&2; }

# pkg_expect NAME EXPECTED ACTUAL: compares and reports.
pkg_expect() {
  if [[ $2 != "$3" ]]; then
    pkg_log "$1: expected [$2], got [$3]"
    return 1
  fi
}

# pkg_requests URL DB: /script, /login and /sql through the web server.
pkg_requests() {
  local url=$1 db=$2 auth="u=$KVO_FB_USER&p=$KVO_FB_PASSWORD" failed=0 out
  out=$(curl -s -o /dev/null -w '%{http_code}' "$url/ikvowebserver.dll/script")
  pkg_expect "/script" 200 "$out" || failed=1
  out=$(curl -s --data-urlencode "db=$db" -d "$auth" "$url/kvowebserver.exe/login")
  pkg_expect "/login" true "$out" || failed=1
  out=$(curl -s --data-urlencode "db=$db" -d "$auth" \
    --data-urlencode "q=select nome from pacote order by id" "$url/ikvowebserver.dll/sql")
  if [[ $out != *'NOME="primeiro"'* || $out != *'NOME="segundo"'* ]]; then
    pkg_log "/sql: the rows are missing from the answer: ${out:0:400}"
    failed=1
  fi
  return $failed
}

# pkg_older DEB OUT_DIR VERSION: the package DEB as version VERSION in OUT_DIR (its dependency on
# a package of the same build follows); prints the new file's path.
pkg_older() {
  local deb=$1 out=$2 version=$3 tree name
  tree=$(mktemp -d "$out/tree.XXXXXX") || return 1
  dpkg-deb -R "$deb" "$tree" || return 1
  sed -i -e "s/^Version: .*/Version: $version/" \
    -e "/^Depends:/s/(= [^)]*)/(= $version)/g" "$tree/DEBIAN/control"
  name=$(sed -n 's/^Package: //p' "$tree/DEBIAN/control")
  dpkg-deb -b "$tree" "$out/${name}_${version}.deb" >/dev/null || return 1
  rm -rf "$tree"
  echo "$out/${name}_${version}.deb"
}

# pkg_apt LOG DEB...: installs the packages (an upgrade when they are newer) without questions.
pkg_apt() {
  local log=$1
  shift
  if ! DEBIAN_FRONTEND=noninteractive apt-get install -y -q --allow-downgrades \
    -o Dpkg::Options::=--force-confold "$@" >"$log" 2>&1; then
    tail -n 30 "$log" >&2
    return 1
  fi
}

# pkg_fresh URL DB ERRORLOG: what a fresh installation answers before the administrator has
# named a database: a login is refused as a wrong password and the error log says why; the
# actions that read the installation's files answer as for an empty installation.
pkg_fresh() {
  local url=$1 db=$2 errlog=$3 failed=0 out path
  out=$(curl -s --data-urlencode "db=$db" -d "u=$KVO_FB_USER&p=$KVO_FB_PASSWORD" "$url/kvowebserver.exe/login")
  pkg_expect "/login before AllowedDatabases is set" false "$out" || failed=1
  grep -q "is refused: AllowedDatabases is empty" "$errlog" ||
    { pkg_log "the error log does not say why the database was refused"; failed=1; }
  for path in listakvomodulos rdptools kml; do
    out=$(curl -s -o /dev/null -w '%{http_code} %{size_download}' "$url/ikvowebserver.dll/$path")
    pkg_expect "/$path of a fresh installation" "200 0" "$out" || failed=1
  done
  return $failed
}

# pkg_serve DIR CONF: lighttpd on a free loopback port with the package's configuration
# included; sets PKG_URL and PKG_PID.
pkg_serve() {
  local dir=$1 conf=$2 port i
  port=$(svc_free_port) || return 1
  mkdir -p "$dir/www" "$dir/log"
  {
    echo 'server.modules = ( "mod_access" )'
    echo "server.document-root = \"$dir/www\""
    echo 'server.bind = "127.0.0.1"'
    echo "server.port = $port"
    echo "server.errorlog = \"$dir/log/error.log\""
    echo "server.breakagelog = \"$dir/log/cgi-stderr.log\""
    # As the system's lighttpd does: the program runs as the web server's user.
    [[ $(id -u) -eq 0 ]] && echo 'server.username = "www-data"' && echo 'server.groupname = "www-data"'
    echo "include \"$conf\""
  } >"$dir/lighttpd.conf"
  chown -R "$(id -u)" "$dir/log"
  [[ $(id -u) -eq 0 ]] && chown www-data "$dir/log"
  if ! lighttpd -tt -f "$dir/lighttpd.conf" >"$dir/log/check.log" 2>&1; then
    pkg_log "lighttpd refuses the package's configuration:"
    cat "$dir/log/check.log" >&2
    return 1
  fi
  svc_spawn "$dir/lighttpd.pid" "$dir/log/stdout.log" lighttpd -D -f "$dir/lighttpd.conf"
  PKG_PID=$(<"$dir/lighttpd.pid")
  PKG_URL=http://127.0.0.1:$port/kvo
  for ((i = 0; i < 50; i++)); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && return 0
    sleep 0.1
  done
  pkg_log "lighttpd does not listen on port $port"
  cat "$dir/log/stdout.log" "$dir/log/error.log" >&2 2>/dev/null
  return 1
}

pkg_sql() {
  FIREBIRD=$FIREBIRD isql-fb -q -user "$KVO_FB_USER" -password "$KVO_FB_PASSWORD" "$@"
}

kvo_package_check() {
  local build dir=$2/package failed=0 mode debs=() older=() root="" conf keep_log=0 version out
  build=$(cd "$1" && pwd) || return 1
  mkdir -p "$dir" && chmod 755 "$dir" "$2"
  rm -rf "$build/packages"
  if ! (cd "$build" && cpack -G DEB >"$build/cpack.log" 2>&1); then
    tail -n 30 "$build/cpack.log" >&2
    return 1
  fi
  if grep -q -i "warning" "$build/cpack.log"; then
    pkg_log "cpack warns:"
    grep -i -A4 "warning" "$build/cpack.log" >&2
    failed=1
  fi
  mapfile -t debs < <(ls "$build"/packages/*.deb)
  pkg_log "built: $(cd "$build/packages" && echo *.deb)"
  for name in kvowebserver libkvoclient1 libkvoclient-dev; do
    [[ " ${debs[*]##*/} " == *" ${name}_"* ]] || { pkg_log "no package $name"; failed=1; }
  done
  version=$(dpkg-deb -f "$build/packages/kvowebserver_"*.deb Version)
  # What the shipped FastCGI spawner runs (deploy/nginx/spawn-kvowebserver).
  pkg_expect "kvowebserver recommends" "spawn-fcgi, multiwatch" \
    "$(dpkg-deb -f "$build/packages/kvowebserver_"*.deb Recommends)" || failed=1

  local base=/var/lib/kvo/drives/C/KVO/KVO.Net settings=/etc/kvowebserver/KVO.Server.Config
  local lighttpd_conf=/etc/lighttpd/conf-available/50-kvowebserver.conf
  if [[ ${CI:-} == true || $(dpkg-query -W -f='${Status}' kvowebserver 2>/dev/null) != "install ok installed" ]]; then
    mode=install
    # The same packages as an earlier version: "~" orders before anything, so X~1 < X.
    local deb
    mkdir -p "$dir/older"
    for deb in "${debs[@]}"; do
      older+=("$(pkg_older "$deb" "$dir/older" "$version~1")") || return 1
    done
    pkg_apt "$dir/apt-older.log" "${older[@]}" || return 1
    lighty-enable-mod kvowebserver >"$dir/enable.log" 2>&1 || { cat "$dir/enable.log" >&2; failed=1; }
    conf=/etc/lighttpd/conf-enabled/50-kvowebserver.conf
    [[ -e $base/Logs/Log.txt ]] && keep_log=1
    pkg_expect "Logs owner and mode" "www-data 755" "$(stat -c '%U %a' "$base/Logs")" || failed=1
    pkg_expect "Config owner and mode" "root www-data 1775" "$(stat -c '%U %G %a' "$base/Config")" ||
      failed=1
    pkg_expect "the server settings in Config" "$settings" "$(readlink "$base/Config/KVO.Server.Config")" ||
      failed=1
    # In Config the web server's user makes and replaces its own files, never root's.
    echo "[x]" >"$base/Config/package-check.ini"
    if ! runuser -u www-data -- sh -c "echo a >'$base/Config/own.tmp' && mv '$base/Config/own.tmp' '$base/Config/own.txt'" ||
      runuser -u www-data -- sh -c "echo b >'$base/Config/x.tmp' && mv '$base/Config/x.tmp' '$base/Config/package-check.ini'" 2>/dev/null; then
      pkg_log "Config: the web server's user cannot make its own file, or can replace root's"
      failed=1
    fi
    rm -f "$base/Config/package-check.ini" "$base/Config/own.txt" "$base/Config/x.tmp"
  else
    mode=unpack
    root=$dir/root
    for deb in "${debs[@]}"; do dpkg-deb -x "$deb" "$root" || failed=1; done
    # The configuration names the installed places: point them into the unpacked tree.
    conf=$dir/50-kvowebserver.conf
    sed -e "s|\"/usr/|\"$root/usr/|g" -e "s|\"/etc/kvowebserver|\"$root/etc/kvowebserver|g" \
      -e "s|\"/var/lib/kvo|\"$root/var/lib/kvo|g" \
      "$root/etc/lighttpd/conf-available/50-kvowebserver.conf" >"$conf"
  fi
  pkg_log "checking the packages ($mode)"

  local db=$KVO_FB_DATADIR/package-check-$$.fdb
  local dsn=127.0.0.1/$KVO_FB_PORT:$db
  pkg_sql >"$dir/isql.log" 2>&1 <<SQL || { cat "$dir/isql.log" >&2; failed=1; }
create database '$dsn' user '$KVO_FB_USER' password '$KVO_FB_PASSWORD';
create table pacote (id integer, nome varchar(20));
insert into pacote values (1, 'primeiro');
insert into pacote values (2, 'segundo');
commit;
SQL
  if pkg_serve "$dir/http" "$conf"; then
    if [[ $mode == install ]]; then
      pkg_fresh "$PKG_URL" "$dsn" "$dir/http/log/cgi-stderr.log" || failed=1
      # The administrator names the database and edits the web server's configuration; the
      # upgrade keeps both files as they are.
      sed -i "s|^AllowedDatabases=\$|AllowedDatabases=$dsn|" "$settings"
      echo "# edited by the administrator" >>"$lighttpd_conf"
      local sums
      sums=$(sha256sum "$settings" "$lighttpd_conf")
      pkg_apt "$dir/apt-upgrade.log" "${debs[@]}" || failed=1
      pkg_expect "version after the upgrade" "$version" \
        "$(dpkg-query -W -f='${Version}\n' kvowebserver libkvoclient1 libkvoclient-dev | sort -u)" || failed=1
      pkg_expect "kvoclient --version" "kvoclient $version" "$(kvoclient --version)" || failed=1
      pkg_expect "the edited configuration after the upgrade" "$sums" \
        "$(sha256sum "$settings" "$lighttpd_conf")" || failed=1
    fi
    pkg_requests "$PKG_URL" "$dsn" || failed=1
    if [[ $mode == install ]]; then
      # /criarib exports into the file the package made for the web server's user, in a drive
      # folder that stays root's.
      out=$(curl -s --data-urlencode "db=$dsn" \
        --data-urlencode "p=user_name=$KVO_FB_USER"$'\n'"password=$KVO_FB_PASSWORD" \
        --data-urlencode "q=select nome from pacote order by id" "$PKG_URL/kvowebserver.exe/criarib")
      pkg_expect "/criarib export answer" "" "$out" || failed=1
      pkg_expect "/criarib export file" "primeiro"$'\r\n'"segundo"$'\r\n'. \
        "$(cat /var/lib/kvo/drives/C/tabela.txt; echo .)" || failed=1
      pkg_expect "the drive folder and the export file" "root 755 www-data 644" \
        "$(stat -c '%U %a' /var/lib/kvo/drives/C) $(stat -c '%U %a' /var/lib/kvo/drives/C/tabela.txt)" ||
        failed=1
    fi
    if [[ $mode == install ]] &&
      ! grep -q "select nome from pacote" $base/Logs/Log.txt 2>/dev/null; then
      pkg_log "the installed program wrote no statement log"
      failed=1
    fi
    kill "$PKG_PID" 2>/dev/null
    wait "$PKG_PID" 2>/dev/null
  else
    failed=1
  fi
  echo "drop database;" | pkg_sql "$dsn" >/dev/null 2>&1

  if [[ $mode == install ]]; then
    if ! DEBIAN_FRONTEND=noninteractive apt-get purge -y -q kvowebserver libkvoclient1 \
      libkvoclient-dev >"$dir/purge.log" 2>&1; then
      tail -n 30 "$dir/purge.log" >&2
      failed=1
    fi
    local left
    for left in /etc/kvowebserver /etc/lighttpd/conf-available/50-kvowebserver.conf \
      /etc/lighttpd/conf-enabled/50-kvowebserver.conf /usr/lib/kvowebserver /usr/bin/kvoclient \
      "$base/Config/KVO.Server.Config" "$base/Config/RDP.Modules" "$base/WebServers"; do
      [[ -e $left || -L $left ]] && { pkg_log "left after purge: $left"; failed=1; }
    done
    # What the installation wrote stays (the statement log, the module list); then this check
    # removes its own traces.
    [[ -f $base/Logs/Log.txt ]] || { pkg_log "purge removed the statement log"; failed=1; }
    [[ -f $base/Config/KVO.LM ]] || { pkg_log "purge removed the module list"; failed=1; }
    if [[ $keep_log == 0 ]]; then
      rm -f "$base/Logs/Log.txt" "$base/Logs/Log.lck" "$base/Config/KVO.LM" \
        /var/lib/kvo/drives/C/tabela.txt
      rmdir -p "$base/Logs" "$base/Config" 2>/dev/null
    fi
  fi
  [[ $failed == 0 ]] && pkg_log "packages: PASSED" || pkg_log "packages: FAILED"
  return $failed
}
