#!/usr/bin/env bash
# no_empty_runpath.sh FOLDER...: fails when any ELF executable or shared
# object under the folders has an empty entry in its RUNPATH or RPATH.
# no_empty_runpath.sh --installed BUILD: the same for what `cmake --install`
# writes from that build folder (into a temporary prefix). The
# loader reads an empty entry (a leading, trailing or doubled ':', or an empty
# path) as the current directory, so libraries and service modules would be
# loaded from wherever the program happens to be started.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: no_empty_runpath.sh FOLDER... | --installed BUILD" >&2; exit 2; }

if [ "$1" = --installed ]; then
  prefix=$(mktemp -d)
  trap 'rm -rf "$prefix"' EXIT
  cmake --install "$2" --prefix "$prefix" >/dev/null
  set -- "$prefix"
fi

checked=0
bad=0
while IFS= read -r -d '' f; do
  [ "$(head -c 4 "$f" 2>/dev/null | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  dyn=$(readelf -d "$f" 2>/dev/null) || continue
  checked=$((checked + 1))
  while IFS= read -r path; do
    case ":$path:" in
      *::*)
        echo "empty entry in run path [$path]: $f"
        bad=$((bad + 1))
        ;;
    esac
  done < <(printf '%s\n' "$dyn" | sed -n 's/.*(\(RUNPATH\|RPATH\)).*path: \[\(.*\)\]$/\2/p')
done < <(find "$@" -type f \( -perm -u+x -o -name '*.so*' -o -name '*.CPL' -o -name '*.DLL' \) \
           -not -path '*/CMakeFiles/*' -print0)

echo "checked $checked ELF files, $bad empty run-path entries"
[ "$checked" -gt 0 ] || { echo "no ELF files found" >&2; exit 1; }
[ "$bad" -eq 0 ]
