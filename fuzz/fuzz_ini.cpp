// The INI reader on arbitrary file contents. The file is the one thing of a plant's settings that a
// person edits by hand, so anything may be in it: binary data, NUL bytes, endless lines, odd line ends.
// The reader streams the file in 64 KiB chunks; here every lookup is compared with a plain reading of
// the whole text by the same rules, and inputs that start with 0xFF are stretched so that any of their
// bytes can land on a chunk boundary or a line can pass the 64 KiB a line is read to. cutToCharacters
// must give a prefix that grows with the count.
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

#include "core/text.h"
#include "fuzz_support.h"
#include "service/ini_file.h"

namespace {

[[noreturn]] void finding(const char* what) { orvanta::fuzz::finding("fuzz_ini", what); }

const std::string& iniPath() { return orvanta::fuzz::scratchFile("ini"); }

constexpr std::size_t kLineBytes = 64 * 1024;

std::string_view unquoted(std::string_view value) {
    if (value.size() >= 2 && value.front() == value.back() && (value.front() == '"' || value.front() == '\''))
        return value.substr(1, value.size() - 2);
    return value;
}

// The rules of the INI format applied to the whole text at once.
std::optional<std::string> plainLookup(std::string_view text, std::string_view section,
                                       std::string_view entry) {
    bool inSection = false;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", position), text.size());
        std::string_view line = text.substr(position, end - position).substr(0, kLineBytes);
        // The byte order mark is part of the first line's 64 KiB.
        if (position == 0 && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
        position = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
        line = orvanta::trimBlanks(line);
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const std::size_t close = line.rfind(']');
            if (close == std::string_view::npos) continue;
            if (inSection) return std::nullopt;
            inSection =
                orvanta::equalsIgnoringAsciiCase(orvanta::trimBlanks(line.substr(1, close - 1)), section);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        if (orvanta::equalsIgnoringAsciiCase(orvanta::trimBlanks(line.substr(0, equals)), entry))
            return std::string(unquoted(orvanta::trimBlanks(line.substr(equals + 1))));
    }
    return std::nullopt;
}

void checkLookup(std::string_view contents, std::string_view section, std::string_view entry) {
    const std::optional<std::string> value = orvanta::findIniValue(iniPath(), section, entry);
    if (value != plainLookup(contents, section, entry))
        finding("the streamed lookup differs from the plain one");
    if (value && value->find_first_of("\r\n") != std::string::npos) finding("a value spans lines");
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

// The input, or for an input that starts with 0xFF the rest of it with filler inserted so that the byte
// the second byte points at stands within 16 bytes of the 64 KiB mark.
std::string fileContents(std::string_view bytes) {
    if (bytes.size() < 5 || static_cast<unsigned char>(bytes[0]) != 0xFF) return std::string(bytes);
    const std::string_view rest = bytes.substr(4);
    const std::size_t at = static_cast<unsigned char>(bytes[1]) % rest.size();
    const std::size_t mark = kLineBytes - 16 + static_cast<unsigned char>(bytes[2]) % 32;
    static constexpr char kFillers[] = {' ', 'x', '=', ';', '\t'};
    const char filler = kFillers[static_cast<unsigned char>(bytes[3]) % sizeof kFillers];
    std::string contents(rest.substr(0, at));
    contents.append(mark > at ? mark - at : 0, filler);
    contents += rest.substr(at);
    return contents;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const std::string contents = fileContents(bytes);
    {
        std::ofstream out(iniPath(), std::ios::binary | std::ios::trunc);
        out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        if (!out) finding("cannot write the temporary INI file");
    }
    // Names the settings files really use, plus one taken from the input so that the fuzzer can reach
    // sections it invents.
    static constexpr std::string_view kLookups[][2] = {
        {"Runtime", "Backend"}, {"Settings", "LogDateiName"}, {"Line", "MachineName"}, {"", ""}, {"a", "b"}};
    // A stretched file costs a millisecond per lookup: only the one the seeds aim at.
    const bool stretched = contents.size() > size;
    for (const auto& lookup : kLookups)
        if (!stretched || lookup[0] == "a") checkLookup(contents, lookup[0], lookup[1]);
    if (size >= 2) {
        const std::size_t sectionLength = data[0] % 16;
        const std::size_t entryLength = data[1] % 16;
        const std::string_view rest = bytes.substr(2);
        const std::string_view section = rest.substr(0, sectionLength);
        const std::string_view entry = rest.substr(std::min(rest.size(), sectionLength), entryLength);
        checkLookup(contents, section, entry);
    }
    checkCut(bytes);
    return 0;
}
