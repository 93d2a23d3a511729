#!/usr/bin/env bash
# Every place the README names for the service modules, tried with the
# stand-ins on the private X server with-x provides:
#   module_places_e2e.sh HAKOP STANDINS_DIR CMAKE BUILD_DIR MODULE_GUIDE (docs/modules.md)
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
hakop=$1 standins=$2 cmake=$3 build=$4 readme=$5
# A folder of our own: a module in a folder others may write is refused.
tmp=$(mktemp -d -p "$build")
placed=()
pid=
relink=
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  for f in "${placed[@]}"; do rm -f "$f"; done
  [ -z "$relink" ] || ldconfig
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
   # KWin grants its screenshots by the desktop entry that runs this very path.
   grep -qx "Exec=$hakop" "$tmp/prefix/share/applications/hakop.desktop" ||
     fail "the installed desktop entry does not run $hakop"
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

# The guide's system-wide recipe, word for word (without sudo: this runs as
# root), on the real /usr/local/lib and the system cache, with the guide's
# example modules built by its own commands: hakop-unlock (what the example
# verifier runs) and the terminal the example password changer opens are
# scripts here that write to the log. Then the guide's check of which module
# the saver will use, run as an unprivileged user.
readme_block() { # pattern: the guide's ```sh block holding it
  awk -v pat="$1" '/^```sh$/ {inb = 1; block = ""; next}
    /^```/ && inb {inb = 0; if (index(block, pat)) {printf "%s", block; exit}}
    inb {block = block $0 "\n"}' "$readme"
}
local_lib=/usr/local/lib
recipe_files=("$local_lib/libhakop-password.so" "$local_lib/libhakop-mpr.so" "$local_lib/PASSWORD.CPL" "$local_lib/MPR.DLL")
system_recipe_ready() {
  [ "$(id -u)" -eq 0 ] && [ -w "$local_lib" ] && command -v ldconfig >/dev/null && id nobody >/dev/null 2>&1 || return 1
  for f in "${recipe_files[@]}"; do [ ! -e "$f" ] || { echo "  $f exists already; not touched" >&2; return 1; }; done
}
as_nobody() { setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups env -i PATH=/usr/bin:/bin "$@"; }
exec 9>/tmp/hakop-module-places.lock
flock 9
if system_recipe_ready; then
  install_block=$(readme_block 'sudo ldconfig')
  check_block=$(readme_block '/sbin/ldconfig -p')
  mkdir -p "$tmp/recipe" "$tmp/bin"
  awk -v dir="$tmp/recipe" '/^```c$/ {n++; out = dir "/example" n ".c"; next}
                             /^```/ {out = ""} out != "" {print > out}' "$readme"
  cp "$tmp/recipe/example1.c" "$tmp/recipe/verifier.c" && cp "$tmp/recipe/example2.c" "$tmp/recipe/change.c"
  printf '#!/bin/sh\necho "verify 1" >>"$HAKOP_STANDIN_LOG"\n' >"$tmp/bin/hakop-unlock"
  printf '#!/bin/sh\necho "SCRSAVE 1 0 0" >>"$HAKOP_STANDIN_LOG"\n' >"$tmp/bin/x-terminal-emulator"
  chmod 755 "$tmp/bin"/*
  placed+=("${recipe_files[@]}")
  relink=1
  if [ -z "$install_block" ] || [ -z "$check_block" ]; then
    fail "the guide's system-wide recipe or its check is missing"
  elif ! (cd "$tmp/recipe" && grep -E '^cc -shared' "$readme" | sh -e && sed 's/^sudo //; s/ sudo / /g' <<<"$install_block" | sh -e); then
    fail "the guide's system-wide recipe did not run"
  else
    (export PATH=$tmp/bin:$PATH failures=0
     change_called || fail "MPR.DLL installed by the guide's recipe was not called"
     verifier_asked || fail "PASSWORD.CPL installed by the guide's recipe was not asked"
     exit "$failures") || failures=$((failures + $?))
    chmod 755 "$tmp" && mkdir -m 755 "$tmp/mine2" && cp "$tmp/recipe/PASSWORD.CPL" "$tmp/mine2/"
    found=$(as_nobody sh -c "$check_block" | head -n1)
    [ "$found" = "$local_lib/PASSWORD.CPL" ] || fail "the guide's check names '$found', not the installed module"
    found=$(as_nobody LD_LIBRARY_PATH="/nowhere:$tmp/mine2" sh -c "$check_block" | head -n1)
    [ "$found" = "$tmp/mine2/PASSWORD.CPL" ] || fail "the guide's check names '$found', not the one on LD_LIBRARY_PATH"
  fi
  unplace
  ldconfig
  relink=
  found=$(as_nobody sh -c "$check_block")
  [ -z "$found" ] || fail "the guide's check names '$found' with no module installed"
else
  echo "skipped: the guide's system-wide recipe (needs root, nobody, ldconfig and a clean /usr/local/lib)"
fi
flock -u 9

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "all module-place checks passed"
