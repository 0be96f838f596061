// The Access engine end to end: the real orvanta-mdb-reader on the fixtures in tests/data, and stand-in
// readers (small shell scripts) that crash, hang, flood or talk nonsense, to see the panel's side cope.
#include "adapters/access/mdb_database.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/vb_error.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string fixture(const std::string& name) {
    return std::string(ORVANTA_SOURCE_DIR) + "/tests/data/" + name;
}

class TempDir {
public:
    TempDir() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("orvanta-access-" + std::to_string(::getpid()) + "-" + std::to_string(++counter));
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    std::string file(const std::string& name, const std::string& content, bool executable = false) const {
        const fs::path target = path_ / name;
        std::ofstream(target, std::ios::binary) << content;
        if (executable) fs::permissions(target, fs::perms::owner_all);
        return target.string();
    }
    std::string path(const std::string& name) const { return (path_ / name).string(); }

private:
    fs::path path_;
};

// Reads a table the way the panel does: open, recordset, walk forward, values by name.
Table readAll(DatabaseEngine& engine, const std::string& path, const std::string& table) {
    auto database = engine.OpenDatabase(path);
    auto recordset = database->OpenRecordset("SELECT " + table + ".* FROM " + table);
    Table result{table, {}, {}};
    for (int i = 0; i < recordset->FieldCount(); ++i) result.columns.push_back(recordset->FieldName(i));
    for (; !recordset->isEof(); recordset->MoveNext()) {
        std::vector<Variant> row;
        for (const std::string& column : result.columns) row.push_back(recordset->FieldValue(column));
        result.rows.push_back(std::move(row));
    }
    database->Close();
    return result;
}

VbError failureOf(auto&& call) {
    try {
        call();
    } catch (const VbError& error) {
        return error;
    }
    return VbError(0, "no error", "");
}

bool mentions(const VbError& error, const std::string& text) {
    return error.description().find(text) != std::string::npos;
}

MdbDatabaseEngine realEngine() { return MdbDatabaseEngine(ORVANTA_MDB_READER); }

TEST(MdbDatabase, ReadsEveryTableOfTheFixtures) {
    const std::vector<std::string> alarmdefs{"ID",        "Ident", "Type",    "VarName", "BitNo",  "Priority",
                                             "AlarmText", "Fault", "Sensor1", "Sensor2", "Comment"};
    const std::vector<std::string> texts{"TextKey", "LanguageId", "Text"};
    const std::vector<std::string> fonts{"ID", "FontName", "CharSet", "Remark"};
    const std::vector<std::string> languages{"Language", "Name", "CodePage", "KBLayout"};
    const std::vector<std::string> classes{"ID",    "Name",  "L1031", "L1033", "L1036", "L1040",
                                           "L1045", "L1049", "L2052", "L1041", "L1032"};
    struct Expected {
        std::string file;
        std::string table;
        std::vector<std::string> columns;
        std::size_t rows;
    };
    const std::vector<Expected> all{
        {"alarmdefs-capacity.vws", "Alarmdefs", alarmdefs, 1015},
        {"alarmdefs-capacity.vws", "Texts", texts, 0},
        {"alarmdefs-edge.vws", "Alarmdefs", alarmdefs, 35},
        {"alarmdefs-edge.vws", "Texts", texts, 7},
        {"alarmdefs-full.vws", "Alarmdefs", alarmdefs, 10000},
        {"alarmdefs-full.vws", "Texts", texts, 10000},
        {"demo/Pelmar.vws", "Alarmdefs", alarmdefs, 107},
        {"demo/Pelmar.vws", "Texts", texts, 315},
        {"languages-edge.mdb", "TidxFonts", {"ID", "FontName", "CharSet"}, 7},
        {"languages-edge.mdb",
         "TidxFontClasses",
         {"ID", "Name", "L1031", "L1033", "X9", "l1036", "L1040", "L1040b", "L1045", "L2052", "L1041", "LX"},
         2},
        {"languages-edge.mdb", "LookupLanguages", languages, 9},
        {"languages-numeric-codepage.mdb", "TidxFonts", fonts, 8},
        {"languages-numeric-codepage.mdb", "TidxFontClasses", classes, 2},
        {"languages-numeric-codepage.mdb", "LookupLanguages", languages, 9},
        {"languages-text-kblayout.mdb", "TidxFonts", fonts, 8},
        {"languages-text-kblayout.mdb", "TidxFontClasses", classes, 2},
        {"languages-text-kblayout.mdb", "LookupLanguages", languages, 9},
        {"languages-three.mdb", "TidxFonts", {"ID", "FontName", "CharSet"}, 1},
        {"languages-three.mdb", "TidxFontClasses", {"ID", "Name", "L1031"}, 1},
        {"languages-three.mdb", "LookupLanguages", languages, 3},
        {"demo/Languages.mdb", "TidxFonts", fonts, 8},
        {"demo/Languages.mdb", "TidxFontClasses", classes, 2},
        {"demo/Languages.mdb", "LookupLanguages", languages, 9},
        {"no-tables.mdb", "Other", {"X"}, 1},
    };
    MdbDatabaseEngine engine = realEngine();
    for (const Expected& expected : all) {
        const Table table = readAll(engine, fixture(expected.file), expected.table);
        EXPECT_EQ(table.columns, expected.columns) << expected.file << " " << expected.table;
        EXPECT_EQ(table.rows.size(), expected.rows) << expected.file << " " << expected.table;
    }
    // The table's name is matched without regard to case.
    EXPECT_EQ(readAll(engine, fixture("languages-three.mdb"), "LOOKUPlanguages").rows.size(), 3u);
}

