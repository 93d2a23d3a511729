// The engine's cost per tick must not grow with the screen: a tick touches
// only the pixels under the five sprites. Even a pass with the whole screen
// pending (the first showing) draws only the sprites, so it stays flat too.
#include "ImageList.h"
#include "SaverScene.h"

#include <benchmark/benchmark.h>

#include <memory>

namespace {

const hakop::TIForm& frames()
{
    static const hakop::TIForm f;
    return f;
}

QImage backdrop(QSize size)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(qRgb(40, 90, 160));
    return img;
}

// A scene well into its run, so the sprites are spread out and walking.
std::unique_ptr<hakop::SaverScene> runningScene(QSize size)
{
    auto scene = std::make_unique<hakop::SaverScene>(backdrop(size), frames());
    scene->show(45296789);
    for (int t = 0; t < 200; ++t)
        scene->tick();
    return scene;
}

// One 100 ms tick as the window runs it: the event loop's leftover pass, then Step.
void BM_Tick(benchmark::State& state)
{
    auto scene = runningScene(QSize(int(state.range(0)), int(state.range(1))));
    for (auto _ : state) // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom; '_' is the iteration
        scene->tick();
    benchmark::DoNotOptimize(scene->surface().pixels().constBits());
}

// One paint pass over a sprite's rectangle (a picture change that marks it),
// drawing every sprite that meets it.
void BM_PaintPass(benchmark::State& state)
{
    auto scene = runningScene(QSize(int(state.range(0)), int(state.range(1))));
    scene->paintPending();
    hakop::Sprite* sprite = scene->animation().sprite(3);
    const QImage picture = sprite->Picture();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom; '_' is the iteration
        sprite->setPicture(picture);
        scene->paintPending();
    }
}

// A pass with the whole screen pending, as after the window is first shown.
void BM_FirstPass(benchmark::State& state)
{
    auto scene = std::make_unique<hakop::SaverScene>(backdrop(QSize(int(state.range(0)), int(state.range(1)))),
                                                     frames());
    scene->show(45296789);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom; '_' is the iteration
        scene->surface().MarkPending(scene->surface().rect());
        scene->paintPending();
    }
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Args({1920, 1080})->Args({3840, 2160})->Args({7680, 4320})->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(BM_Tick)->Apply(sizes);
BENCHMARK(BM_PaintPass)->Apply(sizes);
BENCHMARK(BM_FirstPass)->Apply(sizes);

BENCHMARK_MAIN();
