#include "app/plant_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "service/plant_files.h"

namespace orvanta {
namespace {

// The pid the holder wrote: a decimal number at the start of the file, 0 when there is none.
pid_t pidIn(int fd) {
    char text[32] = {};
    ssize_t got = 0;
    do {
        got = ::pread(fd, text, sizeof(text) - 1, 0);
    } while (got < 0 && errno == EINTR);
    long long pid = 0;
    for (ssize_t i = 0; i < got && text[i] >= '0' && text[i] <= '9'; ++i) {
        pid = pid * 10 + (text[i] - '0');
        if (pid > 0x7fffffff) return 0;
    }
    return static_cast<pid_t>(pid);
}

// Whether path is folder or lies below it, both as real paths.
bool within(const std::filesystem::path& path, const std::filesystem::path& folder) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::weakly_canonical(path, error);
    if (error) return false;
    const std::filesystem::path realFolder = std::filesystem::weakly_canonical(folder, error);
    if (error) return false;
    const std::filesystem::path relative = real.lexically_relative(realFolder);
    return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

std::string refusedPlantFolder(const std::string& plantFolder, const std::string& executableFolder) {
    const std::filesystem::path plant(plantFolder);
    const bool demo =
        !executableFolder.empty() &&
        within(plant, std::filesystem::path(executableFolder) / ".." / "share" / "orvanta" / "demo-plant");
    if (!demo && !within(plant, "/usr")) return {};
    return "the plant folder " + plantFolder + " is " +
           (demo ? "the installed demo plant" : "below /usr, among the installed software") +
           ", which is not to be written: the panel would write its lock, log and history there. Run "
           "orvanta-demo to try the demo on your own copy of it, or copy a plant into a folder of its own "
           "(such as /srv/line1) and name that with --base";
}

PlantLock PlantLock::take(const std::string& plantFolder) {
    PlantLock lock;
    lock.path_ = plantFile(plantFolder, kPlantLockFile);
    // Never through a link: the pid is written into the file, and a link could name any file at all.
    bool writable = true;
    lock.fd_ = ::open(lock.path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    const int makeError = errno;
    if (lock.fd_ < 0 && (makeError == EACCES || makeError == EROFS || makeError == EPERM)) {
        // A lock file left in a folder that has become read-only still serves: flock needs no writing.
        writable = false;
        lock.fd_ = ::open(lock.path_.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (lock.fd_ < 0) {
        // Why it could not be made, rather than that there is none to open.
        lock.problem_ = std::strerror(makeError);
        return lock;
    }
    int locked = 0;
    do {
        locked = ::flock(lock.fd_, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        if (errno == EWOULDBLOCK) {
            lock.state_ = State::HeldElsewhere;
            // The holder writes its pid right after it took the lock: a moment later it is there.
            for (int attempt = 0; attempt < 20 && (lock.holder_ = pidIn(lock.fd_)) == 0; ++attempt)
                ::usleep(5000);
        } else {
            lock.problem_ = std::strerror(errno);
        }
        ::close(lock.fd_);
        lock.fd_ = -1;
        return lock;
    }
    lock.state_ = State::Held;
    if (writable) {
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(lock.fd_, 0) == 0) static_cast<void>(::pwrite(lock.fd_, pid.data(), pid.size(), 0));
    }
    return lock;
}

PlantLock::PlantLock(PlantLock&& other) noexcept
    : state_(other.state_),
      fd_(other.fd_),
      holder_(other.holder_),
      path_(std::move(other.path_)),
      problem_(std::move(other.problem_)) {
    other.fd_ = -1;
}

PlantLock::~PlantLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace orvanta