TEST(MdbDatabase, ValuesFollowTheColumnTypes) {
    MdbDatabaseEngine engine = realEngine();
    const Table edge = readAll(engine, fixture("alarmdefs-edge.vws"), "Alarmdefs");
    // Row 3: 3,3,8,"Ch1.E<.b>",2,20,"E03",3,6,3,... in Long Integer and Text columns.
    EXPECT_EQ(edge.rows[2][0], Variant::longInt(3));
    EXPECT_EQ(edge.rows[2][2], Variant::longInt(8));
    EXPECT_EQ(edge.rows[2][3], Variant::text("Ch1.E<.b>"));
    EXPECT_EQ(edge.rows[2][6], Variant::text("E03"));
    EXPECT_EQ(edge.rows[25][5], Variant::longInt(70000));
    EXPECT_EQ(edge.rows[26][7], Variant::longInt(-40000));
    EXPECT_EQ(edge.rows[33][4], Variant::longInt(-1));

    // Integer columns are 16-bit; Long stays 32-bit.
    const Table full = readAll(engine, fixture("alarmdefs-full.vws"), "Alarmdefs");
    for (const int column : {2, 4, 5, 7, 8, 9}) {
        EXPECT_EQ(full.rows.back()[static_cast<std::size_t>(column)].kind(), Variant::Kind::Integer)
            << column;
    }
    EXPECT_EQ(full.rows.back()[0].kind(), Variant::Kind::Long);
    EXPECT_EQ(full.rows.back()[0], Variant::longInt(10000));

    // Memo.
    const Table texts = readAll(engine, fixture("alarmdefs-edge.vws"), "Texts");
    EXPECT_EQ(texts.rows[0], (std::vector<Variant>{Variant::text("E03"), Variant::longInt(1033),
                                                   Variant::text("Warning three")}));
    EXPECT_EQ(texts.rows[3][2], Variant::text("Sortierung eins"));

    const Table classes = readAll(engine, fixture("languages-edge.mdb"), "TidxFontClasses");
    EXPECT_EQ(classes.rows[0][2], Variant::integer(51));
    EXPECT_EQ(classes.rows[0][11], Variant::integer(1));

    // Text beyond Latin-1 arrives as UTF-8.
    const Table languages = readAll(engine, fixture("languages-edge.mdb"), "LookupLanguages");
    EXPECT_EQ(languages.rows[2][1], Variant::text("Français"));
    EXPECT_EQ(languages.rows[4][1], Variant::text("Русский"));
    EXPECT_EQ(languages.rows[6][1], Variant::text("中文"));
    EXPECT_EQ(languages.rows[7][1], Variant::text("日本語"));
    // Non-numeric text in the text columns stays text.
    EXPECT_EQ(languages.rows[2][2], Variant::text("1252 (Western)"));
    EXPECT_EQ(languages.rows[2][3], Variant::text("0000040C"));

    const Table numeric = readAll(engine, fixture("languages-numeric-codepage.mdb"), "LookupLanguages");
    EXPECT_EQ(numeric.rows[0][2].kind(), Variant::Kind::Long);
}

