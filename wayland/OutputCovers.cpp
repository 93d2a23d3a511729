#include "OutputCovers.h"

#include "Connection.h"
#include "DesktopPicture.h"
#include "FullscreenWindow.h"
#include "LayerSurface.h"
#include "WaylandCanvas.h"
#include "platform/Failure.h"

#include <QPainter>

#include <utility>

namespace hakop::platform::wayland {

OutputCovers::OutputCovers(Connection& connection)
    : m_connection(connection)
{
}

OutputCovers::~OutputCovers()
{
    m_connection.onOutputAdded = nullptr;
    m_connection.onOutputRemoved = nullptr;
}

bool OutputCovers::cover(const std::vector<Output*>& outputs)
{
    for (Output* output : outputs) {
        auto cover = std::make_unique<Cover>();
        cover->output = output;
        cover->scale = output->scale;
        // The keys go to the figures' surface alone.
        cover->surface = surfaceOn(*output, m_covers.empty());
        m_covers.push_back(std::move(cover));
    }
    m_figures = m_covers.front().get();
    return configureAll();
}

std::unique_ptr<CoverSurface> OutputCovers::surfaceOn(Output& output, bool keyboard)
{
    std::unique_ptr<CoverSurface> surface;
    if (m_connection.layerShell() != nullptr)
        surface = std::make_unique<LayerSurface>(m_connection, output.output, keyboard);
    else
        surface = std::make_unique<FullscreenWindow>(m_connection, output.output, output.name);
    surface->onCloseAsked = [this] {
        if (onCloseAsked)
            onCloseAsked();
    };
    return surface;
}

void OutputCovers::showFrozen(Cover& cover, Capture& capture)
{
    const SurfaceFit fit = cover.fit();
    if (!captureIsUpright(capture, fit.buffer)) {
        showStill(cover, frozenPicture(capture, fit.buffer));
        return;
    }
    // The copy is already in memory the compositor can show: no second one.
    cover.still = std::move(capture.buffer);
    cover.stillFit = fit;
    cover.surface->show(*cover.still, fit);
    cover.shown = true;
}

void OutputCovers::follow()
{
    m_connection.onOutputAdded = [this](Output& output) { outputAdded(output); };
    m_connection.onOutputRemoved = [this](Output& output) { outputRemoved(output); };
}

bool OutputCovers::configureAll()
{
    auto waiting = [this] {
        for (const auto& cover : m_covers)
            if (!cover->surface->configured() && !cover->surface->closed())
                return true;
        return false;
    };
    while (waiting())
        if (!m_connection.roundtrip())
            return false;
    return !m_figures->surface->closed();
}

void OutputCovers::showStill(Cover& cover, const QImage& picture)
{
    const SurfaceFit fit = cover.fit();
    cover.still = ShmBuffer::create(m_connection.shm(), fit.buffer);
    if (!cover.still)
        return; // left uncovered rather than end the saver
    QImage target = cover.still->image();
    target.fill(Qt::black);
    if (!picture.isNull()) {
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(QPoint(0, 0), picture);
    }
    cover.stillFit = fit;
    cover.surface->show(*cover.still, fit);
    cover.shown = true;
}

// Outputs added while running are configured in the background, and an
// output resized is covered afresh at its new size (the figures' output too:
// the figures stay in the part it had at the start).
// A surface the compositor closed (its output going) is let go.
void OutputCovers::showPending()
{
    for (auto it = m_covers.begin(); it != m_covers.end();) {
        Cover& cover = **it;
        if (cover.surface->closed() && &cover != m_figures) {
            it = m_covers.erase(it);
            continue;
        }
        if (cover.surface->closed())
            m_figuresGone = true;
        else if (!cover.shown && cover.surface->configured())
            showStill(cover, QImage());
        else if (cover.still && cover.fit() != cover.stillFit)
            showStill(cover, cover.still->image().copy()); // the output was resized: its picture, the rest black
        else if (cover.canvas && !cover.canvas->refit(cover.fit()) && !std::exchange(cover.toldNoMemory, true))
            logSurvived("no shared memory for the figures' output at its new size; its new part stays uncovered");
        ++it;
    }
}

void OutputCovers::outputAdded(Output& output)
{
    auto cover = std::make_unique<Cover>();
    cover->output = &output;
    cover->scale = output.scale;
    cover->surface = surfaceOn(output, false);
    m_covers.push_back(std::move(cover));
}

void OutputCovers::outputRemoved(Output& output)
{
    for (auto it = m_covers.begin(); it != m_covers.end(); ++it) {
        if ((*it)->output != &output)
            continue;
        if (it->get() == m_figures) {
            // The figures have nowhere to play: the saver ends, its surfaces kept until then.
            m_figuresGone = true;
            (*it)->output = nullptr;
            return;
        }
        m_covers.erase(it);
        return;
    }
}

OutputCovers::Cover* OutputCovers::coverOf(wl_surface* surface) const
{
    for (const auto& cover : m_covers)
        if (surface != nullptr && cover->surface->surface() == surface)
            return cover.get();
    return nullptr;
}

} // namespace hakop::platform::wayland
