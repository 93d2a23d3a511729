/* A Wayland socket whose compositor never answers, for tests of what a
 * client does then:
 *   silent_compositor PATH
 * listens on PATH and never reads or writes a byte; a connection is taken
 * all the same (the kernel queues it). Prints "ready" once it listens; runs
 * until killed. */
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    const size_t length = argc < 2 ? 0 : strlen(argv[1]);
    if (length == 0 || length >= sizeof address.sun_path) {
        fprintf(stderr, "usage: silent_compositor PATH\n");
        return 2;
    }
    memcpy(address.sun_path, argv[1], length);
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    unlink(argv[1]);
    if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 || listen(listener, 64) != 0) {
        perror("silent_compositor");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    for (;;)
        pause();
}
