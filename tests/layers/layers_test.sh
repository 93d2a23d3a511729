#!/bin/sh
# The layering, checked over the sources: dependencies only run downwards
# (platform, engine -> x11, wayland -> saver, hosted, dialogs -> app; the
# verifier stands alone) and no product source grows past 400 lines. The build already refuses most upward includes (no layer
# exports the repository root); this also catches relative paths and
# system headers, which an include path cannot keep out.
root=${1:?usage: layers_test.sh SOURCE_DIR}
cd "$root" || exit 1
fail=0
bad() { echo "FAIL: $*"; fail=1; }

sources() { find "$@" -name '*.cpp' -o -name '*.h'; }
engine_headers=$(cd engine && ls *.h | sed 's/\./\\./g' | paste -sd'|')

# Nothing outside app/ includes from app/.
for f in $(sources platform engine x11 wayland saver hosted verifier dialogs); do
  grep -Hn '#include *"\(\.\./\)*app/' "$f" && bad "$f includes app/"
done
# platform/ knows nothing of the layers above it.
for f in $(sources platform); do
  grep -HnE '#include *"(\.\./)*(engine|x11|wayland|saver|hosted|verifier|dialogs|app)/' "$f" && bad "$f includes an upper layer"
  grep -HnE "#include *\"($engine_headers)\"" "$f" && bad "$f includes an engine header"
  grep -HnE '#include *[<"](X11|xcb|wayland-)' "$f" && bad "$f includes a window system"
done
# The engine has no window system and no upper layer.
for f in $(sources engine); do
  grep -HnE '#include *[<"](X11|xcb)/' "$f" && bad "$f includes X11 or xcb"
  grep -HnE '#include *"(\.\./)*(platform|x11|wayland|saver|hosted|verifier|dialogs|app)/' "$f" && bad "$f includes another layer"
done
# x11/ and wayland/ draw for whoever runs the scene, know none of them, nor each other.
for f in $(sources x11); do
  grep -HnE '#include *"(\.\./)*(wayland|saver|hosted|verifier|dialogs|app)/' "$f" && bad "$f includes an upper layer"
done
for f in $(sources wayland); do
  grep -HnE '#include *"(\.\./)*(x11|saver|hosted|verifier|dialogs|app)/' "$f" && bad "$f includes an upper layer"
done
# The verifier helper is a process of its own: it takes nothing from the program's layers.
for f in $(sources verifier); do
  grep -HnE '#include *"(\.\./)*(platform|x11|saver|hosted|dialogs|app)/' "$f" && bad "$f includes a layer"
  grep -HnE "#include *\"($engine_headers)\"" "$f" && bad "$f includes an engine header"
done
# dialogs/, saver/ and hosted/ are siblings.
for f in $(sources dialogs); do
  grep -HnE '#include *"(\.\./)*(saver|hosted|wayland)/' "$f" && bad "$f includes saver/, hosted/ or wayland/"
done
for f in $(sources saver); do
  grep -HnE '#include *"(\.\./)*(dialogs|hosted)/' "$f" && bad "$f includes dialogs/ or hosted/"
done
for f in $(sources hosted); do
  grep -HnE '#include *"(\.\./)*(saver|dialogs)/' "$f" && bad "$f includes saver/ or dialogs/"
done
# No product source file is longer than 400 lines.
for f in $(sources app platform engine x11 wayland saver hosted verifier dialogs); do
  n=$(wc -l <"$f")
  [ "$n" -le 400 ] || bad "$f has $n lines"
done
[ $fail -eq 0 ] && echo "layers hold"
exit $fail
