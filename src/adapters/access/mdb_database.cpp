#include "adapters/access/mdb_database.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <future>
#include <map>
#include <utility>

#include "adapters/access/bounded_process.h"
#include "adapters/access/mdb_protocol.h"
#include "core/text.h"
#include "core/vb_error.h"

namespace orvanta {
namespace {

constexpr const char* kSource = "Database";
constexpr std::int32_t kObjectInvalid = 3420;

using mdb_protocol::ReaderErrorCode;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string amountOfBytes(std::size_t bytes) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    constexpr std::size_t kGiB = std::size_t{1} << 30;
    if (bytes >= kGiB && bytes % kGiB == 0) return std::to_string(bytes / kGiB) + " GiB";
    if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

std::string amountOfTime(std::chrono::milliseconds time) {
    if (time.count() % 1000 == 0) return std::to_string(time.count() / 1000) + " s";
    return std::to_string(time.count()) + " ms";
}

long long wholeSecondsAbove(std::chrono::milliseconds time) {
    return std::chrono::ceil<std::chrono::seconds>(time).count() + 1;
}

// The first line the reader wrote to stderr, fit for a message: printable ASCII, at most 160 characters.
std::string firstLine(const std::string& text) {
    std::string line;
    for (const char c : text) {
        if (c == '\n' && !line.empty()) break;
        if (c == '\n' || c == '\r') continue;
        line += (c >= ' ' && c <= '~') ? c : '?';
        if (line.size() >= 160) break;
    }
    return line;
}

bool soundsLikeMemoryExhaustion(const std::string& errorText) {
    for (const char* sign : {"failed to allocate", "Cannot allocate memory", "out of memory", "bad_alloc"}) {
        if (errorText.find(sign) != std::string::npos) return true;
    }
    return false;
}

std::string signalName(int signal) {
    const char* description = ::sigdescr_np(signal);
    return "signal " + std::to_string(signal) + (description ? " (" + std::string(description) + ")" : "");
}

class MdbDatabase : public Database {
public:
    MdbDatabase(MdbDatabaseEngine engine, std::string path)
        : engine_(std::move(engine)), path_(std::move(path)) {}

    ~MdbDatabase() override {
        for (auto& [name, table] : prepared_) table.wait();
    }

    std::unique_ptr<Recordset> OpenRecordset(const std::string& statement) override {
        if (closed_) throw VbError(kObjectInvalid, "The database " + quoted(path_) + " is closed", kSource);
        const std::string table = tableOfStatement(statement);
        const auto prepared = prepared_.find(asciiUpper(table));
        if (prepared == prepared_.end()) return recordsetOver(engine_.readTable(path_, table), quoted(path_));
        auto ahead = std::move(prepared->second);
        prepared_.erase(prepared);
        return recordsetOver(ahead.get(), quoted(path_));
    }

    // Each reader is a process of its own: started side by side, their start-up costs overlap.
    void prepare(const std::vector<std::string>& tables) override {
        if (closed_) return;
        for (const std::string& table : tables) {
            const std::string key = asciiUpper(table);
            if (prepared_.contains(key)) continue;
            prepared_.emplace(key, std::async(std::launch::async, [engine = engine_, path = path_, table] {
                                  return engine.readTable(path, table);
                              }));
        }
    }

    void Close() override { closed_ = true; }

private:
    MdbDatabaseEngine engine_;
    std::string path_;
    bool closed_ = false;
    std::map<std::string, std::future<std::shared_ptr<const Table>>> prepared_;
};

}  // namespace

MdbDatabaseEngine::MdbDatabaseEngine(std::string readerPath, MdbReaderLimits limits, HelperStop* stop)
    : readerPath_(std::move(readerPath)), limits_(limits), stop_(stop) {}

std::unique_ptr<Database> MdbDatabaseEngine::OpenDatabase(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        const int error = errno;
        throw VbError(database_error::kCouldNotFindFile,
                      "Could not find file " + quoted(path) +
                          (error == ENOENT ? std::string() : std::string(": ") + std::strerror(error)),
                      kSource);
    }
    if (!S_ISREG(status.st_mode))
        throw VbError(database_error::kCouldNotFindFile,
                      "Could not find file " + quoted(path) + ": it is not a regular file", kSource);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        throw VbError(database_error::kCouldNotFindFile,
                      "Cannot read file " + quoted(path) + ": " + std::strerror(error), kSource);
    }
    char header[19] = {};
    ssize_t got = 0;
    do {
        got = ::pread(fd, header, sizeof(header), 0);
    } while (got < 0 && errno == EINTR);
    ::close(fd);
    const std::string_view signature(header + 4, 15);
    if (got != static_cast<ssize_t>(sizeof(header)) ||
        (signature != "Standard Jet DB" && signature != "Standard ACE DB"))
        throw VbError(database_error::kUnrecognizedFormat,
                      "Unrecognized database format " + quoted(path) + ": not an Access database", kSource);
    return std::make_unique<MdbDatabase>(*this, path);
}

