// A history file as a hostile or damaged one may hold it, reported the way orvanta-report and the web
// page's /report do: its figures, then every form written. An input that begins as an SQLite file is that
// file; any other is a list of records put into a fresh history through SQLite, with times, slots, status
// codes and texts a sound panel never writes. A finding is a crash, a hang, an exception other than the
// report's own, or figures that break their own bounds.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "report/history_generator.h"
#include "report/line_report.h"
#include "report/report_writers.h"
#include "report/sqlite_file.h"

namespace {

using orvanta::report::Millis;

[[noreturn]] void finding(const char* what) { orvanta::fuzz::finding("fuzz_report_history", what); }

const std::string& historyPath() { return orvanta::fuzz::scratchFile("db"); }

constexpr Millis kBase = 1'796'601'600'000;  // 2026-12-07 00:00 UTC

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::int64_t integer() {
        switch (const std::uint8_t kind = byte(); kind % 8) {
            case 0:
                return std::numeric_limits<std::int64_t>::min();
            case 1:
                return std::numeric_limits<std::int64_t>::max();
            case 2:
                return static_cast<std::int64_t>(word()) << 24;
            default:
                return static_cast<std::int16_t>(word());
        }
    }
    // Mostly near each other, so that intervals, gaps, runs and the period overlap; now and then far off.
    Millis time() {
        const std::uint8_t kind = byte();
        if (kind < 12) return integer();
        return kBase + static_cast<Millis>(static_cast<std::int16_t>(word())) * 15'000 + kind;
    }
    std::optional<Millis> optionalTime() {
        if (byte() % 4 == 0) return std::nullopt;
        return time();
    }
    std::string text() {
        const std::size_t length = byte() % 24;
        std::string value;
        for (std::size_t i = 0; i < length && !empty(); ++i) value += static_cast<char>(byte());
        return value;
    }

private:
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A record that SQLite refuses (a run's id twice) is left out, as the panel's writer would refuse it.
template <typename Insert>
void tryInsert(Insert insert) {
    try {
        insert();
    } catch (const std::runtime_error&) {
    }
}

void buildHistory(Bytes& in) {
    orvanta::report::HistoryFileWriter out(historyPath());
    std::int64_t runs[4] = {kBase, kBase + 3'600'000, 0, 0};
    const auto run = [&] { return runs[in.byte() % 4]; };
    while (!in.empty()) {
        switch (in.byte() % 5) {
            case 0: {
                const std::int64_t id = in.time();
                runs[in.byte() % 4] = id;
                const std::string line = in.text();
                const Millis started = in.time();
                const Millis lastSeen = in.time();
                const std::optional<Millis> ended = in.optionalTime();
                const int offset = static_cast<int>(in.integer() % 100'000);
                const std::string zone = in.byte() % 2 == 0 ? "Europe/Berlin" : in.text();
                tryInsert([&] { out.run(id, line, started, lastSeen, ended, offset, zone); });
                break;
            }
            case 1:
            case 2: {
                const std::int64_t of = run();
                const std::uint8_t kind = in.byte();
                const int slot = kind < 8 ? static_cast<int>(in.integer() % 1'000'000) : kind % 67 - 2;
                const std::string name = in.text();
                const int status = in.byte() % 9;
                const Millis started = in.time();
                const std::optional<Millis> ended = in.optionalTime();
                const std::string cause = in.text();
                const bool foreign = in.byte() % 2 == 1;
                const int machine = static_cast<int>(in.byte() % 8) - 1;
                tryInsert(
                    [&] { out.interval(of, slot, name, status, started, ended, cause, foreign, machine); });
                break;
            }
            case 3: {
                const std::int64_t of = run();
                const int machine = static_cast<int>(in.byte() % 8) - 1;
                const int table = in.byte() % 5;
                const int fault = static_cast<int>(in.integer() % 100'000);
                const std::string text = in.text();
                const Millis raised = in.time();
                const std::optional<Millis> cleared = in.optionalTime();
                const std::optional<Millis> published = in.optionalTime();
                tryInsert([&] { out.episode(of, machine, table, fault, text, raised, cleared, published); });
                if (in.byte() % 4 == 0) {
                    const int language = 1031 + in.byte() % 8;
                    const int position = in.byte() % 3;
                    const std::string translation = in.text();
                    tryInsert([&] { out.alarmText(machine, fault, language, position, translation); });
                }
                break;
            }
            default: {
                const std::int64_t of = run();
                const std::string kind = in.byte() % 2 == 0 ? "line" : "broker";
                const Millis started = in.time();
                const std::optional<Millis> ended = in.optionalTime();
                tryInsert([&] { out.gap(of, kind, started, ended); });
                break;
            }
        }
    }
    out.commit();
}

void check(const orvanta::report::LineReport& report, const orvanta::report::ReportRequest& request) {
    using namespace orvanta::report;
    if (report.slots.size() > kSlotCount + 1) finding("more slots than the line has");
    for (const SlotFigures& slot : report.slots) {
        if (slot.slot < -1 || slot.slot >= kSlotCount) finding("a slot outside the line");
        for (const Millis time : slot.timeIn)
            if (time < 0) finding("a negative time in a state");
        Millis charged = 0;
        for (const CauseDowntime& cause : slot.causes) {
            if (cause.duration < 0 || cause.count < 0) finding("a negative cause");
            charged = saturatingSum(charged, cause.duration);
        }
        // Every part of a stop is charged to one cause: the causes add up to the fault time.
        if (charged != slot.timeIn[kFaultStatus] && charged < std::numeric_limits<Millis>::max())
            finding("causes that do not add up to the fault time");
        if (const std::optional<double> availability = slot.availability())
            if (!(*availability >= 0.0 && *availability <= 1.0)) finding("an availability outside 0..1");
    }
    if (report.timeline.rows.size() > report.slots.size()) finding("more picture rows than slots");
    for (const Timeline::Row& row : report.timeline.rows)
        if (row.status.size() > static_cast<std::size_t>(request.timelineColumns))
            finding("more picture columns than asked for");
    if (report.rate.size() > static_cast<std::size_t>(request.rateColumns))
        finding("more rate columns than asked");
    if (report.badActors.size() > kBadActorCount) finding("more bad actors than shown");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = historyPath();
    for (const char* companion : {"-wal", "-shm", "-journal"}) std::filesystem::remove(path + companion);
    constexpr std::string_view kSqliteHeader("SQLite format 3\0", 16);
    orvanta::report::ReportRequest request;
    request.pictures = true;
    request.busyMillis = 0;
    if (size >= kSqliteHeader.size() && std::memcmp(data, kSqliteHeader.data(), kSqliteHeader.size()) == 0) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) finding("cannot write the history file");
    } else {
        Bytes in(data, size);
        // The period and the pictures' size as the command line and the page may ask for them.
        const std::uint8_t asks = in.byte();
        if (asks & 1) request.from = in.time();
        if (asks & 2) request.to = in.time();
        request.timelineColumns = 1 + in.byte() % 64;
        request.rateColumns = 1 + in.byte() % 64;
        buildHistory(in);
    }
    try {
        const orvanta::report::LineReport report = orvanta::report::reportOn(path, request);
        check(report, request);
        std::ostringstream text;
        orvanta::report::writeText(text, {report});
        orvanta::report::writeCsv(text, {report});
        orvanta::report::writeHtml(text, {report});
    } catch (const orvanta::report::ReportError&) {
    }
    return 0;
}
