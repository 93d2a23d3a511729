#pragma once
// The Composite extension's overlay window: a child of the root that the
// server keeps above every other child, whatever they do. A window put in it
// stays above any other client's window, even one raised every millisecond;
// with a compositing manager it also shows above what the manager paints
// there. The overlay exists while some client holds it, and its children go
// with it: a window is taken out before the overlay is let go.
//
// The overlay is missing from the root's list of children, so a window in it
// is not found by walking the tree from the root. While a window lives there,
// an input-only marker carrying the window's WM_CLASS stays among the
// root's children (mapped, off the screen), so that a look for a running
// saver, or for a visible window of its class, still finds one.
//
// Any client may ask for the overlay too, and unmap it, shape it away, or put
// a window of its own in it (made there or reparented into it) and raise it
// over ours. While a window lives there, the overlay is held as the window
// is: an unmap or a shape is undone as soon as it is heard, and a foreign
// window in it is kept below ours; one that climbs above ours a second time
// is unmapped, as often as it comes back. (A compositing manager's own window
// in the overlay is put below ours once and never climbs.) The overlay's
// input shape is left alone: a compositing manager empties it.

#include "OverlayHolder.h"
#include "x11/XHandles.h"

#include <memory>
#include <set>

union _XEvent; // NOLINT(bugprone-reserved-identifier): Xlib's own name for it
using XEvent = union _XEvent; // NOLINT(bugprone-reserved-identifier): Xlib's own name for it

namespace hakop::platform {

class CompositeOverlay {
public:
    // display is an Xlib Display* (the connection that holds the overlay, and
    // moves the window); root the window's root.
    CompositeOverlay(Display* display, unsigned long root);
    // Lets go of the overlay and removes the marker. A window still in the
    // overlay must have been taken out (leave) or be gone.
    ~CompositeOverlay();
    CompositeOverlay(const CompositeOverlay&) = delete;
    CompositeOverlay& operator=(const CompositeOverlay&) = delete;

    enum class Entry { Entered, NoComposite, ManagerOutside, Gone, Refused };
    // Puts 'window' (a child of the root) in the overlay at the same place.
    // NoComposite: the server lacks the extension (or a version with the
    // overlay); ManagerOutside: a compositing manager runs that does not
    // hold the overlay (it paints onto the root, over the overlay too);
    // Gone: the window no longer exists; Refused: the window could not be
    // put there. Otherwise the window
    // stays where it was. The connection must be selecting the root's
    // substructure events (the overlay's mapping tells who else holds it).
    Entry enter(unsigned long window);
    // Puts the window back among the root's children, on top of them, and
    // lets go of the overlay (unmapped then, unless someone else holds it).
    // With 'windowExists' false only the overlay is let go.
    void leave(unsigned long window, bool windowExists = true);
    // The overlay while the window is in it, else 0.
    unsigned long window() const { return m_inside ? m_overlay : 0; }

    // A compositing manager paints the screen into the overlay, over our
    // window too (its drawing includes the overlay's children), whenever
    // something under it changes. While one runs, the window is watched for
    // that drawing and given its own picture back at once. This takes an
    // event read from the display: Drawing when it was about that drawing
    // (handled), Manager when a compositing manager started or ended (the
    // window is best taken out and put in again, to be judged afresh).
    // Unmapped: another client unmapped the overlay, mapped again (the
    // window's grabs went with it); Undone: another client shaped it, shape
    // taken off again.
    enum class Heard { Other, Drawing, Manager, Unmapped, Undone };
    Heard hear(const XEvent& event);

    // After a batch of events heard: whether the holder undid something
    // another client did to the overlay since the last call. With
    // 'lookAgain' (or without a holder) the overlay is also looked at as a
    // whole and put right as described above, should anything have been
    // missed. The server has it when this returns.
    bool hold(bool lookAgain);

private:
    void release();
    void watchDrawing(unsigned long window);

    Display* m_dpy;
    unsigned long m_root;
    unsigned long m_overlay = 0; // held while not 0
    unsigned long m_marker = 0;
    unsigned long m_window = 0;
    unsigned long m_damage = 0; // the window's drawing, watched while a compositing manager runs
    int m_damageEvent = -1;
    int m_selectionEvent = -1; // XFixes, telling when a compositing manager comes or goes
    int m_shapeEvent = -1;
    std::set<unsigned long> m_climbed; // foreign windows in the overlay that came above ours once
    std::unique_ptr<OverlayHolder> m_holder; // while the window is inside
    unsigned long m_ownClear = 0; // the request number of our last repaint
    unsigned long m_enteredAt = 0; // the request number that put the window in
    bool m_inside = false;
    bool m_managerOutside = false;
    bool m_managerChanged = false; // a compositing manager came or went since the window entered
};

} // namespace hakop::platform