TEST(MdbDatabase, OtherColumnTypesOfTheSystemTables) {
    MdbDatabaseEngine engine = realEngine();
    // Access's own tables hold the kinds the plant's tables lack: Boolean, Date/Time, Binary and OLE.
    const Table aces = readAll(engine, fixture("languages-edge.mdb"), "MSysACEs");
    ASSERT_EQ(aces.columns, (std::vector<std::string>{"ObjectId", "SID", "ACM", "FInheritable"}));
    ASSERT_FALSE(aces.rows.empty());
    EXPECT_EQ(aces.rows[0][3], Variant::boolean(true));
    EXPECT_TRUE(aces.rows[0][1].isNull());  // Binary

    const Table objects = readAll(engine, fixture("languages-edge.mdb"), "MSysObjects");
    ASSERT_EQ(objects.columns[4], "DateCreate");
    EXPECT_EQ(objects.rows[0][2], Variant::text("Tables"));
    EXPECT_EQ(objects.rows[0][3].kind(), Variant::Kind::Integer);
    EXPECT_EQ(objects.rows[0][4], Variant::text("2003-10-30 13:19:46"));
    EXPECT_TRUE(objects.rows[0][6].isNull());  // Binary
}

// A copy of languages-edge.mdb whose TidxFontClasses columns are relabelled to other types: the bytes
// of the rows stay, the reader reads them as the new type says.
class RelabelledColumns : public ::testing::Test {
protected:
    // TidxFontClasses is defined on page 28 and has no index; its 25-byte column entries begin at byte 63
    // of that page and start with the type.
    static constexpr std::size_t kFirstColumn = 28 * 4096 + 63;

