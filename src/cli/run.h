#pragma once

namespace tonbrix::cli {

// The whole program: chooses the mode from the command line, runs it, and
// returns the exit status after releasing everything it acquired.
int tonbrix_main(int argc, char** argv);

} // namespace tonbrix::cli
