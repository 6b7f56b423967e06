#pragma once

#include <tonbrix/stop.h>

#include <atomic>
#include <csignal>
#include <string>

namespace tonbrix::cli {

// The SIGINT, SIGTERM or SIGHUP a processing run received (its reason is
// the first one's number); the run stops when it is requested. The handler
// may run on any thread: a plugin that raises a signal raises it on the
// thread that runs it.
extern StopRequest run_stop;

// Installs the handlers of a processing run; a signal that was ignored
// when the process started stays ignored. The first stop signal sets
// run_stop; a second one removes the temporary output files, prints
// "Interrupted." and ends the process at once with 128 + its number.
// SIGPIPE and SIGXFSZ are ignored, so that a closed pipe or a file size
// limit fails the write instead of killing the process. A crash (SIGSEGV,
// SIGBUS, SIGFPE, SIGILL, SIGABRT) removes the temporary output files,
// prints one line naming `plugin_uri` and the signal, and is re-raised.
void install_run_signal_handlers(const char* plugin_uri);

// Adds a temporary file (the audio output's, a MIDI output's) to those
// that a crash or a second stop signal removes; a path too long for the
// handler's table, or past its last place, is not removed.
void add_crash_cleanup_path(const std::string& path);

// Forgets every such file: a run's files are in place or gone.
void clear_crash_cleanup_paths();

} // namespace tonbrix::cli

namespace tonbrix::cli {

// The stop signals a batch's own process received: how many, and the
// number of the last one, which the batch passes on to its workers.
extern StopRequest batch_stop;

// Installs the handlers of a batch's own process: SIGINT, SIGTERM and
// SIGHUP (unless ignored when the process started) count into the two
// above and interrupt a wait, so that the batch can pass them on to its
// workers; SIGPIPE is ignored.
void install_batch_signal_handlers();

} // namespace tonbrix::cli
