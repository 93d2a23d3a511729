// What a test on KWin needs from a client of its own (run as KWin's user,
// from a path a desktop file grants org_kde_kwin_fake_input and
// org.kde.KWin.ScreenShot2):
//   kwin_client desktop READY_FILE   a desktop under every window: output i
//                                    striped in a colour of its own; SIGUSR1
//                                    paints every output magenta. Writes
//                                    READY_FILE once KWin has each picture.
//   kwin_client key CODE             presses and releases a key (Linux code)
//   kwin_client shot OUTPUT FILE     KWin's screenshot of OUTPUT, as a PNG
#include "wayland/Connection.h"
#include "wayland/Protocols.h"
#include "wayland/ShmBuffer.h"

#include "fake-input-client-protocol.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QImage>
#include <QVariantMap>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace wl = hakop::platform::wayland;

namespace {

volatile std::sig_atomic_t repaint = 0;

struct Wallpaper {
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    std::unique_ptr<wl::ShmBuffer> buffer;
    QSize size;
    std::uint32_t serial = 0;
    bool configured = false;
};

void configure(void* data, zwlr_layer_surface_v1* layer, std::uint32_t serial, std::uint32_t w, std::uint32_t h)
{
    auto& paper = *static_cast<Wallpaper*>(data);
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    paper.size = QSize(int(w), int(h));
    paper.configured = true;
}

void closed(void*, zwlr_layer_surface_v1*) {}

void paint(wl::Connection& connection, Wallpaper& paper, std::size_t index, bool magenta)
{
    static const QRgb colours[] = {0xff2060c0, 0xff20a040, 0xffc08020};
    paper.buffer = wl::ShmBuffer::create(connection.shm(), paper.size);
    QImage image = paper.buffer->image();
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = magenta ? 0xffff00ff : ((x / 40 + y / 40) % 2 != 0 ? colours[index % 3] : 0xffe0e0e0);
    }
    wl_surface_attach(paper.surface, paper.buffer->buffer(), 0, 0);
    wl_surface_damage(paper.surface, 0, 0, paper.size.width(), paper.size.height());
    wl_surface_commit(paper.surface);
}

int desktop(const char* readyFile)
{
    auto connection = wl::Connection::open();
    if (!connection || connection->layerShell() == nullptr)
        return std::fprintf(stderr, "kwin_client: no layer shell\n"), 1;
    std::signal(SIGUSR1, [](int) { repaint = 1; });
    std::vector<Wallpaper> papers(connection->outputs().size());
    static const zwlr_layer_surface_v1_listener listener = {.configure = &configure, .closed = &closed};
    for (std::size_t i = 0; i < papers.size(); ++i) {
        Wallpaper& paper = papers[i];
        paper.surface = wl_compositor_create_surface(connection->compositor());
        paper.layer = zwlr_layer_shell_v1_get_layer_surface(connection->layerShell(), paper.surface,
                                                            connection->outputs()[i]->output,
                                                            ZWLR_LAYER_SHELL_V1_LAYER_BACKGROUND, "wallpaper");
        zwlr_layer_surface_v1_add_listener(paper.layer, &listener, &paper);
        zwlr_layer_surface_v1_set_anchor(paper.layer, 15);
        zwlr_layer_surface_v1_set_exclusive_zone(paper.layer, -1);
        zwlr_layer_surface_v1_set_size(paper.layer, 0, 0);
        wl_surface_commit(paper.surface);
    }
    for (std::size_t i = 0; i < papers.size(); ++i) {
        while (!papers[i].configured)
            if (!connection->roundtrip())
                return 1;
        paint(*connection, papers[i], i, false);
    }
    if (!connection->roundtrip())
        return 1;
    // Two frames later KWin shows them.
    ::usleep(200000);
    if (FILE* ready = std::fopen(readyFile, "w"))
        std::fclose(ready);
    while (true) {
        if (repaint != 0) {
            repaint = 0;
            for (std::size_t i = 0; i < papers.size(); ++i)
                paint(*connection, papers[i], i, true);
        }
        if (!connection->flush())
            return 1;
        pollfd fd = {connection->fd(), POLLIN, 0};
        if (::poll(&fd, 1, 50) > 0 && !connection->readAndDispatch())
            return 1;
    }
}

