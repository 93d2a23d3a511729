#include "SaverScene.h"

#include "ImageList.h"
#include "MemoryCanvas.h"

namespace hakop {

SaverScene::SaverScene(QImage backdrop, const TIForm& frames, std::function<QSize()> screenSize)
    : SaverScene(std::make_unique<MemoryCanvas>(std::move(backdrop)), frames, std::move(screenSize))
{
}

SaverScene::SaverScene(std::unique_ptr<Canvas> canvas, const TIForm& frames, std::function<QSize()> screenSize)
    : m_surface(std::move(canvas))
{
    if (!screenSize)
        screenSize = [this] { return m_surface.size(); };
    m_animation = std::make_unique<Animation>(m_surface, frames, m_random, std::move(screenSize));
}

SaverScene::~SaverScene() = default;

void SaverScene::show(std::uint32_t seed)
{
    m_surface.drawBackdrop();
    m_random.setSeed(seed);
    m_animation->Start();
    // The window system's first showing makes the whole window pending.
    m_surface.MarkPending(m_surface.rect());
}

void SaverScene::tick()
{
    // The event loop delivers a window's pending paint before a waiting tick.
    if (m_surface.hasPending())
        m_surface.paintPass();
    m_animation->Step();
}

QRegion SaverScene::paintPending()
{
    return m_surface.paintPass();
}

void SaverScene::redrawBackdrop()
{
    m_surface.drawBackdrop();
}

void SaverScene::close()
{
    m_surface.canvas().releaseBackdrop();
    m_animation->freeSprites();
}

} // namespace hakop
