#include "cli/run.h"

#include <tonbrix/error.h>

#include <cstdio>
#include <new>

int main(int argc, char** argv)
{
    // Running out of memory in a small allocation unwinds through the
    // owners of everything acquired so far, so all of it is released.
    try {
        return tonbrix::cli::tonbrix_main(argc, argv);
    } catch (const std::bad_alloc&) {
        std::fputs(tonbrix::insufficient_memory_message, stderr);
        return 1;
    }
}
