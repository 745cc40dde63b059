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

# The installed headers stand alone under kvo/client/: nothing else is installed beside them.
extra=$(cd "$work/prefix/include" && find . -type f ! -path './kvo/client/*')
if [[ -n $extra ]]; then
  echo "headers installed outside kvo/client/: $extra"
  exit 1
fi

# A consumer that names no language standard and no include folder: each public header alone,
# and a failure of the direct route caught as the library's exception type.
mkdir -p "$work/consumer"
cat >"$work/consumer/CMakeLists.txt" <<'CMAKE'
cmake_minimum_required(VERSION 3.25)
project(consumer LANGUAGES CXX)
find_package(KvoClient REQUIRED)
file(GLOB headers "${KvoClient_DIR}/../../../include/kvo/client/*.h")
set(sources main.cc)
foreach(h IN LISTS headers)
  get_filename_component(name "${h}" NAME_WE)
  file(WRITE "${CMAKE_BINARY_DIR}/alone_${name}.cc" "#include \"kvo/client/${name}.h\"\n")
  list(APPEND sources "${CMAKE_BINARY_DIR}/alone_${name}.cc")
endforeach()
add_executable(consumer ${sources})
target_link_libraries(consumer PRIVATE Kvo::Client)
CMAKE
cat >"$work/consumer/main.cc" <<'CC'
#include <cstdio>

#include "kvo/client/kvo_client.h"

int main(int, char** argv) {
  kvo::client::TIBDatabase db;
  db.DatabaseName = argv[1];
  db.Params.Add("user_name=nobody");
  db.Params.Add("password=wrong");
  try {
    db.Open();
  } catch (const kvo::Error& e) {
    std::printf("caught: %s\n", e.what());
    return 0;
  }
  return 1;
}
CC
cmake -S "$work/consumer" -B "$work/consumer/build" -DCMAKE_PREFIX_PATH="$work/prefix" \
  >"$work/consumer.log" 2>&1 || { cat "$work/consumer.log"; exit 1; }
cmake --build "$work/consumer/build" >>"$work/consumer.log" 2>&1 ||
  { cat "$work/consumer.log"; exit 1; }
caught=$(env -u LD_LIBRARY_PATH "$work/consumer/build/consumer" \
  "localhost/$KVO_FB_PORT:$KVO_FB_DATADIR/no-such-$$.fdb") ||
  { echo "the consumer did not catch kvo::Error: $caught"; exit 1; }
[[ $caught == caught:* ]] || { echo "unexpected consumer output: $caught"; exit 1; }

# Only the public API is exported: every dynamic symbol belongs to kvo::client (or is the
# exception type), and none of the layers inside.
lib=$(find "$work/prefix" -name 'libkvoclient.so.*' -type f | head -n 1)
nm -D --defined-only -C "$lib" | cut -d' ' -f3- | sort -u >"$work/symbols"
foreign=$(grep -v -E '^(kvo::client::|kvo::Error|(typeinfo|typeinfo name|vtable) for kvo::(client::|Error)|non-virtual thunk to kvo::client::|KVO)' "$work/symbols" || true)
inner=$(grep -E 'kvo::client::(detail::|EncodeForm|FindSqlMarkers|LowerAscii|SameTextAscii)' "$work/symbols" || true)
if [[ -n $foreign || -n $inner ]]; then
  echo "symbols exported beyond the public API:"
  printf '%s\n' "$foreign" "$inner" | head -n 40
  exit 1
fi

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
