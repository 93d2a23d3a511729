/* The stand-ins' log: with HAKOP_STANDIN_LOG naming a file, each line is
 * appended to it at once (a stand-in may die right after writing). */
#ifndef HAKOP_STANDIN_LOG_H
#define HAKOP_STANDIN_LOG_H

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

static void standin_log(const char* format, ...)
{
    const char* path = getenv("HAKOP_STANDIN_LOG");
    if (path == NULL || *path == '\0')
        return;
    FILE* f = fopen(path, "a");
    if (f == NULL)
        return;
    va_list args;
    va_start(args, format);
    vfprintf(f, format, args);
    va_end(args);
    fputc('\n', f);
    fclose(f);
}

#endif
