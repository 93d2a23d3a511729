/* A password verifier that reports the state it was started in, then lets
 * the saver close: one log line each for
 *   "fds N N ..."      the open descriptors
 *   "sigint default|changed"
 *   "blocked none|some"
 *   "pdeathsig N"      the signal it gets when the saver goes */
#include "standin_log.h"

#include <dirent.h>
#include <signal.h>
#include <string.h>
#include <sys/prctl.h>

int VerifyScreenSavePwd(unsigned long window)
{
    standin_log("verify %lu", window);

    char fds[512] = "fds";
    DIR* dir = opendir("/proc/self/fd");
    if (dir != NULL) {
        const int own = dirfd(dir);
        struct dirent* entry;
        while ((entry = readdir(dir)) != NULL) {
            if (entry->d_name[0] == '.' || atoi(entry->d_name) == own)
                continue;
            if (strlen(fds) + strlen(entry->d_name) + 2 < sizeof fds) {
                strcat(fds, " ");
                strcat(fds, entry->d_name);
            }
        }
        closedir(dir);
    }
    standin_log("%s", fds);

    struct sigaction action;
    sigaction(SIGINT, NULL, &action);
    standin_log("sigint %s", action.sa_handler == SIG_DFL ? "default" : "changed");

    sigset_t blocked;
    sigprocmask(SIG_BLOCK, NULL, &blocked);
    int any = 0;
    for (int sig = 1; sig < 32; ++sig)
        any |= sigismember(&blocked, sig);
    standin_log("blocked %s", any ? "some" : "none");

    int deathSignal = 0;
    prctl(PR_GET_PDEATHSIG, &deathSignal);
    standin_log("pdeathsig %d", deathSignal);
    return 1;
}
