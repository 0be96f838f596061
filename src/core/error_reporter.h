#pragma once

#include <functional>
#include <string>
#include <type_traits>
#include <utility>

namespace orvanta {

// How much a reported line matters to the person reading it: an error wants action, a notice only says
// what happened (the broker is back, lost values were published again).
enum class Severity { Error, Notice };

// Where a component reports a problem it handles itself (a bad setting, a file it could not read), or a
// notice, so that a person can see it: standard error for a headless run, and the program log once it is
// known. Calling it reports an error; notice() reports a notice.
//
// Made from a function of (Severity, message), or from a function of the message alone, which then
// receives both kinds alike (enough for a test that collects what was said).
class ErrorReporter {
public:
    using Sink = std::function<void(Severity, const std::string& message)>;

    ErrorReporter() = default;
    template <typename F>
    requires std::is_invocable_v<F&, Severity, const std::string&> ErrorReporter(F sink)
        : sink_(std::move(sink)) {}  // NOLINT(google-explicit-constructor)
    template <typename F>
    requires(std::is_invocable_v<F&, const std::string&> &&
             !std::is_invocable_v<F&, Severity, const std::string&>)
        ErrorReporter(F sink)  // NOLINT(google-explicit-constructor)
        : sink_([sink = std::move(sink)](Severity, const std::string& message) mutable { sink(message); }) {}

    explicit operator bool() const { return static_cast<bool>(sink_); }
    void operator()(const std::string& message) const {
        if (sink_) sink_(Severity::Error, message);
    }
    void notice(const std::string& message) const {
        if (sink_) sink_(Severity::Notice, message);
    }

private:
    Sink sink_;
};

}  // namespace orvanta
