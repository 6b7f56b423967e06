#include "cli/run.h"

int main(int argc, char** argv)
{
    return tonbrix_main(argc, argv);
}
