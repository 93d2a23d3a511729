#!/usr/bin/env bash
# Every place the README names for the service modules, tried with the
# stand-ins on the private X server with-x provides:
#   module_places_e2e.sh HAKOP STANDINS_DIR CMAKE BUILD_DIR
# For each place, MPR.DLL there is called by "hakop /a" and PASSWORD.CPL there
# is asked by "hakop /s" when a key ends it. A copy installed into a
# temporary prefix must not look in its own folder: it has no search path. The ld.so cache is shown, on a private cache, to index
# lib* files by SONAME only.
#
# The system folders are written only when they are writable (as root) and
# hold no module of that name already; a stand-in is there only for the
# seconds one check takes, and removed on any exit. A lock file serialises
# this test with other copies of it running on the same machine.
set -uo pipefail
hakop=$1 standins=$2 cmake=$3 build=$4
# Not under /tmp: a module in a folder others may write (mode 1777 on the
# way) is refused, as it should be.
tmp=$(mktemp -d -p "$build")
placed=()
pid=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  for f in "${placed[@]}"; do rm -f "$f"; done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
unset LD_LIBRARY_PATH
export HAKOP_STANDIN_LOG=$tmp/standin.log
mkdir -m 700 "$tmp/runtime" && export XDG_RUNTIME_DIR=$tmp/runtime

place() { # source target-dir: copies the stand-in in, or returns 1 when it may not
  local target=$2/$(basename "$1")
  [ -d "$2" ] && [ -w "$2" ] || return 1
  [ -e "$target" ] && { echo "  $target exists already; not touched" >&2; return 1; }
  cp "$1" "$target" && placed+=("$target")
}
unplace() { for f in "${placed[@]}"; do rm -f "$f"; done; placed=(); }

change_called() { # -> true when hakop /a reached MPR.DLL
  : >"$HAKOP_STANDIN_LOG"
  timeout 10 "$hakop" /a >/dev/null 2>&1
  grep -q '^SCRSAVE [0-9]* 0 0$' "$HAKOP_STANDIN_LOG"
}
verifier_asked() { # -> true when a key press made the saver ask PASSWORD.CPL
  : >"$HAKOP_STANDIN_LOG"
  "$hakop" /s & pid=$!
  for _ in $(seq 1 100); do
    xdotool search --onlyvisible --class '^THAKOPForm$' >/dev/null 2>&1 && break
    sleep 0.05
  done
  sleep 0.3
  xdotool key x
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; pid=
  grep -q '^verify [0-9]*$' "$HAKOP_STANDIN_LOG"
}
try_place() { # label dir
  local label=$1 dir=$2
  if place "$standins/record/MPR.DLL" "$dir"; then
    change_called || fail "MPR.DLL in $label was not called"
    unplace
  else
    echo "skipped: MPR.DLL in $label (not writable here)"
  fi
  if place "$standins/accept/PASSWORD.CPL" "$dir"; then
    verifier_asked || fail "PASSWORD.CPL in $label was not asked"
    unplace
  else
    echo "skipped: PASSWORD.CPL in $label (not writable here)"
  fi
}

# LD_LIBRARY_PATH: a folder of the user's own.
mkdir "$tmp/mine"
# (Subshells count their own failures and hand the count back as exit code.)
(failures=0; export LD_LIBRARY_PATH=$tmp/mine
 try_place "a folder on LD_LIBRARY_PATH" "$tmp/mine"; exit "$failures") || failures=$((failures + $?))

# The installed programs carry no search path, so modules beside them (or
# in ../lib) are not theirs to load: only the loader's own places count.
if "$cmake" --install "$build" --prefix "$tmp/prefix" >"$tmp/install.log" 2>&1; then
  (hakop=$tmp/prefix/bin/hakop failures=0
   mkdir -p "$tmp/prefix/lib"
   for dir in "$tmp/prefix/bin" "$tmp/prefix/lib"; do
     place "$standins/record/MPR.DLL" "$dir" && place "$standins/accept/PASSWORD.CPL" "$dir"
   done
   change_called && fail "MPR.DLL beside the installed program was called"
   verifier_asked && fail "PASSWORD.CPL beside the installed program was asked"
   unplace
   exit "$failures") || failures=$((failures + $?))
else
  fail "cmake --install into a temporary prefix: $(cat "$tmp/install.log")"
fi

# Without any module the services are skipped (this also proves the system
# folders are clean before the stand-ins go in).
change_called && fail "MPR.DLL found with none installed"

exec 9>/tmp/hakop-module-places.lock
flock 9
multiarch=$(gcc -print-multiarch 2>/dev/null || dpkg-architecture -qDEB_HOST_MULTIARCH 2>/dev/null || echo x86_64-linux-gnu)
dirs=("/usr/lib/$multiarch" /usr/lib)
# On a system without the merged /usr layout /lib is a folder of its own.
[ /lib -ef /usr/lib ] || dirs+=("/lib/$multiarch" /lib)
for dir in "${dirs[@]}"; do try_place "$dir" "$dir"; done

flock -u 9

# Why, and the way round it: ldconfig reads only lib* file names and indexes
# them under their SONAME. A private cache is built here (-C), no links are
# made (-X), the system's cache is not touched.
ldcache() { # dir: the private cache's entries for that folder
  echo "$1" >"$tmp/ld.so.conf"
  ldconfig -X -f "$tmp/ld.so.conf" -C "$tmp/ld.so.cache" 2>/dev/null &&
    ldconfig -p -C "$tmp/ld.so.cache" | grep -F "=> $1/"
}
if command -v ldconfig >/dev/null; then
  mkdir "$tmp/byname" "$tmp/bysoname"
  cp "$standins/accept/PASSWORD.CPL" "$tmp/byname/"
  ldcache "$tmp/byname" && fail "ldconfig indexed a module by its file name"
  cp "$standins/accept/PASSWORD.CPL" "$tmp/bysoname/libhakop-verifier.so"
  ldcache "$tmp/bysoname" | grep -q "^[[:space:]]*PASSWORD.CPL " ||
    fail "ldconfig did not index lib*.so with SONAME PASSWORD.CPL under that name"
else
  echo "skipped: ldconfig cache check (no ldconfig here)"
fi

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all module-place checks passed"
