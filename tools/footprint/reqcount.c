/* Counts the core requests that clients connecting from now on send, by kind,
 * over a stretch after a settling time:
 *   reqcount SETTLE_S SECONDS PROGRAM [ARGS...]
 * starts PROGRAM, waits SETTLE_S seconds, counts for SECONDS and prints
 * "<request> <per second>" for each kind seen (the saver ticks ten times a
 * second: divide by ten for a tick); an extension's requests go by its name;
 * then the pixels the CopyArea requests cover a second, the server's pixel
 * work beside the request count.
 * Needs the RECORD extension. */
#include <X11/Xlib.h>
#include <X11/Xproto.h>
#include <X11/extensions/record.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static long counts[256];
static int counting;
static double copiedPixels;

static void seen(XPointer unused, XRecordInterceptData *data)
{
    (void)unused;
    if (counting && data->category == XRecordFromClient && data->data_len >= 1) {
        ++counts[data->data[0]];
        /* xCopyAreaReq: width and height are the last two CARD16, in the
         * client's byte order; the clients measured here run on this machine. */
        if (data->data[0] == X_CopyArea && data->data_len * 4 >= sz_xCopyAreaReq) {
            const xCopyAreaReq *copy = (const xCopyAreaReq *)data->data;
            copiedPixels += (double)copy->width * copy->height;
        }
    }
    XRecordFreeData(data);
}

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

int main(int argc, char **argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: reqcount SETTLE_S SECONDS PROGRAM [ARGS...]\n");
        return 2;
    }
    const double settle = strtod(argv[1], NULL), secs = strtod(argv[2], NULL);
    Display *control = XOpenDisplay(NULL), *data = XOpenDisplay(NULL);
    if (control == NULL || data == NULL)
        return 1;
    XRecordRange *range = XRecordAllocRange();
    range->core_requests.first = 1;
    range->core_requests.last = 127;
    /* Extensions' requests are asked for apart: core numbers stop at 127. */
    range->ext_requests.ext_major.first = 128;
    range->ext_requests.ext_major.last = 255;
    range->ext_requests.ext_minor.first = 0;
    range->ext_requests.ext_minor.last = 65535;
    XRecordClientSpec clients = XRecordFutureClients;
    XRecordContext context = XRecordCreateContext(control, 0, &clients, 1, &range, 1);
    XSync(control, False);
    if (context == 0 || !XRecordEnableContextAsync(data, context, seen, NULL)) {
        fprintf(stderr, "reqcount: no RECORD extension\n");
        return 1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        execvp(argv[3], argv + 3);
        _exit(127);
    }
    const double start = now();
    while (now() - start < settle + secs) {
        counting = now() - start >= settle;
        XRecordProcessReplies(data);
        usleep(2000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, NULL, 0);
    static const char *names[128] = {[X_CopyArea] = "CopyArea", [X_ChangeGC] = "ChangeGC",
        [X_PolyFillRectangle] = "PolyFillRectangle", [X_PutImage] = "PutImage", [X_CreatePixmap] = "CreatePixmap",
        [X_CreateGC] = "CreateGC", [X_GetInputFocus] = "GetInputFocus", [X_ChangeWindowAttributes] = "ChangeWindowAttributes"};
    for (int i = 0; i < 128; ++i)
        if (counts[i] > 0)
        {
            if (names[i] != NULL)
                printf("%s %.1f\n", names[i], counts[i] / secs);
            else
                printf("request %d %.1f\n", i, counts[i] / secs);
        }
    int extensionCount = 0;
    char **extensions = XListExtensions(control, &extensionCount);
    for (int i = 128; i < 256; ++i)
        if (counts[i] > 0)
        {
            const char *name = "extension";
            for (int e = 0; e < extensionCount; ++e) {
                int major = 0, event = 0, error = 0;
                if (XQueryExtension(control, extensions[e], &major, &event, &error) && major == i)
                    name = extensions[e];
            }
            printf("%s request %d %.1f\n", name, i, counts[i] / secs);
        }
    XFreeExtensionList(extensions);
    printf("CopyArea pixels %.0f\n", copiedPixels / secs);
    return 0;
}
