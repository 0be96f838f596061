// What the fuzz targets share: how a broken check ends the run (libFuzzer then keeps the input), and a
// scratch file of the process's own for the readers that take a path.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace orvanta::fuzz {

[[noreturn]] inline void finding(const char* target, const char* what) {
    std::fprintf(stderr, "%s: %s\n", target, what);
    std::abort();
}

// orvanta-fuzz-PID.EXTENSION in the temporary folder, removed when the process ends. A target has one:
// the first call fixes it.
inline const std::string& scratchFile(const char* extension) {
    static const std::string path = (std::filesystem::temp_directory_path() /
                                     ("orvanta-fuzz-" + std::to_string(::getpid()) + "." + extension))
                                        .string();
    static const bool removeAtExit = [] {
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        });
        return true;
    }();
    (void)removeAtExit;
    return path;
}

}  // namespace orvanta::fuzz