    std::string relabel(std::initializer_list<std::pair<int, char>> changes) {
        std::ifstream in(fixture("languages-edge.mdb"), std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(bytes[kFirstColumn], 0x04);           // ID: Long Integer
        EXPECT_EQ(bytes[kFirstColumn + 2 * 25], 0x03);  // L1031: Integer
        for (const auto& [column, type] : changes)
            bytes[kFirstColumn + static_cast<std::size_t>(column) * 25] = type;
        return dir_.file("relabelled" + std::to_string(++files_) + ".mdb", bytes);
    }

    TempDir dir_;
    int files_ = 0;
};

TEST_F(RelabelledColumns, ByteSingleAndBooleanCellsKeepTheirKind) {
    MdbDatabaseEngine engine = realEngine();
    // First row: ID 1, Name "Standard", L1031 51, L1033 1, X9 7.
    const Table table = readAll(engine, relabel({{0, 0x06}, {2, 0x02}, {3, 0x01}}), "TidxFontClasses");
    EXPECT_EQ(table.rows[0][2], Variant::integer(51));    // Byte
    EXPECT_EQ(table.rows[0][3], Variant::boolean(true));  // Boolean, from the Null bit
    const std::uint32_t one = 1;
    float single;
    std::memcpy(&single, &one, sizeof(single));
    EXPECT_EQ(table.rows[0][0], Variant::real(single));  // Single: the Long's bytes as a float
    EXPECT_EQ(table.rows[0][4], Variant::integer(7));
}

TEST_F(RelabelledColumns, AValueLongerThanItsColumnIsADamagedRow) {
    MdbDatabaseEngine engine = realEngine();
    // A Double needs eight bytes; the column holds two.
    const std::string path = relabel({{2, 0x07}});
    const VbError damaged = failureOf([&] { readAll(engine, path, "TidxFontClasses"); });
    EXPECT_EQ(damaged.number(), database_error::kCannotOpenDatabase);
    EXPECT_TRUE(mentions(damaged, "'TidxFontClasses'"));
    EXPECT_TRUE(mentions(damaged, "is damaged: a value of 2 bytes where its type needs 8"))
        << damaged.description();
}

TEST(MdbDatabase, EmptyCellsAreNull) {
    MdbDatabaseEngine engine = realEngine();
    const Table edge = readAll(engine, fixture("alarmdefs-edge.vws"), "Alarmdefs");
    // Rows 24 to 32 have one Null each: Priority, VarName, AlarmText, Sensor2, Sensor1, Type.
    EXPECT_TRUE(edge.rows[23][5].isNull());
    EXPECT_TRUE(edge.rows[24][3].isNull());
    EXPECT_TRUE(edge.rows[27][6].isNull());
    EXPECT_TRUE(edge.rows[28][9].isNull());
    EXPECT_TRUE(edge.rows[30][8].isNull());
    EXPECT_TRUE(edge.rows[31][2].isNull());
    int nulls = 0;
    for (const auto& row : edge.rows) {
        for (const Variant& value : row) nulls += value.isNull() ? 1 : 0;
    }
    EXPECT_EQ(nulls, 6);

    const Table texts = readAll(engine, fixture("alarmdefs-edge.vws"), "Texts");
    EXPECT_TRUE(texts.rows[5][0].isNull());  // TextKey
    EXPECT_EQ(texts.rows[6][0], Variant::text("NULL_TEXT"));
    EXPECT_TRUE(texts.rows[6][2].isNull());  // a Null memo

    const Table fonts = readAll(engine, fixture("languages-edge.mdb"), "TidxFonts");
    EXPECT_TRUE(fonts.rows[5][1].isNull());
    EXPECT_EQ(fonts.rows[5][2], Variant::longInt(134));
    EXPECT_EQ(fonts.rows[6][1], Variant::text("MS Gothic"));
    EXPECT_TRUE(fonts.rows[6][2].isNull());

    const Table languages = readAll(engine, fixture("languages-edge.mdb"), "LookupLanguages");
    EXPECT_TRUE(languages.rows[5][2].isNull());
    EXPECT_TRUE(languages.rows[5][3].isNull());
    EXPECT_TRUE(languages.rows[8][0].isNull());
    EXPECT_EQ(languages.rows[8][1], Variant::text("Null language"));
}

TEST(MdbDatabase, ReportsMissingFilesForeignFilesAndTables) {
    MdbDatabaseEngine engine = realEngine();
    TempDir dir;

    const VbError missing = failureOf([&] { engine.OpenDatabase(dir.path("absent.mdb")); });
    EXPECT_EQ(missing.number(), database_error::kCouldNotFindFile);
    EXPECT_TRUE(mentions(missing, "absent.mdb"));
    EXPECT_EQ(failureOf([&] { engine.OpenDatabase(dir.path("")); }).number(),
              database_error::kCouldNotFindFile);

    const std::string text = dir.file("notes.mdb", "These are not the tables you are looking for.\n");
    const VbError foreign = failureOf([&] { engine.OpenDatabase(text); });
    EXPECT_EQ(foreign.number(), database_error::kUnrecognizedFormat);
    EXPECT_TRUE(mentions(foreign, "notes.mdb"));
    EXPECT_EQ(failureOf([&] { engine.OpenDatabase(dir.file("empty.mdb", "")); }).number(),
              database_error::kUnrecognizedFormat);

    auto database = engine.OpenDatabase(fixture("no-tables.mdb"));
    const VbError noTable = failureOf([&] { database->OpenRecordset("SELECT Alarmdefs.* FROM Alarmdefs"); });
    EXPECT_EQ(noTable.number(), database_error::kTableNotFound);
    EXPECT_TRUE(mentions(noTable, "'Alarmdefs'"));
    EXPECT_TRUE(mentions(noTable, "no-tables.mdb"));
    EXPECT_TRUE(mentions(noTable, "Other"));  // the tables that are there

    EXPECT_EQ(failureOf([&] { database->OpenRecordset("SELECT * FROM Other"); }).number(),
              database_error::kInvalidStatement);

    // The file can vanish between opening the database and reading a table.
    const std::string copy = dir.path("copy.mdb");
    fs::copy_file(fixture("no-tables.mdb"), copy);
    auto vanishing = engine.OpenDatabase(copy);
    fs::remove(copy);
    EXPECT_EQ(failureOf([&] { vanishing->OpenRecordset("SELECT Other.* FROM Other"); }).number(),
              database_error::kCouldNotFindFile);

    database->Close();
    EXPECT_EQ(failureOf([&] { database->OpenRecordset("SELECT Other.* FROM Other"); }).number(), 3420);
}

TEST(MdbDatabase, ACutFileIsDamagedNotShorter) {
    // libmdb alone hands back the rows of the pages that are left, or none, without a word.
    MdbDatabaseEngine engine = realEngine();
    TempDir dir;
    std::ifstream in(fixture("alarmdefs-full.vws"), std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string half = dir.file("half.vws", whole.substr(0, whole.size() / 2));
    const std::string short1 = dir.file("short.vws", whole.substr(0, whole.size() - 1));
    for (const std::string table : {"Alarmdefs", "Texts"}) {
        const VbError cut = failureOf([&] { readAll(engine, half, table); });
        EXPECT_EQ(cut.number(), database_error::kCannotOpenDatabase) << table;
        EXPECT_TRUE(mentions(cut, "'" + table + "'")) << cut.description();
        EXPECT_TRUE(mentions(cut, "half.vws")) << cut.description();
    }
    const VbError byOne = failureOf([&] { readAll(engine, short1, "Texts"); });
    EXPECT_TRUE(mentions(byOne, "is cut short")) << byOne.description();
}

TEST(MdbDatabase, TheReaderRunsUnderTheMemoryLimit) {
    MdbReaderLimits limits;
    limits.addressSpaceBytes = std::size_t{1} << 20;  // far too little for libmdb's first steps
    MdbDatabaseEngine engine(ORVANTA_MDB_READER, limits);
    const VbError starved = failureOf([&] { readAll(engine, fixture("alarmdefs-edge.vws"), "Alarmdefs"); });
    EXPECT_EQ(starved.number(), database_error::kCannotOpenDatabase);
    EXPECT_TRUE(mentions(starved, "ran out of memory")) << starved.description();
    EXPECT_TRUE(mentions(starved, "'Alarmdefs'"));
}

// Stand-in readers, each a shell script, against a real database file.
class MdbReaderFailure : public ::testing::Test {
protected:
    VbError readWith(const std::string& script, MdbReaderLimits limits = {}) {
        const std::string reader =
            dir_.file("reader" + std::to_string(++scripts_), "#!/bin/sh\n" + script, true);
        MdbDatabaseEngine engine(reader, limits);
        auto database = engine.OpenDatabase(fixture("no-tables.mdb"));
        return failureOf([&] { database->OpenRecordset("SELECT Other.* FROM Other"); });
    }

    TempDir dir_;
    int scripts_ = 0;
};

TEST_F(MdbReaderFailure, ACrashIsAnErrorNamingFileTableAndSignal) {
    const VbError crash = readWith("kill -SEGV $$\n");
    EXPECT_EQ(crash.number(), database_error::kCannotOpenDatabase);
    EXPECT_TRUE(mentions(crash, "'Other'"));
    EXPECT_TRUE(mentions(crash, "no-tables.mdb"));
    EXPECT_TRUE(mentions(crash, "crashed with signal 11")) << crash.description();

    const VbError memory = readWith("echo 'GLib-ERROR: failed to allocate 4096 bytes' >&2\nkill -TRAP $$\n");
    EXPECT_TRUE(mentions(memory, "ran out of memory (limit 1 GiB)")) << memory.description();
    EXPECT_TRUE(mentions(memory, "failed to allocate 4096 bytes"));
}

TEST_F(MdbReaderFailure, AHangIsStoppedAtTheWallTimeLimit) {
    MdbReaderLimits limits;
    limits.wallTime = milliseconds(300);
    for (const char* script : {"exec sleep 30\n",
                               "sleep 30\n",  // the shell waits, its child holds the pipe
                               "exec >&- 2>&-\nexec sleep 30\n"}) {  // closes its output, then hangs
        const auto start = Clock::now();
        const VbError hang = readWith(script, limits);
        EXPECT_LT(Clock::now() - start, milliseconds(2000)) << script;
        EXPECT_EQ(hang.number(), database_error::kCannotOpenDatabase);
        EXPECT_TRUE(mentions(hang, "took longer than 300 ms")) << hang.description();
    }
}

TEST_F(MdbReaderFailure, OutputBeyondTheLimitStopsTheReader) {
    MdbReaderLimits limits;
    limits.outputBytes = std::size_t{1} << 20;
    const VbError flood = readWith("exec yes\n", limits);
    EXPECT_EQ(flood.number(), database_error::kCannotOpenDatabase);
    EXPECT_TRUE(mentions(flood, "passed 1 MiB")) << flood.description();
}

TEST_F(MdbReaderFailure, NonsenseAndSilenceAreErrors) {
    const VbError garbage = readWith("printf 'Hello'\n");
    EXPECT_EQ(garbage.number(), database_error::kCannotOpenDatabase);
    EXPECT_TRUE(mentions(garbage, "malformed")) << garbage.description();

    const VbError silent = readWith("exit 3\n");
    EXPECT_TRUE(mentions(silent, "exit status 3 and no output")) << silent.description();

    // A complete, valid table followed by a failing exit is not trusted either.
    const VbError unclean = readWith("printf 'ORVMDB1\\nH\\0\\0\\0\\0E\\0\\0\\0\\0\\0\\0\\0\\0'\nexit 1\n");
    EXPECT_TRUE(mentions(unclean, "exit status 1 after a complete table")) << unclean.description();

    // A reader that chatters on stderr without end: its start makes the message, the rest is dropped.
    const VbError chatter = readWith("yes 'warning: something odd' | head -c 5000000 >&2\nexit 1\n");
    EXPECT_TRUE(mentions(chatter, "(it said: warning: something odd)")) << chatter.description();
    EXPECT_LT(chatter.description().size(), 400u);

    const VbError absent = failureOf([&] {
        MdbDatabaseEngine engine(dir_.path("no-such-reader"));
        engine.OpenDatabase(fixture("no-tables.mdb"))->OpenRecordset("SELECT Other.* FROM Other");
    });
    EXPECT_EQ(absent.number(), database_error::kCannotOpenDatabase);
    EXPECT_TRUE(mentions(absent, "could not be started")) << absent.description();
}

TEST_F(MdbReaderFailure, ReaderGetsOnlyItsPipesAndLeavesNothingBehind) {
    const auto openDescriptors = [] {
        int count = 0;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd"))
            count += entry.path().empty() ? 0 : 1;
        return count;
    };
    const int before = openDescriptors();
    // A descriptor of the panel's opened without close-on-exec must still not reach the reader.
    const int leaky = ::open(dir_.file("panel-marker", "").c_str(), O_RDONLY);
    ASSERT_GE(leaky, 0);
    const VbError listing =
        readWith("echo $(ls -l /proc/$$/fd/ | grep -c panel-marker) inherited >&2\nexit 1\n");
    ::close(leaky);
    EXPECT_TRUE(mentions(listing, "(it said: 0 inherited)")) << listing.description();
    // Every way a reader can end: killed, silent, timed out, never started, and a real table.
    MdbReaderLimits shortWait;
    shortWait.wallTime = milliseconds(100);
    for (int i = 0; i < 3; ++i) {
        readWith("kill -KILL $$\n");
        readWith("exit 0\n");
        readWith("exec sleep 10\n", shortWait);
    }
    MdbDatabaseEngine absent(dir_.path("no-such-reader"));
    EXPECT_NE(failureOf([&] { readAll(absent, fixture("no-tables.mdb"), "Other"); }).number(), 0);
    MdbDatabaseEngine engine = realEngine();
    readAll(engine, fixture("no-tables.mdb"), "Other");
    EXPECT_EQ(openDescriptors(), before);
    int status = 0;
    EXPECT_LE(::waitpid(-1, &status, WNOHANG), 0) << "a reader was left unreaped";
}

TEST(MdbReaderPath, IsBesideTheRunningProgram) {
    const std::string path = defaultMdbReaderPath();
    EXPECT_EQ(fs::path(path).filename(), "orvanta-mdb-reader");
    // The tests are built beside the reader.
    EXPECT_TRUE(fs::equivalent(path, ORVANTA_MDB_READER));
}

}  // namespace
}  // namespace orvanta
