// The process's locale for one test, as the toolkit of a windowed run sets it, restored at the end.
#pragma once

#include <clocale>
#include <string>

namespace orvanta::testing {

inline constexpr const char* kGermanLocale = "de_DE.UTF-8";

class ProcessLocale {
public:
    explicit ProcessLocale(const char* name) : previous_(std::setlocale(LC_ALL, nullptr)) {
        set_ = std::setlocale(LC_ALL, name) != nullptr;
    }
    ~ProcessLocale() { std::setlocale(LC_ALL, previous_.c_str()); }
    ProcessLocale(const ProcessLocale&) = delete;
    ProcessLocale& operator=(const ProcessLocale&) = delete;
    bool set() const { return set_; }

private:
    std::string previous_;
    bool set_ = false;
};

}  // namespace orvanta::testing
