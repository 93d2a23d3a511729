#pragma once
// One surface of ours over each output, kept as outputs come, go and
// change size: an overlay surface where the compositor has the layer shell,
// else a fullscreen window. The first cover is the figures' (the scene draws there
// through its canvas); the others show a still picture.
//
// Outputs: one added while running is covered black (no picture of it was
// taken); one removed is let go; the figures' output removed is reported
// (figuresGone) and its surface kept until the saver ends.
#include "Connection.h"
#include "CoverSurface.h"
#include "ScreenCopy.h"
#include "ShmBuffer.h"
#include "SurfaceFit.h"

#include <QImage>

#include <functional>
#include <memory>
#include <vector>

struct wl_surface;

namespace hakop {
class WaylandCanvas;
}

namespace hakop::platform::wayland {

class OutputCovers {
public:
    struct Cover {
        Output* output = nullptr;
        std::unique_ptr<CoverSurface> surface;
        int scale = 1;
        // What an output without figures shows, kept until the compositor is done with it.
        std::unique_ptr<ShmBuffer> still;
        // The figures' output draws here instead (the scene owns it).
        WaylandCanvas* canvas = nullptr;
        bool toldNoMemory = false;
        bool shown = false;
        SurfaceFit stillFit; // how 'still' is shown

        // How a buffer fills the output pixel for pixel, as it is now.
        SurfaceFit fit() const { return surface->fitTo(output != nullptr ? output->uprightSize() : QSize(), scale); }
    };

    explicit OutputCovers(Connection& connection);
    ~OutputCovers();
    OutputCovers(const OutputCovers&) = delete;
    OutputCovers& operator=(const OutputCovers&) = delete;

    // A surface over each of 'outputs', the first for the figures; then
    // waits for every one to be configured. False when the connection is
    // lost or the figures' surface was closed at once.
    bool cover(const std::vector<Output*>& outputs);
    // Follows the connection's outputs from now on.
    void follow();

    const std::vector<std::unique_ptr<Cover>>& covers() const { return m_covers; }
    Cover* figures() const { return m_figures; }
    // The figures' output went (or its surface was closed): the saver ends.
    bool figuresGone() const { return m_figuresGone; }

    // Shows a cover without figures its frozen picture: the capture's own
    // memory where it is that picture already, else an upright copy, else
    // the plain backdrop.
    void showFrozen(Cover& cover, Capture& capture);
    void showStill(Cover& cover, const QImage& picture);
    void showPending();
    Cover* coverOf(wl_surface* surface) const;
    // The compositor asked one of our windows to close (its close button in
    // GNOME's overview, for one).
    std::function<void()> onCloseAsked;

private:
    bool configureAll();
    std::unique_ptr<CoverSurface> surfaceOn(Output& output, bool keyboard);
    void outputAdded(Output& output);
    void outputRemoved(Output& output);

    Connection& m_connection;
    std::vector<std::unique_ptr<Cover>> m_covers;
    Cover* m_figures = nullptr; // the figures' output's cover
    bool m_figuresGone = false;
};

} // namespace hakop::platform::wayland
