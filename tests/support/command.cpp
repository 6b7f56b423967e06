#include "support/command.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <stdexcept>

extern char** environ;

namespace {

std::vector<std::string> merged_environment(
    const std::vector<std::pair<std::string, std::string>>& extra)
{
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const auto eq = entry.find('=');
        if (eq != std::string::npos) {
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    for (const auto& [name, value] : extra) {
        vars[name] = value;
    }
    std::vector<std::string> list;
    for (const auto& [name, value] : vars) {
        list.push_back(name + "=" + value);
    }
    return list;
}

void write_all(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

CommandResult run_command(const std::string& program, const CommandSpec& spec)
{
    // Standard input comes from a temporary file, so no pipe can fill up.
    char input_path[] = "/tmp/tonbrix-stdin-XXXXXX";
    const int input_fd = ::mkstemp(input_path);
    if (input_fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    ::unlink(input_path);
    write_all(input_fd, spec.stdin_data);
    ::lseek(input_fd, 0, SEEK_SET);

    int out_pipe[2];
    int err_pipe[2]; // [0] is read here, [1] is the child's standard error
    if (::pipe(out_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (spec.stderr_on_terminal) {
        // Raw, so that the terminal passes the bytes through unchanged.
        termios mode{};
        ::cfmakeraw(&mode);
        if (::openpty(&err_pipe[0], &err_pipe[1], nullptr, &mode, nullptr) != 0) {
            throw std::runtime_error("openpty failed");
        }
    } else if (::pipe(err_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }

    std::vector<std::string> argv_text = spec.prefix;
    argv_text.push_back(program);
    argv_text.insert(argv_text.end(), spec.args.begin(), spec.args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> env_text = merged_environment(spec.env);
    std::vector<char*> envp;
    for (auto& e : env_text) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::dup2(input_fd, 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        ::close(input_fd);
        ::close(out_pipe[0]);
        ::close(out_pipe[1]);
        ::close(err_pipe[0]);
        ::close(err_pipe[1]);
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(input_fd);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);

    CommandResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = 2;
    char buffer[65536];
    while (open_count > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.status = 128 + WTERMSIG(status);
    }
    return result;
}
