// Faults the sanitizer builds must catch, to prove they really instrument
// what they build: each mode commits one fault, then prints "survived", which
// no sanitized run may reach (no report is recovered from).
#include <QCoreApplication>
#include <QTimer>

#include <climits>
#include <cstdio>
#include <cstring>
#include <thread>

namespace {

int useAfterFree()
{
    int *p = new int[4]{1, 2, 3, 4};
    volatile int *alias = p;
    delete[] p;
    return alias[2];
}

int signedOverflow(int by)
{
    volatile int big = INT_MAX;
    return big + by;
}

int dataRace()
{
    int shared = 0;
    auto bump = [&shared] {
        for (int i = 0; i < 10000; ++i)
            shared = shared + 1;
    };
    std::thread a(bump);
    std::thread b(bump);
    a.join();
    b.join();
    return shared;
}

// The same race with one side run by Qt's event loop, as the saver's GUI
// thread runs everything: Qt's uninstrumented frames below ours must not
// hide it.
int dataRaceInEventLoop(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int shared = 0;
    std::thread other([&shared] {
        for (int i = 0; i < 10000; ++i)
            shared = shared + 1;
    });
    QTimer::singleShot(0, &app, [&] {
        for (int i = 0; i < 10000; ++i)
            shared = shared + 2;
        other.join();
        app.quit();
    });
    QCoreApplication::exec();
    return shared;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sanitize_faults use-after-free|signed-overflow|data-race|data-race-in-event-loop\n");
        return 2;
    }
    int result = 0;
    if (std::strcmp(argv[1], "use-after-free") == 0)
        result = useAfterFree();
    else if (std::strcmp(argv[1], "signed-overflow") == 0)
        result = signedOverflow(argc);
    else if (std::strcmp(argv[1], "data-race") == 0)
        result = dataRace();
    else if (std::strcmp(argv[1], "data-race-in-event-loop") == 0)
        result = dataRaceInEventLoop(argc, argv);
    else
        return 2;
    std::printf("survived %d\n", result);
    return 0;
}
