// A damaged Access file, read the way the panel reads a plant's alarm definitions and languages: through
// the reader child process. libmdb may crash, loop or run out of memory in the child; that must reach
// the panel as a VbError. A finding is the panel's side crashing, hanging, leaking or misbehaving.
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "adapters/access/mdb_database.h"
#include "core/vb_error.h"
#include "fuzz_support.h"

#ifndef ORVANTA_MDB_READER
#error "ORVANTA_MDB_READER must name the reader program"
#endif

namespace {

[[noreturn]] void finding(const char* what) { orvanta::fuzz::finding("fuzz_access_file", what); }

const std::string& databasePath() { return orvanta::fuzz::scratchFile("mdb"); }

void readWhole(orvanta::Database& database, const std::string& table) {
    try {
        const auto records = database.OpenRecordset("SELECT " + table + ".* FROM " + table);
        const int columns = records->FieldCount();
        if (columns < 0) finding("a negative column count");
        for (; !records->isEof(); records->MoveNext()) {
            for (int c = 0; c < columns; ++c) (void)records->FieldValue(records->FieldName(c));
        }
    } catch (const orvanta::VbError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(databasePath(), std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) finding("cannot write the temporary database file");
    }
    orvanta::MdbReaderLimits limits;
    // Short enough that a looping reader costs the fuzzer seconds, long enough for a real table.
    limits.wallTime = std::chrono::seconds(5);
    limits.outputBytes = std::size_t{64} << 20;
    orvanta::MdbDatabaseEngine engine(ORVANTA_MDB_READER, limits);
    try {
        const auto database = engine.OpenDatabase(databasePath());
        // The start reads these side by side; the same path here.
        database->prepare({"Alarmdefs", "Texts"});
        for (const char* table : {"Alarmdefs", "Texts", "LookupLanguages"}) readWhole(*database, table);
        database->Close();
    } catch (const orvanta::VbError&) {
    }
    return 0;
}
