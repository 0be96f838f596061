// One panel per plant folder: two panels on the same plant would share one log and both answer the
// line's heartbeat. The first holds an advisory lock on a file in the plant folder; the kernel releases it
// when the process ends in any way, so a crash never leaves a stale lock behind. The lock file names the
// same folder whatever path (another case of a name the plant finds, a symbolic link) leads to it.
#pragma once

#include <sys/types.h>

#include <string>

namespace orvanta {

// Why no panel may run on plantFolder, empty when one may. The folders of the installed software are
// nobody's to write: every folder below /usr, and the demo plant installed beside the program
// (PREFIX/share/orvanta/demo-plant for a program in PREFIX/bin, under whatever prefix). A user's panel is
// kept out of them only by their permissions, and root's is not, so the panel refuses them whoever runs
// it, before it writes its lock, log or history; the words point to orvanta-demo, which runs the demo on
// a copy. Both folders are compared as the real paths that links and ".." lead to.
std::string refusedPlantFolder(const std::string& plantFolder, const std::string& executableFolder);

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
