// The engine's cost per tick must not grow with the screen: a tick touches
// only the pixels under the five sprites. Even a pass with the whole screen
// pending (the first showing) draws only the sprites, so it stays flat too.
// BM_TickOnServer times what ships: the same ticks drawn on the X server's
// canvas of an Xvfb the benchmark starts, server's work included.
#include "engine/ImageList.h"
#include "engine/SaverScene.h"
#include "x11/ServerCanvas.h"

#include <benchmark/benchmark.h>
#include <xcb/xcb.h>

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

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
    const hakop::KeyedFrame picture = sprite->Picture();
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

// A private Xvfb as big as the largest screen size, for the process's life.
class PrivateX {
public:
    static PrivateX& instance()
    {
        static PrivateX x;
        return x;
    }
    xcb_connection_t* connection() const { return m_connection; }
    ~PrivateX()
    {
        if (m_connection != nullptr)
            xcb_disconnect(m_connection);
        if (m_server > 0) {
            kill(m_server, SIGTERM);
            waitpid(m_server, nullptr, 0);
        }
    }

private:
    PrivateX()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        m_server = fork();
        if (m_server == 0) {
            close(fds[0]);
            // Xvfb reports every display number it finds taken; none of that is ours.
            const int quiet = open("/dev/null", O_WRONLY);
            if (quiet >= 0)
                dup2(quiet, 2);
            const std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "7680x4320x24", "-nolisten", "tcp",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        char number[16] = {};
        const ssize_t n = read(fds[0], number, sizeof number - 1);
        close(fds[0]);
        if (n <= 0)
            return;
        const std::string display = ":" + std::string(number, std::size_t(n) - (number[n - 1] == '\n' ? 1 : 0));
        m_connection = xcb_connect(display.c_str(), nullptr);
        if (xcb_connection_has_error(m_connection)) {
            xcb_disconnect(m_connection);
            m_connection = nullptr;
        }
    }
    pid_t m_server = -1;
    xcb_connection_t* m_connection = nullptr;
};

// One 100 ms tick as the running saver does it: the tick, its leftover pass,
// the changed areas copied to a mapped window, and a round trip so the
// server's own work is timed too.
void BM_TickOnServer(benchmark::State& state)
{
    xcb_connection_t* c = PrivateX::instance().connection();
    if (c == nullptr) {
        state.SkipWithError("cannot start Xvfb");
        return;
    }
    const QSize size(int(state.range(0)), int(state.range(1)));
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const std::uint32_t window = xcb_generate_id(c);
    const std::uint32_t values[] = {1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, std::uint16_t(size.width()),
                      std::uint16_t(size.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(c, window);
    auto canvas = hakop::ServerCanvas::create(c, window, size);
    if (!canvas) {
        state.SkipWithError("no server canvas");
        return;
    }
    hakop::ServerCanvas* server = canvas.get();
    server->drawImage(backdrop(size), QPoint(0, 0));
    hakop::SaverScene scene(std::move(canvas), frames());
    auto sync = [c] { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); };
    scene.show(45296789);
    for (int t = 0; t < 200; ++t) {
        scene.tick();
        scene.paintPending();
        server->present(scene.surface().takeDrawn());
    }
    sync();
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores): the library's loop idiom; '_' is the iteration
        scene.tick();
        scene.paintPending();
        server->present(scene.surface().takeDrawn());
        sync();
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
BENCHMARK(BM_TickOnServer)->Apply(sizes);

BENCHMARK_MAIN();
