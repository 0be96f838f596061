// How the Access engine copes with damaged files. Every fixture is damaged in a few dozen deterministic
// ways (bytes flipped in the first pages, in table definitions and in data pages; cut to various
// lengths; pages duplicated, swapped or zeroed; page numbers bent to point outside the file) and every
// table the panel reads is read from each result through MdbDatabaseEngine. The only assertion is the
// panel's promise: each read ends, within the wall-time limit, in a table or a VbError. What libmdb did
// on the way (crashed, hung, ran out of memory, or handed back a different table without complaint) is
// counted and printed, since that is what the child process is there for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "adapters/access/mdb_database.h"
#include "core/vb_error.h"
#include "support/file_text.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr auto kWallTime = std::chrono::milliseconds(1500);
const std::vector<std::string> kTables{"Alarmdefs", "Texts", "TidxFonts", "TidxFontClasses",
                                       "LookupLanguages"};
const std::vector<std::string> kFixtures{"alarmdefs-capacity.vws",
                                         "alarmdefs-edge.vws",
                                         "alarmdefs-full.vws",
                                         "languages-edge.mdb",
                                         "languages-numeric-codepage.mdb",
                                         "languages-text-kblayout.mdb",
                                         "languages-three.mdb",
                                         "no-tables.mdb",
                                         "demo/Languages.mdb",
                                         "demo/Pelmar.vws"};

struct Mutation {
    std::string name;
    std::string origin;  // the fixture it came from; empty for files made from nothing
    std::string bytes;
};

// Deterministic damage to one database file.
class Mutator {
public:
    Mutator(std::string origin, std::string bytes, std::uint32_t seed)
        : origin_(std::move(origin)), bytes_(std::move(bytes)), random_(seed) {
        pageSize_ = bytes_.size() > 0x14 && bytes_[0x14] == 0 ? 2048 : 4096;  // Jet 3 pages are smaller
        pages_ = bytes_.size() / pageSize_;
        for (std::size_t page = 0; page < pages_; ++page) {
            const char type = bytes_[page * pageSize_];
            if (type == 0x02) definitions_.push_back(page);
            if (type == 0x01) data_.push_back(page);
        }
    }

    void all(std::vector<Mutation>& out) {
        for (int i = 0; i < 6; ++i) flip("flip-first-pages", 1, 8, 0, std::min<std::size_t>(16, pages_));
        for (int i = 0; i < 6; ++i) flip("flip-many", 8, 64, 0, std::min<std::size_t>(20, pages_));
        for (int i = 0; i < 5; ++i) flipInside("flip-table-definition", definitions_);
        for (int i = 0; i < 3; ++i) flipInside("flip-data-page", data_);
        for (const std::size_t length :
             {std::size_t{0}, std::size_t{1}, std::size_t{19}, pageSize_, pageSize_ + 100, 3 * pageSize_,
              bytes_.size() / 2, bytes_.size() - 1})
            add("cut-to-" + std::to_string(length), bytes_.substr(0, std::min(length, bytes_.size())));
        for (int i = 0; i < 3; ++i) bendPageNumber();
        bendUsageMaps();
        {
            std::string copy = bytes_;
            copy.replace(pageSize_, pageSize_, bytes_.substr(0, pageSize_));
            add("header-page-over-page-1", copy);
            add("header-page-twice", bytes_.substr(0, pageSize_) + bytes_);
        }
        {
            std::string copy = bytes_;
            const std::size_t a = 1 + pick(pages_ - 1);
            const std::size_t b = 1 + pick(pages_ - 1);
            std::string pageA = copy.substr(a * pageSize_, pageSize_);
            copy.replace(a * pageSize_, pageSize_, copy.substr(b * pageSize_, pageSize_));
            copy.replace(b * pageSize_, pageSize_, pageA);
            add("swap-pages-" + std::to_string(a) + "-" + std::to_string(b), copy);
        }
        {
            std::string copy = bytes_;
            const std::size_t page = 1 + pick(pages_ - 1);
            copy.replace(page * pageSize_, pageSize_, std::string(pageSize_, '\0'));
            add("zero-page-" + std::to_string(page), copy);
        }
        std::move(made_.begin(), made_.end(), std::back_inserter(out));
    }

private:
    std::size_t pick(std::size_t below) { return below == 0 ? 0 : random_() % below; }

