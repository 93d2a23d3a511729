/* Password verifiers that fail in the ways a real module might, one per
 * build (STANDIN_FAULT): the saver must survive each of them and refuse.
 *   1  segfaults in VerifyScreenSavePwd
 *   2  aborts
 *   3  calls exit(3)
 *   4  segfaults in its constructor, while it is being loaded
 *   5  leaves a child process behind (holding every descriptor it had for
 *      5 s), then segfaults
 * Each logs "verify <window>" first when it gets as far as being called. */
#include "standin_log.h"

#include <stdlib.h>
#include <unistd.h>

static inline void crash(void)
{
    volatile int* volatile nowhere = NULL;
    *nowhere = 1;
}

#if STANDIN_FAULT == 4
__attribute__((constructor)) static void load(void)
{
    crash();
}
#endif

int VerifyScreenSavePwd(unsigned long window)
{
    standin_log("verify %lu", window);
#if STANDIN_FAULT == 1
    crash();
#elif STANDIN_FAULT == 2
    abort();
#elif STANDIN_FAULT == 3
    exit(3);
#elif STANDIN_FAULT == 5
    if (fork() == 0) {
        sleep(5);
        _exit(0);
    }
    crash();
#endif
    return 1;
}