std::shared_ptr<const Table> MdbDatabaseEngine::readTable(const std::string& path,
                                                          const std::string& table) const {
    const std::vector<std::string> argv{readerPath_,
                                        "--max-memory",
                                        std::to_string(limits_.addressSpaceBytes),
                                        "--max-cpu",
                                        std::to_string(wholeSecondsAbove(limits_.wallTime)),
                                        "--",
                                        path,
                                        table};
    BoundedRunLimits runLimits;
    runLimits.wallTime = limits_.wallTime;
    runLimits.maxOutputBytes = limits_.outputBytes;
    const BoundedRunResult run = runBounded(argv, {"LC_ALL=C"}, runLimits, stop_);

    const std::string context = "Cannot read table " + quoted(table) + " of " + quoted(path) + ": ";
    const auto failed = [&](const std::string& what) {
        std::string description = context + what;
        const std::string said = firstLine(run.errorText);
        if (!said.empty()) description += " (it said: " + said + ")";
        return VbError(database_error::kCannotOpenDatabase, description, kSource);
    };
    const bool outOfMemory = soundsLikeMemoryExhaustion(run.errorText);
    const std::string memoryLimit = "the reader ran out of memory (limit " +
                                    amountOfBytes(limits_.addressSpaceBytes) + ") and ended with ";

    using End = BoundedRunResult::End;
    switch (run.end) {
        case End::NotStarted:
            throw failed("the reader " + quoted(readerPath_) +
                         " could not be started: " + std::strerror(run.spawnError));
        case End::TimedOut:
            throw failed("the reader took longer than " + amountOfTime(limits_.wallTime) +
                         " and was stopped");
        case End::Stopped:
            throw failed("the reader was stopped because the program is ending");
        case End::OutputTooLarge:
            throw failed("the reader's output passed " + amountOfBytes(limits_.outputBytes) +
                         " and it was stopped");
        case End::Signaled:
            if (run.signal == SIGXCPU)
                throw failed("the reader used more than " +
                             std::to_string(wholeSecondsAbove(limits_.wallTime)) +
                             " s of processor time and was stopped");
            throw failed(outOfMemory ? memoryLimit + signalName(run.signal)
                                     : "the reader crashed with " + signalName(run.signal));
        case End::Exited:
        case End::Vanished:
            break;
    }

    mdb_protocol::Decoded decoded = mdb_protocol::decode(run.output, table, limits_.outputBytes);
    const bool cleanExit = run.end == End::Vanished || run.exitCode == 0;
    switch (decoded.kind) {
        case mdb_protocol::Decoded::Kind::Table:
            if (!cleanExit)
                throw failed("the reader ended with exit status " + std::to_string(run.exitCode) +
                             " after a complete table");
            return std::make_shared<const Table>(std::move(decoded.table));
        case mdb_protocol::Decoded::Kind::ReaderError:
            switch (decoded.code) {
                case ReaderErrorCode::kFileNotFound:
                case ReaderErrorCode::kCannotRead:
                    throw VbError(database_error::kCouldNotFindFile, decoded.message, kSource);
                case ReaderErrorCode::kNotAccessFile:
                    throw VbError(database_error::kUnrecognizedFormat, decoded.message, kSource);
                case ReaderErrorCode::kTableNotFound:
                    throw VbError(database_error::kTableNotFound, decoded.message, kSource);
                default:
                    throw VbError(database_error::kCannotOpenDatabase, context + decoded.message, kSource);
            }
        case mdb_protocol::Decoded::Kind::Malformed:
            break;
    }
    if (outOfMemory && !cleanExit) throw failed(memoryLimit + "exit status " + std::to_string(run.exitCode));
    if (run.output.empty() && !cleanExit)
        throw failed("the reader ended with exit status " + std::to_string(run.exitCode) + " and no output");
    throw failed("the reader's output is malformed: " + decoded.message +
                 (cleanExit ? std::string() : "; it ended with exit status " + std::to_string(run.exitCode)));
}

std::string defaultMdbReaderPath() {
    std::string self(4096, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= self.size()) return "orvanta-mdb-reader";
    self.resize(static_cast<std::size_t>(length));
    const std::size_t slash = self.rfind('/');
    return (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/orvanta-mdb-reader";
}

}  // namespace orvanta
