#!/bin/sh
# The layering, checked over the sources: dependencies only run downwards
# (platform, engine -> x11, wayland -> saver, hosted, idle, dialogs -> app;
# the verifier stands alone), each window system's headers stay in its own
# folders, and no product source grows past 400 lines. The build already
# refuses most upward includes (no layer exports the repository root); this
# also catches relative paths, bare names and system headers, which an
# include path cannot keep out.
root=${1:?usage: layers_test.sh SOURCE_DIR}
cd "$root" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }

sources() { find "$@" -name '*.cpp' -o -name '*.h' -o -name '*.c'; }
product="app platform engine x11 wayland saver hosted idle verifier dialogs"

# A header named without its folder is one beside the file (or one the build
# generates): another layer's header goes by "<folder>/X.h".
for f in $(sources $product); do
  for h in $(sed -n 's/^#include *"\([^/"]*\)".*/\1/p' "$f"); do
    case $h in HakopVersion.h | HostedHelp.h | *-client-protocol.h) continue ;; esac
    [ -e "$(dirname "$f")/$h" ] || bad "$f includes \"$h\" by its bare name, from another folder"
  done
done
# Each window system's headers only in its own folders: X11 in x11/, the
# X11 shell and the guest (app/main.cpp opens the display); Wayland in
# wayland/ and the Wayland shell.
for f in $(sources $product); do
  case $f in x11/* | saver/x11/* | hosted/* | app/main.cpp) ;; *)
    grep -HnE '#include *[<"](X11|xcb)/' "$f" && bad "$f includes X11 outside the X11 folders" ;;
  esac
  case $f in wayland/* | saver/wayland/*) ;; *)
    grep -HnE '#include *[<"]wayland-' "$f" && bad "$f includes Wayland outside the Wayland folders" ;;
  esac
done
# The guest is a program of its own: nobody includes it.
for f in $(sources $(echo $product | sed 's/hosted//')); do
  grep -HnE '#include *"(\.\./)*hosted/' "$f" && bad "$f includes the guest"
done

# Nothing outside app/ includes from app/.
for f in $(sources platform engine x11 wayland saver hosted idle verifier dialogs); do
  grep -Hn '#include *"\(\.\./\)*app/' "$f" && bad "$f includes app/"
done
# platform/ knows nothing of the layers above it.
for f in $(sources platform); do
  grep -HnE '#include *"(\.\./)*(engine|x11|wayland|saver|hosted|idle|verifier|dialogs|app)/' "$f" && bad "$f includes an upper layer"
done
# The engine has no window system and no upper layer.
for f in $(sources engine); do
  grep -HnE '#include *"(\.\./)*(platform|x11|wayland|saver|hosted|idle|verifier|dialogs|app)/' "$f" && bad "$f includes another layer"
done
# x11/ and wayland/ draw for whoever runs the scene, know none of them, nor each other.
for f in $(sources x11); do
  grep -HnE '#include *"(\.\./)*(wayland|saver|hosted|idle|verifier|dialogs|app)/' "$f" && bad "$f includes an upper layer"
done
for f in $(sources wayland); do
  grep -HnE '#include *"(\.\./)*(x11|saver|hosted|idle|verifier|dialogs|app)/' "$f" && bad "$f includes an upper layer"
done
# The verifier helper is a process of its own: it takes nothing from the program's layers.
for f in $(sources verifier); do
  grep -HnE '#include *"(\.\./)*(platform|engine|x11|wayland|saver|hosted|idle|dialogs|app)/' "$f" && bad "$f includes a layer"
done
# dialogs/, saver/, hosted/ and idle/ are siblings.
for f in $(sources dialogs); do
  grep -HnE '#include *"(\.\./)*(saver|hosted|idle|wayland)/' "$f" && bad "$f includes saver/, hosted/, idle/ or wayland/"
done
for f in $(sources saver); do
  grep -HnE '#include *"(\.\./)*(dialogs|hosted|idle)/' "$f" && bad "$f includes dialogs/, hosted/ or idle/"
done
# The saver's rules know no window system; each shell knows only its own.
for f in $(find saver -maxdepth 1 -name '*.cpp' -o -maxdepth 1 -name '*.h'); do
  grep -HnE '#include *"(\.\./)*(x11|wayland|saver/x11|saver/wayland)/' "$f" && bad "$f includes a window system's layer"
done
for f in $(sources saver/x11); do
  grep -HnE '#include *"(\.\./)*(wayland|saver/wayland)/' "$f" && bad "$f includes the Wayland side"
done
for f in $(sources saver/wayland); do
  grep -HnE '#include *"(\.\./)*(x11|saver/x11)/' "$f" && bad "$f includes the X11 side"
done
for f in $(sources hosted); do
  grep -HnE '#include *"(\.\./)*(saver|idle|dialogs)/' "$f" && bad "$f includes saver/, idle/ or dialogs/"
done
# The idle watcher is a program of its own beside the saver: it starts the
# saver, and takes nothing from it.
for f in $(sources idle); do
  grep -HnE '#include *"(\.\./)*(saver|hosted|dialogs|app)/' "$f" && bad "$f includes another program's layer"
done
# No product source file is longer than 400 lines.
for f in $(sources $product); do
  n=$(wc -l <"$f")
  [ "$n" -le 400 ] || bad "$f has $n lines"
done
[ $fail -eq 0 ] && echo "layers hold"
exit $fail
