#!/usr/bin/env bash
# Installs the client library into a fresh prefix, builds the example program against that
# installation alone (find_package(KvoClient)), and runs a query through the server with it.
# Needs the test services (KVO_HTTP_URL and the private Firebird server's variables).
#   install_check.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
for v in KVO_HTTP_URL KVO_FB_PORT KVO_FB_USER KVO_FB_PASSWORD KVO_FB_DATADIR; do
  if [[ -z ${!v:-} ]]; then
    if [[ -n ${KVO_REQUIRE_SERVICES:-} ]]; then
      echo "$v is not set" >&2
      exit 1
    fi
    echo "skipped: $v is not set"
    exit 0
  fi
done
work=$(mktemp -d)
db=$KVO_FB_DATADIR/install-check-$$.fdb
cleanup() {
  echo "drop database;" | isql-fb -q -user "$KVO_FB_USER" -password "$KVO_FB_PASSWORD" \
    "localhost/$KVO_FB_PORT:$db" >/dev/null 2>&1 || rm -f "$db"
  rm -rf "$work"
}
trap cleanup EXIT

for component in libkvoclient1 libkvoclient-dev; do
  cmake --install "$build" --component "$component" --prefix "$work/prefix" >>"$work/install.log"
done
cmake -S "$source/examples" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  >"$work/configure.log" || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/build" >"$work/build.log" || { cat "$work/build.log"; exit 1; }

isql-fb -q -user "$KVO_FB_USER" -password "$KVO_FB_PASSWORD" >/dev/null <<SQL
create database 'localhost/$KVO_FB_PORT:$db' default character set WIN1252;
create table t (id integer, name varchar(20));
insert into t values (1, 'one');
insert into t values (2, 'two');
commit;
SQL
# The example must not find anything of the build tree: only the installed package.
out=$(env -u LD_LIBRARY_PATH "$work/build/kvo_query" "$KVO_HTTP_URL" "$db" "$KVO_FB_USER" \
  "$KVO_FB_PASSWORD" "select id, name from t where name <> :skip order by id" --compressed \
  skip=none)
expected=$'ID\tNAME\n1\tone\n2\ttwo\n(2 rows)'
if [[ $out != "$expected" ]]; then
  echo "unexpected output:"
  echo "$out"
  exit 1
fi
if ldd "$work/build/kvo_query" | grep -q "$build"; then
  echo "the example links a library of the build tree"
  exit 1
fi
echo "ok: installed package built and ran a query"
