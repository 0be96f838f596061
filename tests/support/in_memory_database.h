// Databases as a test writes them: tables of Variants in memory, opened through the same interface as
// the plant's Access files. Files that the test did not add do not exist.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "core/text.h"
#include "core/vb_error.h"
#include "ports/database.h"

namespace orvanta::testing {

class InMemoryDatabaseEngine : public DatabaseEngine {
public:
    // Adds (or replaces) a table of the file at path.
    void add(const std::string& path, Table table) {
        const std::string key = asciiUpper(table.name);
        files_[path][key] = std::make_shared<const Table>(std::move(table));
    }

    std::unique_ptr<Database> OpenDatabase(const std::string& path) override {
        const auto file = files_.find(path);
        if (file == files_.end())
            throw VbError(database_error::kCouldNotFindFile, "Could not find file '" + path + "'",
                          "Database");
        ++opened;
        return std::make_unique<FileDatabase>(*this, path, file->second);
    }

    int opened = 0;
    int closed = 0;
    std::vector<std::vector<std::string>> prepared;  // the tables of each prepare, in order

private:
    using Tables = std::map<std::string, std::shared_ptr<const Table>>;

    class FileDatabase : public Database {
    public:
        FileDatabase(InMemoryDatabaseEngine& engine, std::string path, const Tables& tables)
            : engine_(engine), path_(std::move(path)), tables_(tables) {}
        std::unique_ptr<Recordset> OpenRecordset(const std::string& statement) override {
            const std::string table = tableOfStatement(statement);
            const auto found = tables_.find(asciiUpper(table));
            if (found == tables_.end())
                throw VbError(database_error::kTableNotFound,
                              "Cannot find the input table '" + table + "' in '" + path_ + "'", "Database");
            return recordsetOver(found->second, "'" + path_ + "'");
        }
        void Close() override { ++engine_.closed; }
        void prepare(const std::vector<std::string>& tables) override { engine_.prepared.push_back(tables); }

    private:
        InMemoryDatabaseEngine& engine_;
        std::string path_;
        const Tables& tables_;
    };

    std::map<std::string, Tables> files_;
};

}  // namespace orvanta::testing