    void add(std::string name, std::string bytes) {
        made_.push_back({origin_ + ":" + name, origin_, std::move(bytes)});
    }

    void flip(const std::string& name, std::size_t least, std::size_t most, std::size_t firstPage,
              std::size_t pageCount) {
        std::string copy = bytes_;
        const std::size_t count = least + pick(most - least + 1);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t at = firstPage * pageSize_ + pick(pageCount * pageSize_);
            copy[at] = static_cast<char>(copy[at] ^ static_cast<char>(1 + pick(255)));
        }
        add(name + "-" + std::to_string(made_.size()), copy);
    }

    void flipInside(const std::string& name, const std::vector<std::size_t>& pages) {
        if (pages.empty()) return;
        const std::size_t page = pages[pick(pages.size())];
        flip(name + "-page" + std::to_string(page), 1, 8, page, 1);
    }

    // Replaces a 32-bit word that reads as a page number (or as a page-and-row reference) with one
    // beyond the end of the file.
    void bendPageNumber() {
        std::vector<std::size_t> candidates;
        for (const auto& pages : {definitions_, data_}) {
            for (const std::size_t page : pages) {
                for (std::size_t at = page * pageSize_; at + 4 <= (page + 1) * pageSize_; at += 4) {
                    std::uint32_t value;
                    std::memcpy(&value, bytes_.data() + at, 4);
                    if ((value > 2 && value < pages_) || ((value >> 8) > 2 && (value >> 8) < pages_))
                        candidates.push_back(at);
                }
            }
        }
        if (candidates.empty()) return;
        const std::size_t at = candidates[pick(candidates.size())];
        std::uint32_t value;
        std::memcpy(&value, bytes_.data() + at, 4);
        const auto beyond = static_cast<std::uint32_t>(pages_ + 1000);
        value = value < pages_ ? beyond : ((beyond << 8) | (value & 0xff));
        std::string copy = bytes_;
        std::memcpy(copy.data() + at, &value, 4);
        add("page-number-outside-at-" + std::to_string(at), copy);
    }

    // A table definition refers to the page map of its data pages by row and page (Jet 4 and ACE: the
    // four bytes at 0x37). Points that reference at a row the map page lacks, or at a page past the end.
    void bendUsageMaps() {
        if (pageSize_ != 4096) return;
        std::vector<std::size_t> pages{2};  // the table list's own definition
        for (const std::size_t page : definitions_) {
            if (page != 2 && pages.size() < 3) pages.push_back(page);
        }
        for (const std::size_t page : pages) {
            const std::size_t at = page * pageSize_ + 0x37;
            std::string copy = bytes_;
            copy[at] = static_cast<char>(0xff);
            add("usage-map-row-255-page" + std::to_string(page), copy);
            copy = bytes_;
            const auto beyond = static_cast<std::uint32_t>(pages_ + 1000);
            for (int k = 0; k < 3; ++k)
                copy[at + 1 + static_cast<std::size_t>(k)] = static_cast<char>(beyond >> (8 * k));
            add("usage-map-page-outside-page" + std::to_string(page), copy);
        }
    }

    std::string origin_;
    std::string bytes_;
    std::mt19937 random_;
    std::size_t pageSize_ = 4096;
    std::size_t pages_ = 0;
    std::vector<std::size_t> definitions_;
    std::vector<std::size_t> data_;
    std::vector<Mutation> made_;
};

