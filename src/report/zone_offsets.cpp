#include "report/zone_offsets.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>

namespace orvanta::report {

namespace {

constexpr std::size_t kMostFileBytes = 1 << 20;  // a zone file is a few KiB

bool plainZoneName(const std::string& name) {
    if (name.empty() || name.size() > 100 || name.front() == '/') return false;
    if (name.find("..") != std::string::npos) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' ||
               c == '_' || c == '+' || c == '-';
    });
}

// Big-endian fields of a byte string, every read checked against its end.
class Reader {
public:
    explicit Reader(const std::string& bytes) : bytes_(bytes) {}
    bool has(std::size_t count) const { return at_ <= bytes_.size() && bytes_.size() - at_ >= count; }
    std::int64_t number(std::size_t width) {
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < width; ++i)
            value = (value << 8) | static_cast<unsigned char>(bytes_[at_ + i]);
        at_ += width;
        if (width == 4) return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
        return static_cast<std::int64_t>(value);
    }
    void skip(std::size_t count) { at_ += count; }
    std::size_t at() const { return at_; }

private:
    const std::string& bytes_;
    std::size_t at_ = 0;
};

struct Counts {
    std::size_t isut = 0, isstd = 0, leap = 0, time = 0, type = 0, chars = 0;
    std::size_t dataBytes(std::size_t timeWidth) const {
        return time * timeWidth + time + type * 6 + chars + leap * (timeWidth + 4) + isstd + isut;
    }
};

std::optional<Counts> header(Reader& in, char& version) {
    if (!in.has(44)) return std::nullopt;
    const std::int64_t magic = in.number(4);
    if (magic != 0x545A6966) return std::nullopt;  // "TZif"
    version = static_cast<char>(in.number(1));
    in.skip(15);
    Counts counts;
    for (std::size_t* count :
         {&counts.isut, &counts.isstd, &counts.leap, &counts.time, &counts.type, &counts.chars}) {
        const std::int64_t value = in.number(4);
        if (value < 0 || value > 100'000) return std::nullopt;
        *count = static_cast<std::size_t>(value);
    }
    if (counts.type == 0) return std::nullopt;
    return counts;
}

}  // namespace

std::optional<ZoneOffsets> ZoneOffsets::load(const std::string& name, const std::string& folder) {
    if (!plainZoneName(name)) return std::nullopt;
    std::ifstream file(folder + "/" + name, std::ios::binary);
    if (!file) return std::nullopt;
    std::string bytes;
    bytes.resize(kMostFileBytes);
    file.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(file.gcount()));

    Reader in(bytes);
    char version = 0;
    std::optional<Counts> counts = header(in, version);
    std::size_t width = 4;
    if (counts && version >= '2') {
        // The 64-bit block follows the 32-bit one: its times reach past 2038.
        if (!in.has(counts->dataBytes(4))) return std::nullopt;
        in.skip(counts->dataBytes(4));
        counts = header(in, version);
        width = 8;
    }
    if (!counts || !in.has(counts->dataBytes(width))) return std::nullopt;
    std::vector<std::int64_t> times(counts->time);
    for (std::int64_t& time : times) time = in.number(width);
    std::vector<std::size_t> types(counts->time);
    for (std::size_t& type : types) type = static_cast<std::size_t>(in.number(1));
    std::vector<int> offsets(counts->type);
    for (int& offset : offsets) {
        offset = static_cast<int>(in.number(4) / 60);
        in.skip(2);
    }
    ZoneOffsets zone;
    zone.before_ = offsets[0];
    for (std::size_t i = 0; i < times.size(); ++i) {
        if (types[i] >= offsets.size()) return std::nullopt;
        const std::int64_t seconds =
            std::clamp<std::int64_t>(times[i], -1'000'000'000'000, 1'000'000'000'000);
        zone.changes_.emplace_back(seconds * 1000, offsets[types[i]]);
    }
    if (!std::is_sorted(zone.changes_.begin(), zone.changes_.end())) return std::nullopt;
    return zone;
}

int ZoneOffsets::minutesAt(Millis at) const {
    const auto after = std::upper_bound(changes_.begin(), changes_.end(), at,
                                        [](Millis time, const auto& change) { return time < change.first; });
    return after == changes_.begin() ? before_ : std::prev(after)->second;
}

}  // namespace orvanta::report
