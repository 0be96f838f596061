// The whole of a file as bytes, empty when it cannot be read: what a test compares a file with.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace orvanta::testing {

inline std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace orvanta::testing
