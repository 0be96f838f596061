// The one error type of the program. Every failing operation, in the logic or in an outside component,
// ends up as a VbError: a number from the BASIC dialect the panel's behaviour is defined in, a description
// and the name of the component that raised it. The handler frame writes exactly these three into the
// fault line, so they must stay meaningful to the plant engineer who reads the log.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace orvanta {

enum VbErrorNumber : std::int32_t {
    kInvalidCall = 5,
    kOverflow = 6,
    kOutOfMemory = 7,
    kSubscriptOutOfRange = 9,
    kDivisionByZero = 11,
    kTypeMismatch = 13,
    kBadFileNameOrNumber = 52,
    kFileNotFound = 53,
    kPathFileAccessError = 75,
    kObjectNotSet = 91,
    kInvalidUseOfNull = 94,
    kAutomationError = 440,
};

// Most failures are news each time they happen. A value that a runtime does not hold yet and waits for
// (a broker that has not been sent a variable) is not: it fails every read, every second, until it comes.
// The runtime that raises such an error says once what it waits for, and the handler frame passes its
// failures without a fault line each.
enum class VbErrorKind { Ordinary, Awaited };

class VbError : public std::runtime_error {
public:
    VbError(std::int32_t number, std::string description, std::string source,
            VbErrorKind kind = VbErrorKind::Ordinary);

    std::int32_t number() const { return number_; }
    const std::string& description() const { return description_; }
    const std::string& source() const { return source_; }
    VbErrorKind kind() const { return kind_; }

    // The dialect's standard text for an error number ("Overflow", "Type mismatch", ...).
    static std::string standardDescription(std::int32_t number);
    // An error with the standard text of its number.
    static VbError standard(std::int32_t number, std::string source);

    // The error in flight inside a catch block, as a VbError: a foreign exception becomes 7 (out of memory)
    // or 5 with its text, so that no exception of another kind leaves a component.
    static VbError current(const std::string& source);

private:
    std::int32_t number_;
    std::string description_;
    std::string source_;
    VbErrorKind kind_;
};

}  // namespace orvanta
