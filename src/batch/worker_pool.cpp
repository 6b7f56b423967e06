#include "batch/worker_pool.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>

namespace tonbrix {

namespace {

// A job's number to a worker, or its status back.
struct Message {
    uint64_t job = 0;
    int32_t status = 0;
    int32_t unused = 0;
};

// One worker process and what the pool keeps for it. The captures outlive
// the process, so that a replacement writes to the same ones.
struct Slot {
    pid_t pid = -1;
    int command = -1; // write end: job numbers to the worker
    int result = -1;  // read end: statuses from the worker
    int out = -1;     // captures of standard output, standard error, notes and report
    int err = -1;
    int notes = -1;
    int report = -1;
    bool busy = false;
    std::size_t job = 0;
};

void close_fd(int& fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// A file in memory that a worker's stream appends to; -1 when none can be had.
int make_capture(const char* name)
{
    const int fd = ::memfd_create(name, MFD_CLOEXEC);
    if (fd >= 0) {
        ::fcntl(fd, F_SETFL, O_APPEND);
    }
    return fd;
}

// Everything written to a capture since the last take; empties it. Only
// while its worker is between jobs or gone.
std::string take_capture(int fd)
{
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::pread(fd, text.data() + got, text.size() - got,
                                  static_cast<off_t>(got));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    [[maybe_unused]] const int truncated = ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
    return text;
}

bool read_message(int fd, Message& message)
{
    auto* bytes = reinterpret_cast<char*>(&message);
    std::size_t got = 0;
    while (got < sizeof message) {
        const ssize_t n = ::read(fd, bytes + got, sizeof message - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

bool write_message(int fd, const Message& message)
{
    const auto* bytes = reinterpret_cast<const char*>(&message);
    std::size_t put = 0;
    while (put < sizeof message) {
        const ssize_t n = ::write(fd, bytes + put, sizeof message - put);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        put += static_cast<std::size_t>(n);
    }
    return true;
}

// The worker's whole life: takes job numbers until the pool closes the
// pipe, runs each with its streams captured and answers with the status.
[[noreturn]] void worker_main(const Slot& slot, int commands, int results,
                              const WorkerPoolCallbacks& callbacks)
{
    // A worker does not outlive the run, even one killed outright.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() == 1) {
        ::_exit(1);
    }
    const auto open_capture = [](int capture) {
        const int fd = ::dup(capture);
        FILE* stream = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
        if (fd >= 0 && stream == nullptr) {
            ::close(fd);
        }
        return stream;
    };
    FILE* notes = open_capture(slot.notes);
    FILE* report = open_capture(slot.report);
    // Each line goes out as it is written: a job's lines so far are not
    // lost when its plugin crashes.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (notes != nullptr) {
        std::setvbuf(notes, nullptr, _IOLBF, 0);
    }
    Message message;
    while (read_message(commands, message)) {
        std::fflush(stdout);
        ::dup2(slot.out, STDOUT_FILENO);
        ::dup2(slot.err, STDERR_FILENO);
        message.status = callbacks.run_job(static_cast<std::size_t>(message.job),
                                           notes ? notes : stdout, report ? report : stdout);
        std::fflush(stdout);
        std::fflush(stderr);
        for (FILE* stream : {notes, report}) {
            if (stream != nullptr) {
                std::fflush(stream);
            }
        }
        if (callbacks.after_job) {
            callbacks.after_job();
        }
        if (!write_message(results, message)) {
            break;
        }
    }
    if (callbacks.worker_done) {
        callbacks.worker_done();
    }
    ::_exit(0);
}

// Forks the worker of one slot; false when the pipes or the process cannot
// be had.
bool spawn(std::vector<Slot>& slots, std::size_t index, const WorkerPoolCallbacks& callbacks)
{
    Slot& slot = slots[index];
    int commands[2];
    int results[2];
    if (::pipe2(commands, O_CLOEXEC) != 0) {
        return false;
    }
    if (::pipe2(results, O_CLOEXEC) != 0) {
        ::close(commands[0]);
        ::close(commands[1]);
        return false;
    }
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The other workers' pipes stay theirs: a worker holding them would
        // hide another's end.
        for (Slot& other : slots) {
            close_fd(other.command);
            close_fd(other.result);
        }
        ::close(commands[1]);
        ::close(results[0]);
        worker_main(slot, commands[0], results[1], callbacks);
    }
    ::close(commands[0]);
    ::close(results[1]);
    if (pid < 0) {
        ::close(commands[1]);
        ::close(results[0]);
        return false;
    }
    slot.pid = pid;
    slot.command = commands[1];
    slot.result = results[0];
    slot.busy = false;
    return true;
}

// The requests to stop so far; none without a stop request.
int stop_count(const StopRequest* stop)
{
    return stop != nullptr ? stop->count() : 0;
}

// Waits for a worker to end; its wait status. A stop signal that comes
// meanwhile is passed on to every worker still there.
int reap(Slot& slot, std::vector<Slot>& slots, int& signals_seen, const StopRequest* stop)
{
    int status = 0;
    while (::waitpid(slot.pid, &status, 0) < 0) {
        if (errno != EINTR) {
            status = 0;
            break;
        }
        const int count = stop_count(stop);
        if (count != signals_seen) {
            signals_seen = count;
            for (const Slot& other : slots) {
                if (other.pid > 0) {
                    ::kill(other.pid, stop->last_reason());
                }
            }
        }
    }
    slot.pid = -1;
    close_fd(slot.command);
    close_fd(slot.result);
    return status;
}

bool is_stop_signal(int number)
{
    return number == SIGINT || number == SIGTERM || number == SIGHUP;
}

} // namespace

int run_worker_pool(const std::vector<std::size_t>& jobs, std::size_t workers,
                    const WorkerPoolCallbacks& callbacks, const StopRequest* stop, bool& started)
{
    started = true;
    if (jobs.empty()) {
        return 0;
    }
    std::vector<Slot> slots(std::clamp<std::size_t>(workers, 1, jobs.size()));
    std::size_t live = 0;
    for (std::size_t i = 0; i < slots.size(); ++i) {
        slots[i].out = make_capture("tonbrix-out");
        slots[i].err = make_capture("tonbrix-err");
        slots[i].notes = make_capture("tonbrix-notes");
        slots[i].report = make_capture("tonbrix-report");
        if (slots[i].out >= 0 && slots[i].err >= 0 && slots[i].notes >= 0 &&
            slots[i].report >= 0 && spawn(slots, i, callbacks)) {
            ++live;
        }
    }
    auto release = [&] {
        for (Slot& slot : slots) {
            close_fd(slot.out);
            close_fd(slot.err);
            close_fd(slot.notes);
            close_fd(slot.report);
        }
    };
    if (live == 0) {
        release();
        started = false;
        return 0;
    }

    int signals_seen = stop_count(stop);
    bool stopping = signals_seen != 0;
    std::size_t next = 0;
    std::size_t done = 0;
    std::vector<pollfd> waits;
    std::vector<std::size_t> waiting_slots;
    while (!stopping && done < jobs.size()) {
        for (std::size_t i = 0; i < slots.size() && next < jobs.size(); ++i) {
            Slot& slot = slots[i];
            if (slot.pid > 0 && !slot.busy) {
                Message message;
                message.job = jobs[next];
                slot.job = jobs[next];
                slot.busy = write_message(slot.command, message);
                next += slot.busy ? 1 : 0;
            }
        }
        waits.clear();
        waiting_slots.clear();
        for (std::size_t i = 0; i < slots.size(); ++i) {
            if (slots[i].pid > 0 && slots[i].busy) {
                waits.push_back({slots[i].result, POLLIN, 0});
                waiting_slots.push_back(i);
            }
        }
        if (waits.empty()) {
            break; // no worker is left, and none could be made again
        }
        const int ready = ::poll(waits.data(), waits.size(), 100);
        if (callbacks.tick) {
            callbacks.tick();
        }
        if (stop_count(stop) != signals_seen) {
            stopping = true;
            break;
        }
        if (ready <= 0) {
            continue;
        }
        for (std::size_t w = 0; w < waits.size(); ++w) {
            if (waits[w].revents == 0) {
                continue;
            }
            Slot& slot = slots[waiting_slots[w]];
            JobOutcome outcome;
            Message message;
            if (read_message(slot.result, message)) {
                outcome.status = message.status;
            } else {
                const int status = reap(slot, slots, signals_seen, stop);
                if (WIFSIGNALED(status) && is_stop_signal(WTERMSIG(status))) {
                    // A stop signal for the whole process group reaches
                    // this process too; handle it once that is seen.
                    if (stop_count(stop) != signals_seen) {
                        stopping = true;
                    }
                }
                outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1;
                outcome.status = outcome.status == 0 ? 1 : outcome.status;
                outcome.crash_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
                if (!stopping && next < jobs.size()) {
                    static_cast<void>(spawn(slots, waiting_slots[w], callbacks));
                }
            }
            slot.busy = false;
            outcome.out = take_capture(slot.out);
            outcome.err = take_capture(slot.err);
            outcome.notes = take_capture(slot.notes);
            outcome.report = take_capture(slot.report);
            if (!stopping) {
                ++done;
                callbacks.finished(slot.job, std::move(outcome));
            }
        }
    }

    // Jobs that no worker could take fail, each with its message.
    for (; !stopping && next < jobs.size(); ++next) {
        JobOutcome outcome;
        outcome.err = "Error: no worker process could be started for this file.\n";
        callbacks.finished(jobs[next], std::move(outcome));
    }

    // Idle workers end when their pipe closes; busy ones get the stop
    // signal, finish or drop their file, and end the same way.
    for (Slot& slot : slots) {
        close_fd(slot.command);
    }
    if (stopping) {
        for (const Slot& slot : slots) {
            if (slot.pid > 0) {
                ::kill(slot.pid, stop->last_reason());
            }
        }
    }
    for (Slot& slot : slots) {
        if (slot.pid > 0) {
            static_cast<void>(reap(slot, slots, signals_seen, stop));
        }
    }
    release();
    if (stopping || stop_count(stop) != 0) {
        return stop->last_reason();
    }
    return 0;
}

} // namespace tonbrix
