// One panel per plant folder: two panels on the same plant would share one log and both answer the
// line's heartbeat. The first holds an advisory lock on a file in the plant folder; the kernel releases it
// when the process ends in any way, so a crash never leaves a stale lock behind. The lock file names the
// same folder whatever path (another case of a name the plant finds, a symbolic link) leads to it.
#pragma once

#include <sys/types.h>

#include <string>

namespace orvanta {

class PlantLock {
public:
    enum class State {
        Held,           // this process holds it until it ends
        HeldElsewhere,  // another process holds it: holder() is its pid when it could be read, else 0
        Unavailable,    // the lock file could be neither made nor opened (a read-only folder): problem()
    };

    // Tries once, without waiting.
    static PlantLock take(const std::string& plantFolder);

    PlantLock(PlantLock&& other) noexcept;
    PlantLock& operator=(PlantLock&&) = delete;
    PlantLock(const PlantLock&) = delete;
    PlantLock& operator=(const PlantLock&) = delete;
    ~PlantLock();

    State state() const { return state_; }
    pid_t holder() const { return holder_; }
    const std::string& path() const { return path_; }
    const std::string& problem() const { return problem_; }

private:
    PlantLock() = default;

    State state_ = State::Unavailable;
    int fd_ = -1;
    pid_t holder_ = 0;
    std::string path_;
    std::string problem_;
};

}  // namespace orvanta