org_kde_kwin_fake_input* fakeInput = nullptr;

void global(void*, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version)
{
    if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0)
        fakeInput = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, std::min(version, 4u)));
}

void globalRemove(void*, wl_registry*, std::uint32_t) {}

// KWin lists the global only to a client it grants it.
int key(char** argv)
{
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
        return std::fprintf(stderr, "kwin_client: no Wayland display\n"), 1;
    static const wl_registry_listener listener = {.global = &global, .global_remove = &globalRemove};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &listener, nullptr);
    wl_display_roundtrip(display);
    wl_registry_destroy(registry);
    if (fakeInput == nullptr)
        return std::fprintf(stderr, "kwin_client: KWin does not grant org_kde_kwin_fake_input\n"), 1;
    org_kde_kwin_fake_input_authenticate(fakeInput, "hakop test", "keys");
    const auto code = std::uint32_t(std::strtoul(argv[2], nullptr, 10));
    org_kde_kwin_fake_input_keyboard_key(fakeInput, code, WL_KEYBOARD_KEY_STATE_PRESSED);
    org_kde_kwin_fake_input_keyboard_key(fakeInput, code, WL_KEYBOARD_KEY_STATE_RELEASED);
    const int rc = wl_display_roundtrip(display) < 0 ? 1 : 0;
    org_kde_kwin_fake_input_destroy(fakeInput);
    wl_display_disconnect(display);
    return rc;
}

int shot(const char* output, const char* file)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return 1;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.KWin"), QStringLiteral("/org/kde/KWin/ScreenShot2"),
        QStringLiteral("org.kde.KWin.ScreenShot2"), QStringLiteral("CaptureScreen"));
    message << QString::fromLocal8Bit(output)
            << QVariantMap{{QStringLiteral("native-resolution"), true}, {QStringLiteral("include-cursor"), false}}
            << QVariant::fromValue(QDBusUnixFileDescriptor(fds[1]));
    ::close(fds[1]);
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message, QDBus::Block, 10000);
    message = QDBusMessage();
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        std::fprintf(stderr, "kwin_client: %s\n", qPrintable(reply.errorMessage()));
        return 1;
    }
    const QVariantMap results = qdbus_cast<QVariantMap>(reply.arguments().first());
    QImage image(results.value(QStringLiteral("width")).toInt(), results.value(QStringLiteral("height")).toInt(),
                 QImage::Format(results.value(QStringLiteral("format")).toUInt()));
    if (image.isNull() || image.bytesPerLine() != results.value(QStringLiteral("stride")).toInt())
        return std::fprintf(stderr, "kwin_client: an unexpected picture\n"), 1;
    QFile pipe;
    if (!pipe.open(fds[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return 1;
    qint64 got = 0;
    while (got < image.sizeInBytes()) {
        const qint64 n = pipe.read(reinterpret_cast<char*>(image.bits()) + got, image.sizeInBytes() - got);
        if (n <= 0)
            return std::fprintf(stderr, "kwin_client: the picture was cut short\n"), 1;
        got += n;
    }
    return image.convertToFormat(QImage::Format_RGB32).save(QString::fromLocal8Bit(file), "PNG") ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "desktop") == 0)
        return desktop(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "key") == 0)
        return key(argv);
    if (argc == 4 && std::strcmp(argv[1], "shot") == 0)
        return shot(argv[2], argv[3]);
    std::fprintf(stderr, "usage: kwin_client desktop READY_FILE | key CODE | shot OUTPUT FILE\n");
    return 2;
}
