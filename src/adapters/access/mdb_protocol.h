// The byte stream with which orvanta-mdb-reader hands a table to the panel, and the panel's decoder of it.
//
// The reader runs libmdb in a child process (libmdb is not to be trusted with a damaged file), so this
// stream is all the panel ever sees of a database file. It is decoded as hostile input: every tag must be
// known, every length must fit into what is left, every count is bounded, the strings must be UTF-8, the
// end marker must repeat the number of rows, and nothing may follow it. What the decoded table will cost
// in memory is charged against a budget while it is built, so a stream of millions of one-byte Null cells
// cannot make the panel allocate forty times its size.
//
// All integers are little-endian.
//
//   stream := magic header row* end
//           | magic [header row* ['R' cell*]] error
//   magic  := "ORVMDB1\n"
//   header := 'H' u32 columnCount name{columnCount}          columnCount <= kMaxColumns
//   name   := u32 byteLength utf8{byteLength}
//   row    := 'R' cell{columnCount}
//   cell   := 'N'                  Null
//           | 'I' i16              Byte, Integer
//           | 'L' i32              Long
//           | 'D' f64 (IEEE 754)   Single, Double
//           | 'B' u8 (0 or 1)      Boolean
//           | 'S' u32 byteLength utf8{byteLength}
//   end    := 'E' u64 rowCount
//   error  := 'X' u8 code u32 byteLength utf8{byteLength}    code: ReaderErrorCode
//
// An error record may also stand in place of a cell: the reader finds a damaged row while writing it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "ports/database.h"

namespace orvanta::mdb_protocol {

inline constexpr std::string_view kMagic = "ORVMDB1\n";
inline constexpr std::uint32_t kMaxColumns = 4096;

namespace tag {
inline constexpr char kHeader = 'H';
inline constexpr char kRow = 'R';
inline constexpr char kEnd = 'E';
inline constexpr char kError = 'X';
inline constexpr char kNull = 'N';
inline constexpr char kInteger = 'I';
inline constexpr char kLong = 'L';
inline constexpr char kDouble = 'D';
inline constexpr char kBoolean = 'B';
inline constexpr char kString = 'S';
}  // namespace tag

// Why the reader gave up; also its exit status.
enum class ReaderErrorCode : std::uint8_t {
    kUsage = 2,          // called with wrong arguments
    kFileNotFound = 3,   // no such file, or not a regular file
    kCannotRead = 4,     // the file exists but cannot be opened for reading
    kNotAccessFile = 5,  // no Jet/ACE signature, or libmdb does not recognise the format
    kTableNotFound = 6,  // no table of that name (the message lists the tables)
    kDamaged = 7,        // the table list, the table's definition or a row cannot be read
    kOutOfMemory = 8,    // an allocation of the reader failed
    kWriteFailed = 9,    // the output could not be written (no error record then)
};

// A row, a cell and a string cost at least this much of the memory budget, whatever their wire size.
inline constexpr std::size_t kRowCost = sizeof(std::vector<Variant>) + 16;
inline constexpr std::size_t kCellCost = sizeof(Variant);

struct Decoded {
    enum class Kind { Table, ReaderError, Malformed };
    Kind kind = Kind::Malformed;
    Table table;                                     // Kind::Table
    ReaderErrorCode code = ReaderErrorCode::kUsage;  // Kind::ReaderError
    std::string message;                             // the reader's message, or what is wrong with the stream
};

// Decodes a complete stream. The table is named tableName; building it may cost at most memoryBudget
// bytes, else the stream is Malformed ("the table would need more than ...").
Decoded decode(std::string_view bytes, const std::string& tableName, std::size_t memoryBudget);

// True when text is well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isUtf8(std::string_view text);

}  // namespace orvanta::mdb_protocol
