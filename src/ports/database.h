// What the panel expects of a database engine for the plant's Access files: open a file, open a recordset
// for "SELECT T.* FROM T", walk it forward row by row, and read the columns' names by position and their
// values by name. Nothing else: the alarm definitions and the language tables are read once, in full.
//
// Values are Variants: Byte and Integer columns 16-bit, Long 32-bit, Single and Double doubles, Boolean,
// Text and Memo strings (UTF-8), and Null for an empty cell. Every failure is a VbError whose description
// names the file, the table or the column; the numbers are the Access engine's own where it has one.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/variant.h"

namespace orvanta {

namespace database_error {
inline constexpr std::int32_t kCouldNotFindFile = 3024;
inline constexpr std::int32_t kCannotOpenDatabase = 3049;  // corrupt, truncated, or the read failed
inline constexpr std::int32_t kTableNotFound = 3078;
inline constexpr std::int32_t kInvalidStatement = 3129;
inline constexpr std::int32_t kItemNotFound = 3265;        // no column of that name
inline constexpr std::int32_t kUnrecognizedFormat = 3343;  // not an Access file
}  // namespace database_error

class Recordset {
public:
    virtual ~Recordset() = default;
    // True past the last row (at once for an empty table).
    virtual bool isEof() const = 0;
    virtual void MoveNext() = 0;
    virtual int FieldCount() const = 0;
    // VbError 9 outside 0..FieldCount()-1.
    virtual std::string FieldName(int index) const = 0;
    // The current row's value of the column, valid until the next MoveNext; VbError 3265 for an unknown
    // column, 3021 past the end.
    virtual const Variant& FieldValue(std::string_view name) const = 0;
};

class Database {
public:
    virtual ~Database() = default;
    // Only "SELECT T.* FROM T" (keywords in any case, T the same table twice); anything else is 3129.
    virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& statement) = 0;
    virtual void Close() = 0;
    // A hint: these tables will be opened next. An engine may read them ahead, side by side; what it
    // finds (a table or an error) is what their OpenRecordset gives later.
    virtual void prepare(const std::vector<std::string>& /*tables*/) {}
};

class DatabaseEngine {
public:
    virtual ~DatabaseEngine() = default;
    // Opens the file read-only; the program never writes a plant's database.
    virtual std::unique_ptr<Database> OpenDatabase(const std::string& path) = 0;
};

// A whole table in memory: its column names and its rows of values.
struct Table {
    std::string name;
    std::vector<std::string> columns;
    std::vector<std::vector<Variant>> rows;
};

// The table named by "SELECT T.* FROM T", or VbError 3129 naming the statement.
std::string tableOfStatement(std::string_view statement);

// A forward recordset over a table held in memory.
std::unique_ptr<Recordset> recordsetOver(std::shared_ptr<const Table> table, std::string origin);

}  // namespace orvanta
