#include "io/atomic_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

namespace tonbrix {

namespace {

// The permission bits a file created directly with mode 0666 gets.
mode_t creation_mode()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return 0666 & ~mask;
}

// The path a write to `path` lands on: symbolic links resolved. False for
// a link that points nowhere.
bool resolve_target(const std::string& path, std::string& target)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
        target = path;
        return true;
    }
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return false;
    }
    target = resolved;
    std::free(resolved);
    return true;
}

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

void discard_atomic_output(AtomicOutput& output) noexcept
{
    if (output.fd >= 0) {
        ::close(output.fd);
        output.fd = -1;
    }
    if (!output.temp.empty()) {
        ::unlink(output.temp.c_str());
        output.temp.clear();
    }
}

bool begin_atomic_output(const std::string& path, AtomicOutput& output)
{
    if (path.empty() || path == "-") {
        return false;
    }
    std::string target;
    if (!resolve_target(path, target)) {
        return false;
    }
    mode_t mode = creation_mode();
    bool replaces = false;
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        // An existing file that cannot be written fails as it would in place.
        if (!S_ISREG(st.st_mode) || ::access(target.c_str(), W_OK) != 0) {
            return false;
        }
        mode = st.st_mode & 07777;
        replaces = true;
    } else if (errno != ENOENT) {
        return false;
    }

    // A hidden name in the same folder, so that the rename cannot cross
    // file systems. mkstemp creates it exclusively with mode 0600.
    const std::string folder = folder_of(target);
    std::string pattern = folder + "/." + name_of(target) + ".tonbrix-XXXXXX";
    if (pattern.size() >= PATH_MAX) {
        return false;
    }
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    output.target = target;
    output.temp = name.data();
    output.fd = fd;
    output.mode = mode;
    output.replaces = replaces;
    output.owner = st.st_uid;
    output.group = st.st_gid;
    return true;
}

bool commit_atomic_output(AtomicOutput& output)
{
    if (output.temp.empty()) {
        return true;
    }
    // The owner of an existing file keeps it where the system allows; a
    // refusal leaves the new file with this process's owner (and, if it
    // may, the old group).
    if (output.replaces && ::fchown(output.fd, output.owner, output.group) != 0 &&
        ::fchown(output.fd, static_cast<uid_t>(-1), output.group) != 0) {
        // Nothing more can be done about it.
    }
    // No fsync: it would wait for the disk on every run (half the time of a
    // long file), and the rename already guarantees that a failed or
    // interrupted run never replaces the old file. Errors of delayed
    // writes still show in close.
    if (::fchmod(output.fd, output.mode) != 0) {
        const int error = errno;
        discard_atomic_output(output);
        errno = error;
        return false;
    }
    const int fd = output.fd;
    output.fd = -1;
    if (::close(fd) != 0 || ::rename(output.temp.c_str(), output.target.c_str()) != 0) {
        const int error = errno;
        discard_atomic_output(output);
        errno = error;
        return false;
    }
    output.temp.clear();
    return true;
}

} // namespace tonbrix
