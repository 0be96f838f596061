// The program log, and the line display's own log with the same writer, is opened, appended to and closed
// for every line, so it is complete whenever the program stops, and a line costs one open and one size
// query; the file is read only when it is shortened.
//
// Shortening writes the kept part of the log, headed by a marker line, into the log's name & ".tmp",
// checks that the temporary file holds every byte, and renames it over the log in one step. The log is
// therefore either the old one or the complete new one: a crash or a full disk in the middle leaves the
// old log in place, and a temporary file that was not completed is removed.
//
// Nothing here throws or reports: the log writer must not become a source of faults for the handlers
// that call it, and it cannot log its own errors.
#include "service/program_log.h"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <utility>

#include "core/variant.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

// Any size works; that of the C library's own buffers is a good one.
constexpr std::size_t kChunkBytes = BUFSIZ;
constexpr const char* kLineEnd = "\r\n";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

template <typename Step>
void quietly(Step&& step) noexcept {
    try {
        step();
    } catch (...) {
    }
}

// Empty when the line was written, else why not. The file is closed even when the write fell short.
std::string appendLine(const std::string& path, const std::string& line) {
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (file == nullptr) return std::strerror(errno);
    const bool complete = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    const int writeError = errno;
    if (std::fclose(file) == 0 && complete) return {};
    return std::strerror(complete ? errno : writeError);
}

// A size that cannot be measured counts as exceeded, so that the shortening is at least attempted.
bool sizeExceeded(const std::string& path, std::int32_t limitKiB) {
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    return error || static_cast<std::int64_t>(size) > std::int64_t{limitKiB} * 1024;
}

// The 1-based byte position at which the log is cut: a tenth of the limit, rounded half to even. A
// position below 1 (a limit below 5 bytes) cuts at the first byte, as 1 does.
std::int64_t cutPosition(std::int32_t limitKiB) {
    return static_cast<std::int64_t>(roundHalfEven(static_cast<double>(limitKiB) * 1024.0 * 0.1));
}

// Writes to the temporary file and counts what it handed over, so that a short file can be detected.
class TemporaryWriter {
public:
    explicit TemporaryWriter(std::FILE* file) : file_(file) {}

    void put(char c) {
        buffer_.push_back(c);
        if (buffer_.size() >= kChunkBytes) flush();
    }
    void put(const std::string& text) {
        for (const char c : text) put(c);
    }
    void flush() {
        if (buffer_.empty()) return;
        total_ += std::fwrite(buffer_.data(), 1, buffer_.size(), file_);
        buffer_.clear();
    }
    // A write that fell short sets the file's error indicator.
    bool failed() const { return std::ferror(file_) != 0; }
    std::uintmax_t total() const { return total_; }

private:
    std::FILE* file_;
    std::string buffer_;
    std::uintmax_t total_ = 0;
};

// Copies the log from the first line that begins after the cut position, ending every line with CR LF
// (a CR alone, or CR LF, ends a line; a lone LF is part of the line). False when the log could not be
// read; whether the temporary file took everything is the caller's check.
bool copyKeptLines(std::FILE* log, std::int64_t cut, TemporaryWriter& out) {
    enum class Phase { Skip, Cut, Copy };
    Phase phase = Phase::Skip;
    const std::int64_t firstCutIndex = cut - 1;
    std::int64_t index = 0;
    bool afterCr = false;
    bool lineOpen = false;
    std::array<char, kChunkBytes> chunk{};

    for (;;) {
        const std::size_t count = std::fread(chunk.data(), 1, chunk.size(), log);
        if (count == 0) break;
        for (std::size_t k = 0; k < count; ++k, ++index) {
            const char c = chunk[k];
            if (phase == Phase::Skip) {
                if (index < firstCutIndex) {
                    afterCr = c == '\r';
                    continue;
                }
                phase = Phase::Cut;
                if (c == '\n' && afterCr) {  // the cut falls on the LF of a CR LF: the next line is whole
                    phase = Phase::Copy;
                    afterCr = false;
                    continue;
                }
                afterCr = false;
            }
            if (phase == Phase::Cut) {
                if (!afterCr) {
                    afterCr = c == '\r';
                    continue;
                }
                // The line copy below skips the LF of this CR LF and decides afterCr anew.
                phase = Phase::Copy;
            }
            if (c == '\r') {
                out.put(kLineEnd);
                afterCr = true;
                lineOpen = false;
            } else if (c == '\n' && afterCr) {
                afterCr = false;
            } else {
                out.put(c);
                afterCr = false;
                lineOpen = true;
            }
        }
    }
    if (lineOpen) out.put(kLineEnd);
    return std::ferror(log) == 0;
}

