#pragma once

#include <csignal>
#include <string>

// The number of the first SIGINT, SIGTERM or SIGHUP a processing run
// received; 0 until then. The block loop stops when it is set.
extern volatile sig_atomic_t stop_signal;

// Installs the handlers of a processing run. The stop signals set
// stop_signal (a second one of a kind acts as if there were no handler).
// SIGPIPE and SIGXFSZ are ignored, so that a closed pipe or a file size
// limit fails the write instead of killing the process. A crash (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT) removes the temporary output file,
// prints one line naming `plugin_uri` and the signal, and is re-raised.
void install_run_signal_handlers(const char* plugin_uri);

// The temporary output file that a crash removes; empty for none.
void set_crash_cleanup_path(const std::string& path);
