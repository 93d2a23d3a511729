/* Stand-in screen-saver password verifier (PASSWORD.CPL). Which answer it
 * gives is chosen at build time:
 *   STANDIN_RESULT  the value returned (only its lowest byte counts)
 *   STANDIN_DELAY   seconds to wait before answering
 *   STANDIN_LOG_PID also log "pid <its process id>"
 *   STANDIN_ACCEPT_FROM  refuse until the Nth call of this process, then
 *                   return STANDIN_RESULT (a verifier with state)
 * When HAKOP_STANDIN_LOG names a file, each call appends "verify <window>". */
#include <stdio.h>
#include <stdlib.h>
#include <errno.h>
#include <time.h>
#include <unistd.h>

#ifndef STANDIN_DELAY
#define STANDIN_DELAY 0
#endif

int VerifyScreenSavePwd(unsigned long window)
{
#ifdef STANDIN_ACCEPT_FROM
    static int calls = 0;
    ++calls;
#endif
    const char* log = getenv("HAKOP_STANDIN_LOG");
    if (log != NULL && *log != '\0') {
        FILE* f = fopen(log, "a");
        if (f != NULL) {
            /* A lost line shows up as a missing call in the test that reads it. */
            (void)fprintf(f, "verify %lu\n", window);
#ifdef STANDIN_LOG_PID
            (void)fprintf(f, "pid %ld\n", (long)getpid());
#endif
            (void)fclose(f);
        }
    }
    if (STANDIN_DELAY > 0) {
        /* nanosleep, unlike sleep, is safe beside the caller's other threads. */
        struct timespec delay = {STANDIN_DELAY, 0};
        while (nanosleep(&delay, &delay) != 0 && errno == EINTR)
            ;
    }
#ifdef STANDIN_ACCEPT_FROM
    if (calls < STANDIN_ACCEPT_FROM)
        return 0;
#endif
    return STANDIN_RESULT;
}
