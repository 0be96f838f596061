#include "core/vb_error.h"

#include <new>
#include <utility>

namespace orvanta {

VbError::VbError(std::int32_t number, std::string description, std::string source, VbErrorKind kind)
    : std::runtime_error(description),
      number_(number),
      description_(std::move(description)),
      source_(std::move(source)),
      kind_(kind) {}

std::string VbError::standardDescription(std::int32_t number) {
    switch (number) {
        case kInvalidCall:
            return "Invalid procedure call or argument";
        case kOverflow:
            return "Overflow";
        case kOutOfMemory:
            return "Out of memory";
        case kSubscriptOutOfRange:
            return "Subscript out of range";
        case kDivisionByZero:
            return "Division by zero";
        case kTypeMismatch:
            return "Type mismatch";
        case kBadFileNameOrNumber:
            return "Bad file name or number";
        case kFileNotFound:
            return "File not found";
        case kPathFileAccessError:
            return "Path/File access error";
        case kObjectNotSet:
            return "Object variable or With block variable not set";
        case kInvalidUseOfNull:
            return "Invalid use of Null";
        case kAutomationError:
            return "Automation error";
        default:
            return "Application-defined or object-defined error";
    }
}

VbError VbError::current(const std::string& source) {
    try {
        throw;
    } catch (const VbError& error) {
        return error;
    } catch (const std::bad_alloc&) {
        return standard(kOutOfMemory, source);
    } catch (const std::exception& error) {
        return VbError(kInvalidCall, error.what(), source);
    } catch (...) {
        return standard(kInvalidCall, source);
    }
}

VbError VbError::standard(std::int32_t number, std::string source) {
    return VbError(number, standardDescription(number), std::move(source));
}

}  // namespace orvanta
