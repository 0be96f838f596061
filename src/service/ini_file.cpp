// The file is read in fixed chunks and split into lines as it goes, so memory stays bounded whatever the
// file holds (binary data, NUL bytes, one line of gigabytes), and reading stops as soon as the first
// matching section has ended. Only regular files are opened: opening a pipe would block and a device may
// never end.
#include "service/ini_file.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "core/text.h"
#include "service/file_names.h"

namespace orvanta {
namespace {

constexpr std::size_t kMaxLineBytes = 64 * 1024;
constexpr std::size_t kChunkBytes = BUFSIZ;  // any size works
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

std::string_view unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == '"' || value.front() == '\'')) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// Follows the lines of one file and remembers what the lookup has found so far.
class EntrySearch {
public:
    EntrySearch(std::string_view section, std::string_view entry) : section_(section), entry_(entry) {}

    // Takes one complete line; false once the answer is known and no further line can change it.
    bool line(std::string_view text) {
        text = trimBlanks(text);
        if (text.empty() || text.front() == ';') return true;
        if (text.front() == '[') {
            const std::size_t close = text.rfind(']');
            if (close == std::string_view::npos) return true;
            if (inSection_) return false;  // the first section of that name has ended
            inSection_ = equalsIgnoringAsciiCase(trimBlanks(text.substr(1, close - 1)), section_);
            return true;
        }
        if (!inSection_) return true;
        const std::size_t equals = text.find('=');
        if (equals == std::string_view::npos) return true;
        if (!equalsIgnoringAsciiCase(trimBlanks(text.substr(0, equals)), entry_)) return true;
        value_ = std::string(unquote(trimBlanks(text.substr(equals + 1))));
        return false;
    }

    std::optional<std::string> value() && { return std::move(value_); }

private:
    std::string_view section_;
    std::string_view entry_;
    bool inSection_ = false;
    std::optional<std::string> value_;
};

bool isRegularFile(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);  // false on an error
}

}  // namespace

std::optional<std::string> findIniValue(const std::string& file, std::string_view section,
                                        std::string_view entry) {
    const std::string path = findFileIgnoringCase(file);
    if (!isRegularFile(path)) return std::nullopt;
    const FileHandle handle(std::fopen(path.c_str(), "rb"));
    if (!handle) return std::nullopt;

    EntrySearch search(section, entry);
    std::string current;
    bool firstLine = true;
    auto endLine = [&]() {
        std::string_view text(current);
        if (firstLine && text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
        firstLine = false;
        const bool goOn = search.line(text);
        current.clear();
        return goOn;
    };

    std::array<char, kChunkBytes> chunk{};
    bool goOn = true;
    while (goOn) {
        const std::size_t count = std::fread(chunk.data(), 1, chunk.size(), handle.get());
        if (count == 0) break;  // end of file or a read error: what was read so far decides
        for (std::size_t i = 0; i < count && goOn; ++i) {
            const char c = chunk[i];
            // CR, LF and CR LF each end a line: the empty line between CR and LF is skipped like any other.
            if (c == '\n' || c == '\r') {
                goOn = endLine();
            } else if (current.size() < kMaxLineBytes) {
                current.push_back(c);
            }
        }
    }
    if (goOn) endLine();  // the last line, also without a line end
    return std::move(search).value();
}

std::string cutToCharacters(std::string_view text, std::size_t maxCharacters) {
    std::size_t position = 0;
    for (std::size_t characters = 0; characters < maxCharacters && position < text.size(); ++characters) {
        const auto lead = static_cast<unsigned char>(text.at(position));
        std::size_t length = 1;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
        }
        bool valid = position + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            valid = (static_cast<unsigned char>(text[position + k]) & 0xC0) == 0x80;
        }
        position += valid ? length : 1;
    }
    return std::string(text.substr(0, position));
}

}  // namespace orvanta
