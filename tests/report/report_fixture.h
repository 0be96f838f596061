// A history with answers worked out by hand: two runs of line "L1" (the first ended orderly, the second
// crashed a day later with its last rows open), an hour between them outside any run, a gap in the second,
// an own machine, a foreign one left open across the gap, and the line's own status; alarms that chatter,
// flood one window and stand.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "report/history_generator.h"

namespace orvanta::testing {

inline constexpr report::Millis kMidnight = 1'796'601'600'000;  // 2026-12-07 00:00 UTC
inline constexpr report::Millis at(int hours, int minutes, int seconds = 0) {
    return kMidnight + ((hours * 60LL + minutes) * 60 + seconds) * 1000;
}
inline constexpr report::Millis minutes(double value) { return static_cast<report::Millis>(value * 60'000); }

class ReportFolder {
public:
    ReportFolder() {
        static std::atomic<int> counter{0};
        folder_ = std::filesystem::temp_directory_path() /
                  ("orvanta-report-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(folder_);  // left by a killed process of the same id
        std::filesystem::create_directories(folder_);
    }
    ~ReportFolder() { std::filesystem::remove_all(folder_); }
    ReportFolder(const ReportFolder&) = delete;
    ReportFolder& operator=(const ReportFolder&) = delete;
    std::string path(const std::string& name) const { return (folder_ / name).string(); }

private:
    std::filesystem::path folder_;
};

// The zone of this process for one test; mktime and localtime read TZ.
class LocalZone {
public:
    explicit LocalZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~LocalZone() {
        if (old_) {
            setenv("TZ", old_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    LocalZone(const LocalZone&) = delete;
    LocalZone& operator=(const LocalZone&) = delete;

private:
    std::optional<std::string> old_;
};

inline void writeKnownHistory(const std::string& path, const std::string& line = "L1") {
    report::HistoryFileWriter out(path);
    const report::Millis a = at(0, 0);
    const report::Millis b = at(3, 0);
    out.run(a, line, a, at(1, 59, 59), at(2, 0), 60);   // its last sign a second before its orderly end
    out.run(b, line, b, at(29, 0), std::nullopt, 120);  // crashed: its last sign is the next day, 05:00

    // Own machine in slot 0: the recorder ends its intervals when the line is lost.
    out.interval(a, 0, "Filler", 1, at(0, 0), at(0, 30));
    out.interval(a, 0, "Filler", 4, at(0, 30), at(0, 40), "Jam");
    out.interval(a, 0, "Filler", 1, at(0, 40), at(1, 0));
    out.interval(a, 0, "Filler", 4, at(1, 0), at(1, 5), "Jam");
    out.interval(a, 0, "Filler", 2, at(1, 5), at(1, 20));
    out.interval(a, 0, "Filler", 1, at(1, 20), at(2, 0));
    out.interval(b, 0, "Filler", 1, at(3, 0), at(3, 30));
    out.gap(b, "line", at(3, 30), at(3, 45));
    out.gap(b, "broker", at(3, 35), at(3, 40));  // within the line's gap: that time is lost once
    out.interval(b, 0, "Filler", 4, at(3, 45), at(4, 15), "Door open");
    out.interval(b, 0, "Filler", 4, at(4, 15), at(4, 15), "Jam");  // no time at all: no stop either
    out.interval(b, 0, "Filler", 6, at(4, 15), at(4, 30));
    out.interval(b, 0, "Filler", 1, at(4, 30), std::nullopt);

    // A foreign machine, renamed between the runs, whose message runs on across the gap: the gap still
    // counts as no data.
    out.interval(a, 5, "Palletiser old", 5, at(0, 0), at(2, 0), "", true);
    out.interval(b, 5, "Palletiser", 3, at(3, 0), at(4, 0), "Pallet low", true);
    out.interval(b, 5, "Palletiser", 1, at(4, 0), at(5, 0), "", true);

    // A machine only ever in maintenance: neither up nor down, so no availability.
    out.interval(a, 6, "Labeller", 6, at(0, 0), at(2, 0));
    out.interval(b, 6, "Labeller", 7, at(4, 0), at(4, 30));  // a status code the report does not know
    // Two causes of equal downtime.
    out.interval(a, 7, "Capper", 1, at(0, 0), at(0, 20));
    out.interval(a, 7, "Capper", 4, at(0, 20), at(0, 40), "Jam");
    out.interval(a, 7, "Capper", 4, at(0, 40), at(1, 0), "Capsule défaut");

    // The line's own status.
    out.interval(a, history::kLineSlot, line, 1, at(0, 0), at(0, 30));
    out.interval(a, history::kLineSlot, line, 4, at(0, 30), at(0, 40), "Filler: Jam");
    out.interval(a, history::kLineSlot, line, 1, at(0, 40), std::nullopt);  // open: ends with its run
    out.interval(b, history::kLineSlot, line, 1, at(3, 0), at(3, 30));
    out.interval(b, history::kLineSlot, line, 4, at(3, 45), std::nullopt, "Door open");

    // Chattering: the third raise within 50 s, the fourth exactly 60 s after the second, its text changed.
    out.episode(a, 1, 1, 7, "Jam", at(0, 10, 0), at(0, 10, 5));
    out.episode(a, 1, 1, 7, "Jam", at(0, 10, 20), at(0, 10, 25));
    out.episode(a, 1, 1, 7, "Jam", at(0, 10, 50), at(0, 10, 55));
    out.episode(a, 1, 1, 7, "Jam at infeed", at(0, 11, 20), at(0, 11, 25));
    // Ten alarms in the window 00:10 to 00:20 are no flood; eleven in the next one, one every 30 s, are.
    for (int i = 0; i < 6; ++i) out.episode(a, 3, 2, 5, "Door ajar", at(0, 12 + i), at(0, 12 + i, 20));
    for (int i = 0; i < 11; ++i)
        out.episode(a, 2, 2, 3, "Low air", at(0, 20, i * 30), at(0, 20, i * 30 + 10));
    out.episode(a, 4, 2, 1, "", at(0, 5), at(1, 5));                 // no text shown: its key names it
    out.episode(b, 3, 1, 9, "Guard open", at(3, 10), std::nullopt);  // open until the run's last sign
    out.episode(b, 1, 2, 4, "Belt worn", at(3, 20), at(28, 0));
    // Raised on the bounds of the period the tests ask for: the first counts, the second does not.
    out.episode(a, 5, 1, 2, "Cap missing", at(0, 35), at(0, 36));
    out.episode(b, 5, 1, 2, "Cap missing", at(4, 20), at(4, 21));
    out.commit();
}

// Two hours of a line whose file names each slot's own machine and each alarm's texts (worked out by hand
// in line_report_test.cpp): the Capper (machine 3, slot 3) stops three times for one alarm shown in three
// languages and once for two alarms one after the other; the Filler (machine 2, slot 2) stops for one
// alarm that runs on through a gap; its format change leads the line, so it is raised in table 2 and 3.
inline void writeMachineHistory(const std::string& path) {
    report::HistoryFileWriter out(path);
    const report::Millis a = at(0, 0);
    out.run(a, "L2", a, at(2, 0), at(2, 0), 60);
    out.alarmText(3, 301, 1031, 1, "Not-Halt betätigt");
    out.alarmText(3, 301, 1033, 2, "Emergency stop pressed");
    out.alarmText(3, 301, 1036, 3, "Arrêt d'urgence activé");
    out.gap(a, "line", at(1, 20), at(1, 25));

    const std::vector<std::pair<report::Millis, std::string>> estops{{at(0, 5), "Emergency stop pressed"},
                                                                     {at(0, 15), "Not-Halt betätigt"},
                                                                     {at(0, 25), "Arrêt d'urgence activé"}};
    report::Millis running = a;
    for (const auto& [stop, shown] : estops) {
        out.interval(a, 3, "Capper", 1, running, stop, "", false, 3);
        out.episode(a, 3, 1, 301, shown, stop, stop + minutes(5));
        out.interval(a, 3, "Capper", 4, stop, stop + minutes(5), shown, false, 3);
        running = stop + minutes(5);
    }
    out.interval(a, 3, "Capper", 1, running, at(0, 40), "", false, 3);
    out.episode(a, 3, 1, 302, "Guard open", at(0, 40), at(0, 50), at(0, 40));  // published: leads the line
    out.interval(a, 3, "Capper", 4, at(0, 40), at(1, 0), "Guard open", false, 3);
    out.interval(a, -1, "L2", 1, at(0, 0), at(0, 40));
    out.interval(a, -1, "L2", 4, at(0, 40), at(1, 0));
    out.episode(a, 3, 1, 303, "Drive fault", at(0, 50), at(1, 0));
    out.interval(a, 3, "Capper", 1, at(1, 0), at(2, 0), "", false, 3);
    out.interval(a, -1, "L2", 1, at(1, 0), at(1, 10));

    out.interval(a, 2, "Filler", 1, at(0, 0), at(1, 10), "", false, 2);
    out.episode(a, 2, 1, 201, "Jam", at(1, 10), at(1, 40));
    out.interval(a, 2, "Filler", 4, at(1, 10), at(1, 20), "Jam", false, 2);
    out.interval(a, -1, "L2", 4, at(1, 10), at(1, 20));
    out.interval(a, 2, "Filler", 4, at(1, 25), at(1, 40), "Jam", false, 2);
    out.interval(a, -1, "L2", 4, at(1, 25), at(1, 40));
    out.interval(a, 2, "Filler", 1, at(1, 40), at(2, 0), "", false, 2);
    out.interval(a, -1, "L2", 1, at(1, 40), at(2, 0));
    out.episode(a, 2, 2, 210, "Format change", at(1, 45), at(1, 50));
    out.episode(a, 2, 3, 210, "", at(1, 45), at(1, 50), at(1, 45));

    out.interval(a, 4, "Palletiser", 1, at(0, 0), at(1, 20), "", true);
    out.interval(a, 4, "Palletiser", 1, at(1, 25), at(2, 0), "", true);
    out.commit();
}

}  // namespace orvanta::testing

namespace orvanta::testing {

// An hour of the demo line as the panel would keep it: five own machines, two foreign, a gap.
inline report::GeneratedLine demoHour() {
    report::GeneratedLine line;
    line.start = 1'796'652'000'000;  // 2026-12-07 14:00 UTC
    line.length = 60 * 60 * 1000;
    line.gapsPerDay = 24;
    line.seed = 7;
    return line;
}

}  // namespace orvanta::testing