void shortenLog(const std::string& path, std::int32_t limitKiB, const std::string& marker) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return;
    // A log reached through a link is shortened where it lies: the link stays a link.
    const std::string logName = fs::canonical(path, error).string();
    if (error) return;
    // A log that cannot be written keeps its content: shortening it would drop old lines while no new
    // one can take their place (the rename below needs only the folder to be writable).
    if (::access(logName.c_str(), W_OK) != 0) return;
    const std::string temporaryName = logName + ".tmp";

    const FileHandle log(std::fopen(logName.c_str(), "rb"));
    if (!log) return;
    std::FILE* temporary = std::fopen(temporaryName.c_str(), "wb");
    if (temporary == nullptr) return;

    bool complete = false;
    quietly([&] {
        TemporaryWriter out(temporary);
        out.put(marker);
        out.put(kLineEnd);
        const bool copied = copyKeptLines(log.get(), cutPosition(limitKiB), out);
        out.flush();
        complete = copied && std::fflush(temporary) == 0 && !out.failed();
        const bool closed = std::fclose(temporary) == 0;
        temporary = nullptr;
        std::error_code sizeError;
        complete = complete && closed && fs::file_size(temporaryName, sizeError) == out.total() && !sizeError;
    });
    if (temporary != nullptr) std::fclose(temporary);

    if (complete) {
        std::error_code statusError;
        const fs::perms logPermissions = fs::status(logName, statusError).permissions();
        if (!statusError) fs::permissions(temporaryName, logPermissions, statusError);
        std::error_code renameError;
        fs::rename(temporaryName, logName, renameError);
        if (!renameError) return;
    }
    std::error_code ignored;
    fs::remove(temporaryName, ignored);
}

}  // namespace

std::string appendToLimitedLog(const std::string& path, std::int32_t limitKiB, const std::string& line,
                               const Clock& clock) {
    std::string problem;
    quietly([&] {
        if (path.empty()) return;
        problem = appendLine(path, line + kLineEnd);
        if (problem.empty() && sizeExceeded(path, limitKiB)) shortenLimitedLog(path, limitKiB, clock);
    });
    return problem;
}

void shortenLimitedLog(const std::string& path, std::int32_t limitKiB, const Clock& clock) {
    quietly([&] {
        const std::string marker = clock.shortDate() + "; " + clock.longTime() + "; File size reduced";
        shortenLog(path, limitKiB, marker);
    });
}

ProgramLog::ProgramLog(const LogSettings& settings, const Clock& clock, CentralFormView& form,
                       std::string programFolder)
    : settings_(settings), clock_(clock), form_(form), programFolder_(std::move(programFolder)) {}

void ProgramLog::LogEintrag(const std::string& text, std::int16_t show, std::int16_t system,
                            std::int16_t data, std::int16_t fault) {
    if (!writes(system, data, fault)) return;

    std::string line;
    quietly([&] {
        if (fault == kTrue) line += "F ";
        if (data == kTrue) line += "D ";
        if (system == kTrue) line += "S ";
        line += text;
    });
    append(line);
    if (show != 0) {
        quietly([&] { form_.setLabelFehlerCaption(text); });
        quietly([&] { form_.setLabelFehlerVisible(true); });
    }
}

void ProgramLog::LogHinweis(const std::string& text) { append(text); }

void ProgramLog::append(const std::string& line) {
    std::string problem;
    quietly([&] {
        problem = appendToLimitedLog(settings_.LogDateiName, settings_.LogDateiGroesse, line, clock_);
    });
    if (problem.empty()) {
        troubleReported_ = false;
        return;
    }
    // Once for a run of lost lines, not once a line: the report must not bury what it reports on.
    if (troubleReported_ || !onTrouble_) return;
    troubleReported_ = true;
    quietly([&] {
        onTrouble_("Cannot write the log " + settings_.LogDateiName + ": " + problem +
                   "; its lines are lost until it can be written again");
    });
}

bool ProgramLog::writes(std::int16_t system, std::int16_t data, std::int16_t fault) const {
    return fault == kTrue || (system == kTrue && settings_.LogSystem == kTrue) ||
           (data == kTrue && settings_.Logdaten == kTrue);
}

void ProgramLog::LogKuerzen() {
    shortenLimitedLog(settings_.LogDateiName, settings_.LogDateiGroesse, clock_);
}

// Its errors would go to the error hook FehlerMelden, which discards them: a line that cannot be written
// is lost, as in the program log.
void ProgramLog::LogFile(const std::string& text, const std::string& /*source*/) {
    quietly([&] {
        appendLine((fs::path(programFolder_) / "Log.log").string(), clock_.time24() + " " + text + kLineEnd);
    });
}

}  // namespace orvanta
