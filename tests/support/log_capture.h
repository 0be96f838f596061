// A program log writing to a temporary file, with every category switched on, and a way to read its
// lines back: what a plant engineer would find in the log.
#pragma once

#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "service/program_log.h"
#include "support/fixed_clock.h"
#include "support/recording_forms.h"

namespace orvanta::testing {

class LogCapture {
public:
    LogCapture() {
        static std::atomic<int> counter{0};
        folder_ = std::filesystem::temp_directory_path() /
                  ("orvanta-log-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        // A process killed before its destructor ran (a test timed out) leaves its folder; a later process
        // given the same id would append to that log.
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        settings.LogDateiName = (folder_ / "Orvanta.log").string();
        settings.LogDateiGroesse = 2000;
        settings.LogSystem = -1;
        settings.Logdaten = -1;
    }
    ~LogCapture() { std::filesystem::remove_all(folder_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // The log's lines, without their CR LF.
    std::vector<std::string> lines() const {
        std::ifstream in(settings.LogDateiName, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        std::vector<std::string> result;
        std::string text = content.str();
        std::size_t start = 0;
        for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            result.push_back(text.substr(start, end - start));
        return result;
    }

    // The lines that begin with prefix.
    std::vector<std::string> linesStartingWith(const std::string& prefix) const {
        std::vector<std::string> result;
        for (const std::string& line : lines()) {
            if (line.rfind(prefix, 0) == 0) result.push_back(line);
        }
        return result;
    }

    void clear() { std::filesystem::remove(settings.LogDateiName); }

    LogSettings settings;
    FixedClock clock;
    RecordingCentralForm form;
    ProgramLog log{settings, clock, form, "/nonexistent"};

private:
    std::filesystem::path folder_;
};

}  // namespace orvanta::testing
