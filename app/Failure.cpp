#include "Failure.h"

#include "x11/keeper/InputGrab.h"
#include "x11/keeper/ForegroundBox.h"
#include "x11/ToolkitConnection.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

namespace hakop {

namespace {

// The load address of the module holding 'address' (the program itself for
// code linked into it); 0 when the loader does not know the address.
std::uintptr_t loadAddressOf(const void* address)
{
    Dl_info info{};
    if (address != nullptr && dladdr(address, &info) != 0 && info.dli_fbase != nullptr)
        return reinterpret_cast<std::uintptr_t>(info.dli_fbase);
    // Fall back to the main program's base (the first object the loader lists).
    std::uintptr_t base = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* phdr, std::size_t, void* data) {
            *static_cast<std::uintptr_t*>(data) = phdr->dlpi_addr;
            return 1;
        },
        &base);
    return base;
}

const void* relativeToLoadAddress(const void* address)
{
    const auto absolute = reinterpret_cast<std::uintptr_t>(address);
    const std::uintptr_t base = loadAddressOf(address);
    // An offset shown as an address, as the box's text asks; never dereferenced.
    return reinterpret_cast<const void*>(absolute >= base ? absolute - base : absolute); // NOLINT(performance-no-int-to-ptr)
}

std::string programFileName()
{
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && exe.has_filename())
        return exe.filename().string();
    return "hakop";
}

} // namespace

std::string applicationErrorText(const std::string& kind, const std::string& moduleName,
                                 const void* relativeAddress, const std::string& message)
{
    // %p the way the classic runtime prints it: upper-case hex, pointer-wide,
    // no "0x".
    std::array<char, 2 * sizeof(void*) + 1> address{};
    std::snprintf(address.data(), address.size(), "%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)),
                  reinterpret_cast<std::uintptr_t>(relativeAddress));
    const bool addDot = !message.empty() && message.back() != '.';
    return "Exception " + kind + " in module " + moduleName + " at " + address.data() + ".\r\n" + message
        + (addDot ? "." : "") + "\r\n";
}

std::string handlerFailureText(const std::string& message)
{
    // Compared as unsigned bytes: the last byte of a UTF-8 character (always
    // >= 0x80) sorts above "." just as its first byte does.
    if (!message.empty() && static_cast<unsigned char>(message.back()) > static_cast<unsigned char>('.'))
        return message + ".";
    return message;
}

void failWindowSetup(const SetupFailure& failure)
{
    const std::string text = applicationErrorText(failure.kind(), programFileName(),
                                                  relativeToLoadAddress(failure.address()), failure.what());
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        QMessageBox box(QMessageBox::Critical, QStringLiteral("Application Error"), QString::fromStdString(text),
                        QMessageBox::Ok);
        box.exec();
    } else {
        std::fputs(text.c_str(), stderr);
    }
    std::fflush(nullptr);
    std::_Exit(1);
}

void reportHandlerFailure(const std::exception& failure)
{
    const QString text = QString::fromStdString(handlerFailureText(failure.what()));
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
        return;
    }
    // A box needs memory of its own (its fonts are loaded on first use, a
    // window, its picture): out of memory, the toolkit would fail inside it
    // and end the program, uncovering the screen. One line, and go on.
    if (dynamic_cast<const std::bad_alloc*>(&failure) != nullptr) {
        logSurvived("out of memory; the program goes on");
        return;
    }
    // One box is enough: a failure while it is open (a tick's, a second
    // input's) is only logged, so boxes never pile up.
    static bool boxOpen = false;
    if (boxOpen) {
        logSurvived("another failure while its box is open: " + text.toStdString());
        return;
    }
    boxOpen = true;
    {
        // While it is open the saver (if one runs) lets the box lie above it
        // and have the keyboard; afterwards it takes its grabs back.
        platform::ForegroundBoxScope shown;
        QMessageBox box(QMessageBox::Critical, QStringLiteral("HAKOP"), text, QMessageBox::Ok);
        std::unique_ptr<platform::InputGrab> grab;
        QTimer take;
        if (platform::foregroundBoxKeeperSet()) {
            // Above a full-screen window no window manager would stack it.
            box.setWindowFlags(box.windowFlags() | Qt::X11BypassWindowManagerHint | Qt::WindowStaysOnTopHint);
            Display* display = platform::toolkitDisplay();
            take.setInterval(50);
            // display by value: the timer fires during exec(), after this block.
            QObject::connect(&take, &QTimer::timeout, &box, [&box, &grab, &take, display] {
                if (!grab)
                    grab = std::make_unique<platform::InputGrab>(display, static_cast<unsigned long>(box.winId()));
                box.raise();
                if (grab->tryTake())
                    take.stop();
            });
            take.start();
        }
        box.exec();
        take.stop();
        grab.reset();
    }
    boxOpen = false;
}

} // namespace hakop
