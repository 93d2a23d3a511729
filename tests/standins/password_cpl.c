/* Stand-in screen-saver password verifier (PASSWORD.CPL). Which answer it
 * gives is chosen at build time:
 *   STANDIN_RESULT  the value returned (only its lowest byte counts)
 *   STANDIN_DELAY   seconds to wait before answering
 *   STANDIN_LOG_PID also log "pid <its process id>"
 * When HAKOP_STANDIN_LOG names a file, each call appends "verify <window>". */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#ifndef STANDIN_DELAY
#define STANDIN_DELAY 0
#endif

int VerifyScreenSavePwd(unsigned long window)
{
    const char* log = getenv("HAKOP_STANDIN_LOG");
    if (log != NULL && *log != '\0') {
        FILE* f = fopen(log, "a");
        if (f != NULL) {
            fprintf(f, "verify %lu\n", window);
#ifdef STANDIN_LOG_PID
            fprintf(f, "pid %ld\n", (long)getpid());
#endif
            fclose(f);
        }
    }
    if (STANDIN_DELAY > 0)
        sleep(STANDIN_DELAY);
    return STANDIN_RESULT;
}
