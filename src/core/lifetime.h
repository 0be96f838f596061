// Work posted to the loop, or handed to another thread, may run after the object that posted it is gone:
// the loop keeps a queue that outlives any one adapter, and a network thread may still deliver what it
// decoded while its subscriber is destroyed. Work that captures `this` must then not run at all. An
// object holds a Lifetime and wraps such work with guard(): the work runs only while the Lifetime has
// not ended. The wrapping is checked on the loop's thread, where the object is also destroyed, so the
// check and the destruction never overlap.
#pragma once

#include <memory>
#include <utility>

namespace orvanta {

class Lifetime {
public:
    // What guarded work carries: it knows whether its Lifetime has ended, and keeps nothing alive.
    class Token {
    public:
        bool alive() const { return !life_.expired(); }

        // task, to be called with the same arguments, running only while the Lifetime has not ended.
        template <typename Task>
        auto guard(Task task) const {
            return [life = life_, task = std::move(task)](auto&&... arguments) mutable {
                if (!life.expired()) task(std::forward<decltype(arguments)>(arguments)...);
            };
        }

    private:
        friend class Lifetime;
        explicit Token(std::weak_ptr<const int> life) : life_(std::move(life)) {}
        std::weak_ptr<const int> life_;
    };

    Lifetime() = default;
    // Each object has its own: a copy would let work outlive the object it was guarded by.
    Lifetime(const Lifetime&) = delete;
    Lifetime& operator=(const Lifetime&) = delete;

    Token token() const { return Token(life_); }
    template <typename Task>
    auto guard(Task task) const {
        return token().guard(std::move(task));
    }

    // Ends it before the destructor does, for an owner whose work must stop while parts of it still
    // stand.
    void end() { life_.reset(); }

private:
    std::shared_ptr<const int> life_ = std::make_shared<const int>(0);
};

}  // namespace orvanta
