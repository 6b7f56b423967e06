/* Shared helpers for the tonbrix test plugins: lifecycle logging.
 *
 * When the environment variable TONBRIX_TEST_LOG names a file, each event
 * appends one line "<event> <k>\n" to it, where k is the number of the
 * instance in this module (0 for the first instantiation in the process,
 * 1 for the second, ...). The file is opened, written and closed for every
 * line so that the log stays complete even if the host crashes later.
 */
#ifndef TONBRIX_TEST_LIFECYCLE_LOG_H
#define TONBRIX_TEST_LIFECYCLE_LOG_H

#include <stdio.h>
#include <stdlib.h>

/* Returns the number of the next instance (0, 1, 2, ...). Every plugin module
 * includes this header once, so each module has its own counter. */
static inline int tb_next_instance(void)
{
    static int counter = 0;
    return counter++;
}

/* Appends `line` and a newline to $TONBRIX_TEST_LOG, if that is set and non-empty. */
static inline void tb_log_line(const char* line)
{
    const char* path = getenv("TONBRIX_TEST_LOG");
    if (path == NULL || path[0] == '\0') {
        return;
    }
    FILE* f = fopen(path, "a");
    if (f == NULL) {
        return;
    }
    fputs(line, f);
    fputs("\n", f);
    fclose(f);
}

/* Appends "<event> <k>" (e.g. "activate 0"). */
static inline void tb_log(const char* event, int k)
{
    char line[128];
    snprintf(line, sizeof line, "%s %d", event, k);
    tb_log_line(line);
}

#endif
