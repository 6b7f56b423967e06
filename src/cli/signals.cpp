#include "cli/signals.h"

#include <unistd.h>

#include <climits>
#include <cstring>

namespace tonbrix::cli {

StopRequest run_stop;
// Lock-free, so the handler may touch it.
static_assert(std::atomic<int>::is_always_lock_free);

namespace {

// What the crash handler needs, prepared beforehand: it may only make
// async-signal-safe calls.
char crash_prefix[2048];
std::size_t crash_prefix_length = 0;
// The temporary files to remove, each ended by a null character; the
// first empty one ends the table.
char crash_cleanup_paths[8][PATH_MAX];

void remove_crash_cleanup_paths()
{
    for (const char* path : crash_cleanup_paths) {
        if (path[0] == '\0') {
            return;
        }
        ::unlink(path);
    }
}
alignas(16) char crash_stack[1 << 16];

struct SignalName {
    int number;
    const char* name;
};
constexpr SignalName crash_signals[] = {
    {SIGSEGV, "SIGSEGV"}, {SIGBUS, "SIGBUS"}, {SIGFPE, "SIGFPE"},
    {SIGILL, "SIGILL"},   {SIGABRT, "SIGABRT"},
};

void append(char* line, std::size_t size, std::size_t& length, const char* text)
{
    for (; *text != '\0' && length + 1 < size; ++text) {
        line[length++] = *text;
    }
}

// The first stop signal asks the loop to stop; a later one ends the
// process at once, without the temporary output, as the first would have.
extern "C" void on_stop_signal(int number)
{
    if (run_stop.request(number)) {
        return;
    }
    remove_crash_cleanup_paths();
    static constexpr char message[] = "Interrupted.\n";
    [[maybe_unused]] const ssize_t written =
        ::write(STDERR_FILENO, message, sizeof message - 1);
    ::_exit(128 + number);
}

// Set by the first thread that crashes: instances on other threads may
// crash at the same moment, and only one may report and end the process.
std::atomic<bool> crashing{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void on_crash_signal(int number)
{
    if (crashing.exchange(true)) {
        // Another thread is reporting its crash and ends the process.
        for (;;) {
            ::pause();
        }
    }
    remove_crash_cleanup_paths();
    char line[sizeof crash_prefix + 64];
    std::size_t length = 0;
    for (std::size_t i = 0; i < crash_prefix_length; ++i) {
        line[length++] = crash_prefix[i];
    }
    char digits[16];
    std::size_t count = 0;
    for (int n = number; n > 0 && count < sizeof digits; n /= 10) {
        digits[count++] = static_cast<char>('0' + n % 10);
    }
    while (count > 0) {
        line[length++] = digits[--count];
    }
    const char* name = "unknown";
    for (const SignalName& s : crash_signals) {
        if (s.number == number) {
            name = s.name;
        }
    }
    append(line, sizeof line, length, " (");
    append(line, sizeof line, length, name);
    append(line, sizeof line, length, ")\n");
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line, length);

    // The default action ends the process once the handler returns, so the
    // exit status shows the signal.
    ::signal(number, SIG_DFL);
    ::raise(number);
}

void install(int number, void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    action.sa_flags = flags;
    sigemptyset(&action.sa_mask);
    ::sigaction(number, &action, nullptr);
}

} // namespace

void install_run_signal_handlers(const char* plugin_uri)
{
    crash_prefix_length = 0;
    append(crash_prefix, sizeof crash_prefix, crash_prefix_length, "tonbrix: plugin ");
    append(crash_prefix, sizeof crash_prefix, crash_prefix_length, plugin_uri);
    append(crash_prefix, sizeof crash_prefix, crash_prefix_length, " crashed with signal ");

    // A plugin that overflows its stack still gets its line printed.
    stack_t stack{};
    stack.ss_sp = crash_stack;
    stack.ss_size = sizeof crash_stack;
    ::sigaltstack(&stack, nullptr);

    // A stop signal that was ignored when the process started (nohup,
    // background jobs of scripts) stays ignored.
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        install(number, on_stop_signal, SA_RESTART);
    }
    install(SIGPIPE, SIG_IGN, 0);
    install(SIGXFSZ, SIG_IGN, 0);
    for (const SignalName& s : crash_signals) {
        install(s.number, on_crash_signal, SA_ONSTACK);
    }
}

void add_crash_cleanup_path(const std::string& path)
{
    // A path too long for its place is not removed rather than cut short.
    if (path.empty() || path.size() >= PATH_MAX) {
        return;
    }
    for (char* place : crash_cleanup_paths) {
        if (place[0] == '\0') {
            std::memcpy(place, path.c_str(), path.size() + 1);
            return;
        }
    }
}

void clear_crash_cleanup_paths()
{
    for (char* place : crash_cleanup_paths) {
        place[0] = '\0';
    }
}

StopRequest batch_stop;

namespace {

extern "C" void on_batch_signal(int number)
{
    batch_stop.request(number);
}

} // namespace

void install_batch_signal_handlers()
{
    for (int number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) {
            continue;
        }
        // No SA_RESTART: a wait for the workers returns to pass the signal on.
        install(number, on_batch_signal, 0);
    }
    install(SIGPIPE, SIG_IGN, 0);
}

} // namespace tonbrix::cli
