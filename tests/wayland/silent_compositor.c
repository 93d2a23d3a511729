/* A Wayland socket whose compositor never answers, for tests of what a
 * client does then:
 *   silent_compositor PATH [drip]
 * listens on PATH and takes every connection. Plain, it never writes; with
 * "drip" it sends each connection a byte every 200 ms of one message that
 * never completes, so the client always has something to read and never an
 * answer. Prints "ready" once it listens; runs until killed. */
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

enum { maxClients = 64 };

int main(int argc, char** argv)
{
    struct sockaddr_un address = {.sun_family = AF_UNIX};
    const size_t length = argc < 2 ? 0 : strlen(argv[1]);
    if (length == 0 || length >= sizeof address.sun_path) {
        fprintf(stderr, "usage: silent_compositor PATH [drip]\n");
        return 2;
    }
    const int drip = argc > 2 && strcmp(argv[2], "drip") == 0;
    memcpy(address.sun_path, argv[1], length);
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0);
    unlink(argv[1]);
    if (listener < 0 || bind(listener, (struct sockaddr*)&address, sizeof address) != 0 || listen(listener, 16) != 0) {
        perror("silent_compositor");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);

    /* The header of a wl_display event of 2048 bytes: object 1, size << 16 | opcode 0. */
    const uint32_t header[2] = {1, 2048u << 16};
    int clients[maxClients];
    size_t sent[maxClients];
    int count = 0;
    for (;;) {
        struct pollfd incoming = {.fd = listener, .events = POLLIN};
        poll(&incoming, 1, 200);
        int client;
        while (count < maxClients && (client = accept(listener, NULL, NULL)) >= 0) {
            clients[count] = client;
            sent[count++] = 0;
        }
        for (int i = 0; drip && i < count; ++i) {
            if (sent[i] >= 2048)
                continue;
            const unsigned char byte = sent[i] < sizeof header ? ((const unsigned char*)header)[sent[i]] : 0;
            if (send(clients[i], &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1)
                ++sent[i];
        }
    }
}
