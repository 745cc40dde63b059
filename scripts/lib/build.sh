# Installing the packages and building the project, shared by scripts/test and scripts/serve.
# Source from bash after setting KVO_REPO_ROOT (or let it be derived).

KVO_REPO_ROOT=${KVO_REPO_ROOT:-$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}
KVO_JOBS=${KVO_JOBS:-$(nproc 2>/dev/null || echo 2)}
# Compiler cache hits across clones and worktrees of the repository (CI builds in a fresh one).
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$KVO_REPO_ROOT}

kvo_step() { printf '== %s\n' "$*"; }

# Installs the packages of scripts/lib/packages.txt that are missing; apt runs only then.
kvo_install_packages() {
  local wanted=() missing=() p
  mapfile -t wanted < <(sed -e 's/#.*//' -e 's/[[:space:]]//g' "$KVO_REPO_ROOT/scripts/lib/packages.txt" | grep .)
  for p in "${wanted[@]}"; do
    if [[ $(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) != "install ok installed" ]]; then
      missing+=("$p")
    fi
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  kvo_step "installing ${missing[*]}"
  if [[ $(id -u) -ne 0 ]]; then
    echo "missing packages; run as root or install them: ${missing[*]}" >&2
    return 1
  fi
  local log
  log=$(mktemp /tmp/kvo-apt.XXXXXX)
  if ! { apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q "${missing[@]}"; } \
    >"$log" 2>&1; then
    tail -n 40 "$log" >&2
    rm -f "$log"
    return 1
  fi
  rm -f "$log"
}

# kvo_build DIR [cmake arguments...]: configures (once) and builds everything in DIR, or only the
# target KVO_BUILD_TARGET (and what it needs) when that is set; prints the compiler's complaints
# only when the build fails.
kvo_build() {
  local dir=$1
  shift
  mkdir -p "$dir"
  # Warnings are errors for the project's own builds (development and CI), not for users.
  if ! cmake -S "$KVO_REPO_ROOT" -B "$dir" -DCMAKE_COMPILE_WARNING_AS_ERROR=ON "$@" \
    >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log" >&2
    return 1
  fi
  if ! cmake --build "$dir" -j "$KVO_JOBS" ${KVO_BUILD_TARGET:+--target "$KVO_BUILD_TARGET"} \
    >"$dir/build.log" 2>&1; then
    grep -E -A8 'error|Error|undefined reference' "$dir/build.log" | head -n 120 >&2
    echo "build failed: see $dir/build.log" >&2
    return 1
  fi
}
