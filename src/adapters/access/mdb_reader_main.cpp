// orvanta-mdb-reader FILE TABLE: reads one table of an Access database with libmdb and writes it to
// stdout in the stream of mdb_protocol.h. The panel runs it as a child process with a time and memory
// limit, because libmdb crashes, overruns or loops on damaged files; a failure here is a clear error
// for the panel instead of its end.
//
//   orvanta-mdb-reader [--max-memory BYTES] [--max-cpu SECONDS] [--] FILE TABLE
//
// The limits are set with setrlimit before the file is touched (the panel cannot fork and set them in
// between: it has other threads). Core dumps are always off. The protocol goes to a private copy of
// stdout, and stdout itself is pointed at stderr, so a stray print of libmdb cannot corrupt the stream.
//
// Cells are read directly from the row's bytes as libmdb's mdb_crack_row locates them, which also gives
// the Null bit that libmdb's string binding loses. Byte and Integer become 16-bit, Long 32-bit, Single
// and Double doubles, Boolean a Boolean (never Null: Access keeps it in the Null bit), Text and Memo
// UTF-8 strings. Currency, Numeric, Date/Time ("YYYY-MM-DD hh:mm:ss") and Replication ID come as libmdb's
// text of them; Binary and OLE as Null, since nothing in the panel reads bytes. Rows libmdb itself skips
// (deleted, or with unusable row metadata) are skipped; a value lying outside its page is a damaged row.
// Where libmdb quietly reads less than the whole table (a file that is not whole pages, a page map that
// names pages past the end, a page of the map it cannot read) the reader says so instead.
//
// glib.h comes before mdbtools.h, which includes it inside extern "C" where glib's C++ parts cannot stand.
#include <fcntl.h>
#include <glib.h>
#include <mdbtools.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/access/mdb_protocol.h"
#include "core/text.h"

namespace orvanta {
namespace {

using mdb_protocol::ReaderErrorCode;
namespace tag = mdb_protocol::tag;

// Output collected in one large buffer and written in large chunks.
class ProtocolWriter {
public:
    explicit ProtocolWriter(int fd) : fd_(fd) { buffer_.reserve(kChunk + 64); }

    void byte(char value) {
        buffer_.push_back(value);
        if (buffer_.size() >= kChunk) flush();
    }
    template <typename T>
    void number(T value) {
        char bytes[sizeof(T)];
        std::memcpy(bytes, &value, sizeof(T));  // little-endian host (x86-64, arm64)
        buffer_.insert(buffer_.end(), bytes, bytes + sizeof(T));
        if (buffer_.size() >= kChunk) flush();
    }
    void text(std::string_view value) {
        number(static_cast<std::uint32_t>(value.size()));
        buffer_.insert(buffer_.end(), value.begin(), value.end());
        if (buffer_.size() >= kChunk) flush();
    }
    void raw(std::string_view value) { buffer_.insert(buffer_.end(), value.begin(), value.end()); }

