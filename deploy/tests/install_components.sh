#!/usr/bin/env bash
# Installs each install component of a build into a prefix of its own, as an unprivileged user
# (nobody, when run as root), and lists what was written. Fails when a component is missing or
# unknown (an install rule without one), when an installation fails or writes outside its
# prefix, when a client library component writes anything of the server, or when an installed
# configuration names the prefix the build was configured with instead of its own.
#
#   install_components.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd) || exit 1
expected="kvowebserver libkvoclient-dev libkvoclient1"
work=$(mktemp -d /tmp/kvo-components.XXXXXX)
trap 'rm -rf "$work"' EXIT
chmod 755 "$work"
failed=0

# The components that install rules name, as cmake_install.cmake files test them.
found=$(grep -rhoE 'CMAKE_INSTALL_COMPONENT STREQUAL "[^"]+"' --include=cmake_install.cmake "$build" |
  sed 's/.*"\(.*\)"/\1/' | sort -u | tr '\n' ' ')
if [[ ${found% } != "$expected" ]]; then
  echo "components: expected [$expected], found [${found% }]"
  failed=1
fi

as_user=()
if [[ $(id -u) -eq 0 ]]; then
  as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups --)
  # An ordinary user installs from a build folder of their own, where cmake --install writes
  # its list of installed files; here the folder is root's, so those lists are handed over.
  for c in $expected; do
    : >"$build/install_manifest_$c.txt" && chown nobody "$build/install_manifest_$c.txt"
  done
fi

configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
for c in $expected; do
  prefix=$work/$c/prefix
  mkdir -p "$work/$c" && chmod 777 "$work/$c"
  if ! "${as_user[@]}" env HOME="$work/$c" cmake --install "$build" --component "$c" \
    --prefix "$prefix" >"$work/$c/install.log" 2>&1; then
    echo "component $c: the installation failed"
    cat "$work/$c/install.log"
    failed=1
    continue
  fi
  echo "component $c:"
  (cd "$prefix" && find . -mindepth 1 \( -type f -o -type l \) -printf '  %P\n' | sort)
  # Anything written outside the prefix is reported by the installation as a path.
  outside=$(grep -E '^-- (Installing|Up-to-date|Keeping): ' "$work/$c/install.log" |
    sed -E 's/^-- [A-Za-z-]+: //; s/ -> .*//' | grep -v "^$prefix/" || true)
  [[ -z $outside ]] || { echo "component $c wrote outside its prefix: $outside"; failed=1; }
  if [[ -n $configured && $configured != "$prefix" ]] &&
    grep -rlF "\"$configured/" "$prefix" --include='*.conf' 2>/dev/null | grep -q .; then
    echo "component $c names the configured prefix $configured instead of its own:"
    grep -rnF "\"$configured/" "$prefix" --include='*.conf'
    failed=1
  fi
  case $c in
    libkvoclient1 | libkvoclient-dev)
      extra=$(cd "$prefix" && find . -mindepth 1 -maxdepth 1 ! -name lib ! -name include -printf '%P ')
      [[ -z $extra ]] || { echo "component $c installs more than the library: $extra"; failed=1; }
      ;;
    kvowebserver)
      for f in bin/kvoclient lib/kvowebserver/kvowebserver etc/kvowebserver/KVO.Server.Config \
        etc/lighttpd/conf-available/50-kvowebserver.conf share/doc/kvowebserver/examples/KVO.ini \
        var/lib/kvo/drives/C/KVO/KVO.Net/Config/KVO.Server.Config; do
        [[ -e $prefix/$f || -L $prefix/$f ]] || { echo "component $c lacks $f"; failed=1; }
      done
      ;;
  esac
done
[[ $failed == 0 ]] && echo "ok: every component installs into its own prefix alone"
exit $failed
