// The panel's database engine for the plant's Access files. It never loads libmdb itself: each recordset
// is read in full by the orvanta-mdb-reader program, run as a child process under a wall-time, memory and
// output limit, and handed back over a pipe (see mdb_protocol.h). libmdb crashes, overruns and loops on
// damaged files; here such a file costs one VbError 3049 that names the file, the table and what went
// wrong, never a crash or a hang of the panel.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "ports/database.h"

namespace orvanta {

struct MdbReaderLimits {
    std::chrono::milliseconds wallTime = std::chrono::seconds(20);
    std::size_t addressSpaceBytes = std::size_t{1} << 30;  // the reader's RLIMIT_AS
    // The reader's output, and separately the memory the table built from it may take in the panel.
    std::size_t outputBytes = std::size_t{256} << 20;
};

class HelperStop;

class MdbDatabaseEngine : public DatabaseEngine {
public:
    // stop, when given, outlives the engine and ends its readers early (3049), for a program that ends.
    explicit MdbDatabaseEngine(std::string readerPath, MdbReaderLimits limits = {},
                               HelperStop* stop = nullptr);

    // VbError 3024 when path is not a readable regular file, 3343 when it lacks the Jet/ACE signature.
    std::unique_ptr<Database> OpenDatabase(const std::string& path) override;

    // One whole table of the file at path, read by the reader: 3078 when there is no such table,
    // 3049 when the reader crashed, ran too long or too large, or its output is malformed.
    std::shared_ptr<const Table> readTable(const std::string& path, const std::string& table) const;

private:
    std::string readerPath_;
    MdbReaderLimits limits_;
    HelperStop* stop_;
};

// The reader installed beside the running program.
std::string defaultMdbReaderPath();

}  // namespace orvanta