std::vector<Mutation> allMutations() {
    std::vector<Mutation> all;
    std::uint32_t seed = 20240;
    for (const std::string& name : kFixtures) {
        Mutator(name, testing::fileText(std::string(ORVANTA_SOURCE_DIR) + "/tests/data/" + name), ++seed)
            .all(all);
    }
    std::mt19937 random(7);
    std::string noise(64 * 1024, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    all.push_back({"random-bytes", "", noise});
    std::string signedNoise = noise;  // random pages behind a genuine Jet 4 header
    const std::string genuine =
        testing::fileText(std::string(ORVANTA_SOURCE_DIR) + "/tests/data/no-tables.mdb");
    signedNoise.replace(0, 0x80, genuine.substr(0, 0x80));
    all.push_back({"random-bytes-after-a-jet4-header", "", signedNoise});
    all.push_back({"text-file", "", "This is a text file, not a database.\nSecond line.\n"});
    all.push_back({"empty-file", "", ""});
    return all;
}

struct Outcome {
    std::string mutation;
    std::string origin;
    std::string table;
    std::shared_ptr<const Table> read;  // set when a table came back
    std::int32_t error = 0;
    std::string description;
    Clock::duration took{};
};

std::shared_ptr<const Table> readThroughInterface(MdbDatabaseEngine& engine, const std::string& path,
                                                  const std::string& name) {
    auto database = engine.OpenDatabase(path);
    auto recordset = database->OpenRecordset("SELECT " + name + ".* FROM " + name);
    auto table = std::make_shared<Table>();
    table->name = name;
    for (int i = 0; i < recordset->FieldCount(); ++i) table->columns.push_back(recordset->FieldName(i));
    for (; !recordset->isEof(); recordset->MoveNext()) {
        std::vector<Variant> row;
        for (const std::string& column : table->columns) row.push_back(recordset->FieldValue(column));
        table->rows.push_back(std::move(row));
    }
    database->Close();
    return table;
}

// The rows as comparable texts, sorted: to tell rows delivered in another order from changed ones.
std::vector<std::string> sortedRows(const Table& table) {
    std::vector<std::string> rows;
    for (const auto& row : table.rows) {
        std::string text;
        for (const Variant& value : row)
            text += value.kindName() + ":" + (value.isNull() ? std::string() : toText(value)) + "|";
        rows.push_back(std::move(text));
    }
    std::sort(rows.begin(), rows.end());
    return rows;
}

std::string category(const Outcome& outcome,
                     const std::map<std::string, std::shared_ptr<const Table>>& originals) {
    if (outcome.read) {
        const auto original = originals.find(outcome.origin + "/" + outcome.table);
        if (original == originals.end()) return "table where the original has none";
        if (original->second->columns != outcome.read->columns)
            return "table, with other columns than the original";
        if (original->second->rows.size() != outcome.read->rows.size())
            return "table, with another number of rows than the original";
        if (original->second->rows == outcome.read->rows) return "table, same as the original";
        if (sortedRows(*original->second) == sortedRows(*outcome.read))
            return "table, the original's rows in another order";
        return "table, with values that differ from the original";
    }
    const std::string& d = outcome.description;
    const auto has = [&](const char* text) { return d.find(text) != std::string::npos; };
    switch (outcome.error) {
        case database_error::kUnrecognizedFormat:
            return "3343 not an Access database";
        case database_error::kCouldNotFindFile:
            return "3024 file not found";
        case database_error::kTableNotFound:
            return originals.count(outcome.origin + "/" + outcome.table)
                       ? "3078 table lost"
                       : "3078 table absent as in the original";
        case database_error::kCannotOpenDatabase:
            if (has("took longer")) return "3049 hang (stopped at the wall-time limit)";
            if (has("ran out of memory")) return "3049 out of memory";
            if (has("crashed with signal")) return "3049 crash, " + d.substr(d.find("signal"), 9);
            if (has("processor time")) return "3049 processor-time limit";
            if (has("malformed")) return "3049 malformed output";
            if (has("damaged") || has("cannot be read")) return "3049 damage found by the reader";
            return "3049 other: " + d;
        default:
            return std::to_string(outcome.error) + " " + d;
    }
}

TEST(MdbRobustness, EveryDamagedFileGivesATableOrAnError) {
    const auto tempDir = fs::temp_directory_path() / ("orvanta-mdb-robustness-" + std::to_string(::getpid()));
    fs::create_directories(tempDir);
    MdbReaderLimits limits;
    limits.wallTime = kWallTime;
    MdbDatabaseEngine engine(ORVANTA_MDB_READER, limits);

    std::map<std::string, std::shared_ptr<const Table>> originals;
    for (const std::string& fixture : kFixtures) {
        for (const std::string& table : kTables) {
            try {
                originals[fixture + "/" + table] = readThroughInterface(
                    engine, std::string(ORVANTA_SOURCE_DIR) + "/tests/data/" + fixture, table);
            } catch (const VbError& error) {
                ASSERT_EQ(error.number(), database_error::kTableNotFound) << error.description();
            }
        }
    }

    const std::vector<Mutation> mutations = allMutations();
    std::vector<Outcome> outcomes;
    std::mutex guard;
    std::atomic<std::size_t> next{0};
    const auto work = [&](int worker) {
        const std::string path = (tempDir / ("damaged-" + std::to_string(worker) + ".mdb")).string();
        for (std::size_t i = next++; i < mutations.size(); i = next++) {
            std::ofstream(path, std::ios::binary | std::ios::trunc) << mutations[i].bytes;
            for (const std::string& table : kTables) {
                Outcome outcome{mutations[i].name, mutations[i].origin, table, nullptr, 0, "", {}};
                const auto start = Clock::now();
                try {
                    outcome.read = readThroughInterface(engine, path, table);
                } catch (const VbError& error) {
                    outcome.error = error.number();
                    outcome.description = error.description();
                } catch (const std::exception& other) {
                    outcome.error = -1;
                    outcome.description = std::string("not a VbError: ") + other.what();
                }
                outcome.took = Clock::now() - start;
                const std::lock_guard lock(guard);
                outcomes.push_back(std::move(outcome));
            }
        }
    };
    const auto start = Clock::now();
    std::thread helper(work, 1);
    work(0);
    helper.join();
    const auto total = Clock::now() - start;
    fs::remove_all(tempDir);

    std::map<std::string, int> reads;
    std::map<std::string, std::set<std::string>> mutationsBy;
    for (const Outcome& outcome : outcomes) {
        EXPECT_NE(outcome.error, -1) << outcome.mutation << " " << outcome.table << ": "
                                     << outcome.description;
        EXPECT_LT(outcome.took, kWallTime + std::chrono::seconds(2))
            << outcome.mutation << " " << outcome.table;
        const std::string kind = category(outcome, originals);
        ++reads[kind];
        // Each read's outcome, for whoever wants to look at one damaged file more closely.
        if (std::getenv("ORVANTA_MDB_ROBUSTNESS_DETAILS") != nullptr)
            std::cerr << kind << " | " << outcome.mutation << " | " << outcome.table << " | "
                      << outcome.description << "\n";
        mutationsBy[kind].insert(outcome.mutation);
    }
    EXPECT_EQ(outcomes.size(), mutations.size() * kTables.size());

    std::ostringstream summary;
    summary << mutations.size() << " damaged files, " << outcomes.size() << " reads in "
            << std::chrono::duration_cast<std::chrono::milliseconds>(total).count() << " ms\n";
    for (const auto& [kind, count] : reads)
        summary << "  " << kind << ": " << count << " reads, " << mutationsBy[kind].size() << " files\n";
    std::cout << summary.str();
    RecordProperty("summary", summary.str());
}

}  // namespace
}  // namespace orvanta