    void flush() {
        std::size_t done = 0;
        while (done < buffer_.size()) {
            const ssize_t written = ::write(fd_, buffer_.data() + done, buffer_.size() - done);
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) std::_Exit(static_cast<int>(ReaderErrorCode::kWriteFailed));
            done += static_cast<std::size_t>(written);
        }
        buffer_.clear();
    }

private:
    static constexpr std::size_t kChunk = 1 << 20;
    int fd_;
    std::vector<char> buffer_;
};

// Ends the reader with an error record; the exit status is the code.
[[noreturn]] void fail(ProtocolWriter& out, ReaderErrorCode code, const std::string& message) {
    out.byte(tag::kError);
    out.byte(static_cast<char>(code));
    out.text(message);
    out.flush();
    std::_Exit(static_cast<int>(code));
}

bool parseCount(const char* text, unsigned long long& value) {
    if (text == nullptr || *text < '0' || *text > '9') return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0';
}

void limit(int resource, rlim_t value) {
    const rlimit bound{value, value};
    ::setrlimit(resource, &bound);
}

bool hasAccessSignature(int fd) {
    char header[19] = {};
    std::size_t got = 0;
    while (got < sizeof(header)) {
        const ssize_t n = ::pread(fd, header + got, sizeof(header) - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    const std::string_view signature(header + 4, 15);
    return signature == "Standard Jet DB" || signature == "Standard ACE DB";
}

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

class TableReader {
public:
    TableReader(MdbHandle* mdb, MdbTableDef* table, ProtocolWriter& out, const std::string& where)
        : mdb_(mdb), table_(table), out_(out), where_(where), fields_(table->num_cols) {}

    // A file cut on a page boundary passes libmdb without a word: its map still names pages past the
    // end, which libmdb skips (or, for a lost map page, replaces by a scan of what is left).
    void checkPageMap(unsigned long filePages) {
        const unsigned char* map = table_->usage_map;
        const std::size_t size = table_->map_sz;
        if (map == nullptr || size < 5) return;
        const auto word = [&](std::size_t at) {
            std::uint32_t value;
            std::memcpy(&value, map + at, sizeof(value));
            return value;
        };
        unsigned long beyond = 0;
        if (map[0] == 0) {  // a first page and a bitmap of the pages after it
            const unsigned long first = word(1);
            for (std::size_t bit = 0; bit < (size - 5) * 8 && beyond == 0; ++bit) {
                if ((map[5 + bit / 8] & (1U << (bit % 8))) != 0 && first + bit >= filePages)
                    beyond = first + bit;
            }
        } else if (map[0] == 1) {  // the pages that hold the bitmaps
            for (std::size_t at = 1; at + 4 <= size && beyond == 0; at += 4) {
                if (word(at) >= filePages) beyond = word(at);
            }
        }
        if (beyond != 0)
            fail(out_, ReaderErrorCode::kDamaged,
                 "Page " + std::to_string(beyond) + " of " + where_ + " lies past the end of the file");
    }

    std::uint64_t readAll() {
        mdb_rewind_table(table_);
        if (table_->num_cols == 0) return 0;  // libmdb reads no row of a table without columns
        std::uint64_t rows = 0;
        while (mdb_read_next_dpg(table_)) {
            const int count = mdb_get_int16(mdb_->pg_buf, mdb_->fmt->row_count_offset);
            for (int row = 0; row < count; ++row) {
                int start = 0;
                size_t size = 0;
                if (mdb_find_row(mdb_, row, &start, &size) == -1 || size == 0) continue;
                if ((start & 0x4000) != 0) continue;  // deleted
                start &= 0x1fff;
                if (mdb_crack_row(table_, start, size, fields_.data()) < 0) continue;
                page_ = table_->cur_phys_pg;
                row_ = row;
                writeRow();
                ++rows;
            }
        }
        // libmdb ends the walk quietly where a page of the table cannot be read (beyond the end of the
        // file, say); the rest of the table would be missing without a word.
        if (table_->usage_map != nullptr) {
            const gint32 unread = mdb_map_find_next(
                mdb_, table_->usage_map, static_cast<unsigned>(table_->map_sz), table_->cur_phys_pg);
            if (unread > 0)
                fail(out_, ReaderErrorCode::kDamaged,
                     "Page " + std::to_string(unread) + " of " + where_ + " cannot be read");
        }
        return rows;
    }

private:
    void writeRow() {
        out_.byte(tag::kRow);
        for (unsigned i = 0; i < table_->num_cols; ++i) {
            const MdbField& field = fields_[i];
            const auto column = static_cast<unsigned>(field.colnum);
            if (column >= table_->num_cols) damaged("a value of an unknown column");
            writeCell(*static_cast<MdbColumn*>(g_ptr_array_index(table_->columns, column)), field);
        }
    }

    void writeCell(const MdbColumn& column, const MdbField& field) {
        if (column.col_type == MDB_BOOL) {
            out_.byte(tag::kBoolean);
            out_.byte(field.is_null ? 0 : 1);  // Access keeps a Boolean in the Null bit
            return;
        }
        if (field.is_null) {
            out_.byte(tag::kNull);
            return;
        }
        // Each value is fetched (and checked) before its tag is written: a damaged value ends the stream
        // with an error record in its place.
        switch (column.col_type) {
            case MDB_BYTE:
                put(tag::kInteger, static_cast<std::int16_t>(*bytes(field, 1)));
                break;
            case MDB_INT:
                put(tag::kInteger, load<std::int16_t>(field));
                break;
            case MDB_LONGINT:
            case MDB_COMPLEX:
                put(tag::kLong, load<std::int32_t>(field));
                break;
            case MDB_FLOAT:
                put(tag::kDouble, static_cast<double>(load<float>(field)));
                break;
            case MDB_DOUBLE:
                put(tag::kDouble, load<double>(field));
                break;
            case MDB_TEXT:
                writeText(field);
                break;
            case MDB_MEMO:
                writeMemo(field);
                break;
            case MDB_MONEY:
                bytes(field, 8);
                writeLibraryText(mdb_money_to_string(mdb_, field.start));
                break;
            case MDB_NUMERIC:
                bytes(field, 17);
                writeLibraryText(mdb_numeric_to_string(mdb_, field.start, column.col_scale, column.col_prec));
                break;
            case MDB_DATETIME:
            case MDB_REPID:
                bytes(field, column.col_type == MDB_DATETIME ? 8 : 16);
                writeLibraryText(
                    mdb_col_to_string(mdb_, mdb_->pg_buf, field.start, column.col_type, field.siz));
                break;
            default:  // Binary, OLE and anything newer
                out_.byte(tag::kNull);
                break;
        }
    }

    template <typename T>
    void put(char kind, T value) {
        out_.byte(kind);
        out_.number(value);
    }

    // The field's first `need` bytes, checked to lie inside the page.
    const unsigned char* bytes(const MdbField& field, int need) {
        const long pageSize = std::min<long>(mdb_->fmt->pg_size, MDB_PGSIZE);
        if (field.siz < need)
            damaged("a value of " + std::to_string(field.siz) + " bytes where its type needs " +
                    std::to_string(need));
        if (field.start < 0 || static_cast<long>(field.start) + field.siz > pageSize)
            damaged("a value outside its page");
        return mdb_->pg_buf + field.start;
    }

    template <typename T>
    T load(const MdbField& field) {
        T value;
        std::memcpy(&value, bytes(field, sizeof(T)), sizeof(T));
        return value;
    }

    void writeText(const MdbField& field) {
        const unsigned char* source = field.siz == 0 ? mdb_->pg_buf : bytes(field, 0);
        const std::size_t length = static_cast<std::size_t>(field.siz);
        // UTF-8 takes at most three bytes for each byte of UCS-2, compressed Unicode or a code page.
        const std::size_t capacity = 3 * length + 4;
        if (text_.size() < capacity) text_.resize(capacity);
        const int converted = length == 0 ? 0
                                          : mdb_unicode2ascii(mdb_, reinterpret_cast<const char*>(source),
                                                              length, text_.data(), capacity);
        out_.byte(tag::kString);
        out_.text(std::string_view(text_.data(), static_cast<std::size_t>(converted > 0 ? converted : 0)));
    }

    void writeMemo(const MdbField& field) {
        // libmdb converts into a buffer of the bind size; make it large enough for the whole memo.
        std::size_t raw = static_cast<std::size_t>(mdb_->fmt->pg_size);
        if (field.siz >= MDB_MEMO_OVERHEAD) {
            const auto header = static_cast<std::uint32_t>(load<std::uint32_t>(field));
            if ((header & 0xc0000000U) == 0) raw = header & 0x00ffffffU;  // spread over several pages
        } else {
            bytes(field, 0);
        }
        mdb_set_bind_size(mdb_, 3 * raw + MDB_BIND_SIZE);
        writeLibraryText(mdb_col_to_string(mdb_, mdb_->pg_buf, field.start, MDB_MEMO, field.siz));
        mdb_set_bind_size(mdb_, MDB_BIND_SIZE);
    }

    void writeLibraryText(char* text) {
        out_.byte(tag::kString);
        out_.text(text == nullptr ? std::string_view() : std::string_view(text));
        g_free(text);
    }

    [[noreturn]] void damaged(const std::string& what) {
        fail(out_, ReaderErrorCode::kDamaged,
             "Row " + std::to_string(row_) + " on page " + std::to_string(page_) + " of " + where_ +
                 " is damaged: " + what);
    }

    MdbHandle* mdb_;
    MdbTableDef* table_;
    ProtocolWriter& out_;
    const std::string& where_;
    std::vector<MdbField> fields_;
    std::vector<char> text_;
    unsigned long page_ = 0;
    int row_ = 0;
};

int run(int argc, char** argv, ProtocolWriter& out) {
    unsigned long long maxMemory = 0;
    unsigned long long maxCpu = 0;
    int next = 1;
    for (; next < argc; ++next) {
        const std::string_view option = argv[next];
        if (option == "--") {
            ++next;
            break;
        }
        if (option == "--max-memory" && next + 1 < argc && parseCount(argv[next + 1], maxMemory)) {
            ++next;
        } else if (option == "--max-cpu" && next + 1 < argc && parseCount(argv[next + 1], maxCpu)) {
            ++next;
        } else if (option.starts_with("--")) {
            fail(out, ReaderErrorCode::kUsage, "Unknown option " + quoted(option));
        } else {
            break;
        }
    }
    if (argc - next != 2)
        fail(out, ReaderErrorCode::kUsage,
             "Usage: orvanta-mdb-reader [--max-memory BYTES] [--max-cpu SECONDS] [--] FILE TABLE");
    if (maxMemory > 0) limit(RLIMIT_AS, static_cast<rlim_t>(maxMemory));
    if (maxCpu > 0) limit(RLIMIT_CPU, static_cast<rlim_t>(maxCpu));

    const std::string path = argv[next];
    const std::string tableName = argv[next + 1];

    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            fail(out, ReaderErrorCode::kFileNotFound, "Could not find file " + quoted(path));
        fail(out, ReaderErrorCode::kCannotRead, "Cannot open " + quoted(path) + ": " + std::strerror(errno));
    }
    if (!S_ISREG(status.st_mode))
        fail(out, ReaderErrorCode::kFileNotFound, "Could not find file " + quoted(path) + ": not a file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        fail(out, ReaderErrorCode::kCannotRead, "Cannot open " + quoted(path) + ": " + std::strerror(errno));
    const bool signed_ = hasAccessSignature(fd);
    ::close(fd);
    if (!signed_) fail(out, ReaderErrorCode::kNotAccessFile, "Unrecognized database format " + quoted(path));

    // Text as UTF-8 whatever the caller's environment says, and no debug output of libmdb.
    ::setenv("MDB_ICONV", "UTF-8", 1);
    ::unsetenv("MDBOPTS");
    MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (mdb == nullptr)
        fail(out, ReaderErrorCode::kNotAccessFile, "Unrecognized database format " + quoted(path));
    mdb_set_date_fmt(mdb, "%Y-%m-%d %H:%M:%S");
    mdb_set_bind_size(mdb, MDB_BIND_SIZE);

    // Jet and ACE files consist of whole pages; anything else has been cut short or padded.
    if (status.st_size % mdb->fmt->pg_size != 0)
        fail(out, ReaderErrorCode::kDamaged,
             quoted(path) + " is cut short: " + std::to_string(status.st_size) +
                 " bytes are not whole pages of " + std::to_string(mdb->fmt->pg_size));
    if (mdb_read_catalog(mdb, MDB_TABLE) == nullptr)
        fail(out, ReaderErrorCode::kDamaged, "The list of tables of " + quoted(path) + " cannot be read");
    MdbCatalogEntry* found = nullptr;
    std::string names;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE) continue;
        const std::string_view name(entry->object_name, ::strnlen(entry->object_name, MDB_MAX_OBJ_NAME));
        if (found == nullptr && equalsIgnoringAsciiCase(name, tableName)) found = entry;
        if (mdb_is_user_table(entry)) names += (names.empty() ? "" : ", ") + std::string(name);
    }
    if (found == nullptr)
        fail(out, ReaderErrorCode::kTableNotFound,
             "Cannot find the input table " + quoted(tableName) + " in " + quoted(path) +
                 " (its tables: " + (names.empty() ? "none" : names) + ")");

    const std::string where = "table " + quoted(tableName) + " of " + quoted(path);
    MdbTableDef* table = mdb_read_table(found);
    if (table == nullptr || mdb_read_columns(table) == nullptr || table->columns == nullptr ||
        table->columns->len < table->num_cols || table->num_cols > mdb_protocol::kMaxColumns)
        fail(out, ReaderErrorCode::kDamaged, "The definition of " + where + " cannot be read");

    out.byte(tag::kHeader);
    out.number(static_cast<std::uint32_t>(table->num_cols));
    for (unsigned i = 0; i < table->num_cols; ++i) {
        const auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, i));
        out.text(std::string_view(column->name, ::strnlen(column->name, MDB_MAX_OBJ_NAME)));
    }
    TableReader reader(mdb, table, out, where);
    reader.checkPageMap(static_cast<unsigned long>(status.st_size / mdb->fmt->pg_size));
    const std::uint64_t rows = reader.readAll();
    out.byte(tag::kEnd);
    out.number(rows);
    out.flush();
    // Nothing is freed: the process ends here, and libmdb's clean-up is one more chance to crash.
    return 0;
}

}  // namespace
}  // namespace orvanta

int main(int argc, char** argv) {
    using orvanta::mdb_protocol::ReaderErrorCode;
    // Never leave a core file of a crash on a damaged database behind.
    orvanta::limit(RLIMIT_CORE, 0);
    // A reader whose panel is gone (killed, crashed) reads for no one: it ends with it instead of hanging on.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int protocol = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (protocol < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return static_cast<int>(ReaderErrorCode::kWriteFailed);
    orvanta::ProtocolWriter out(protocol);
    out.raw(orvanta::mdb_protocol::kMagic);
    try {
        return orvanta::run(argc, argv, out);
    } catch (const std::bad_alloc&) {
        orvanta::fail(out, ReaderErrorCode::kOutOfMemory, "The reader ran out of memory");
    }
}
