#pragma once

#include <functional>
#include <string>

namespace orvanta {

// Where a component reports a problem it handles itself (a bad setting, a file it could not read) so
// that a person can see it: standard error for a headless run, and the program log once it is known.
using ErrorReporter = std::function<void(const std::string& message)>;

}  // namespace orvanta
