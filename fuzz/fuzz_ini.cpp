// The INI reader on arbitrary file contents. The file is the one thing of a plant's settings that a
// person edits by hand, so anything may be in it: binary data, NUL bytes, endless lines, odd line ends.
// Besides crashes, the checks are what a caller relies on: a value never spans a line and is no longer
// than the part of a line that is read; cutToCharacters gives a prefix that grows with the count.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>

#include "service/ini_file.h"

namespace {

[[noreturn]] void finding(const char* what) {
    std::fprintf(stderr, "fuzz_ini: %s\n", what);
    std::abort();
}

const std::string& iniPath() {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("orvanta-fuzz-ini-" + std::to_string(::getpid()) + ".ini"))
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

void checkValue(const std::optional<std::string>& value) {
    if (!value) return;
    if (value->find('\n') != std::string::npos || value->find('\r') != std::string::npos)
        finding("a value spans lines");
    if (value->size() > 64 * 1024) finding("a value is longer than the part of a line that is read");
}

void checkCut(std::string_view text) {
    std::string previous;
    for (std::size_t count = 0; count <= 8; ++count) {
        const std::string cut = orvanta::cutToCharacters(text, count);
        if (!text.starts_with(cut)) finding("cutToCharacters is not a prefix");
        if (!cut.starts_with(previous)) finding("cutToCharacters shrank with a larger count");
        if (cut.size() > 4 * count) finding("cutToCharacters took more than four bytes per character");
        if (count > 0 && cut.size() == previous.size() && cut.size() < text.size())
            finding("cutToCharacters took no character although text is left");
        previous = cut;
    }
    if (orvanta::cutToCharacters(text, text.size()) != text) finding("a full count does not keep the text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(iniPath(), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) finding("cannot write the temporary INI file");
    }
    // Names the settings files really use, plus one taken from the input so that the fuzzer can reach
    // sections it invents.
    static constexpr std::string_view kLookups[][2] = {
        {"Runtime", "Backend"}, {"Settings", "LogDateiName"}, {"Line", "MachineName"}, {"", ""}, {"a", "b"}};
    for (const auto& lookup : kLookups) checkValue(orvanta::findIniValue(iniPath(), lookup[0], lookup[1]));
    if (size >= 2) {
        const std::size_t sectionLength = data[0] % 16;
        const std::size_t entryLength = data[1] % 16;
        const std::string_view rest = bytes.substr(2);
        const std::string_view section = rest.substr(0, sectionLength);
        const std::string_view entry = rest.substr(std::min(rest.size(), sectionLength), entryLength);
        checkValue(orvanta::findIniValue(iniPath(), section, entry));
    }
    checkCut(bytes);
    return 0;
}
