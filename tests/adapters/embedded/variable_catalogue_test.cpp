#include "ports/variable_catalogue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "adapters/embedded/catalogue_file.h"
#include "core/vb_error.h"
#include "ports/variable_names.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() {
        static std::atomic<int> counter = 0;
        path_ = fs::temp_directory_path() /
                ("orvanta-catalogue-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + "-" +
                 std::to_string(counter++));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    std::string write(const std::string& name, const std::string& text) const {
        const fs::path file = path_ / name;
        std::ofstream(file, std::ios::binary) << text;
        return file.string();
    }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

VbError errorOf(auto&& action) {
    try {
        action();
    } catch (const VbError& error) {
        return error;
    }
    return VbError(0, "no error", "");
}

const CatalogueEntry* entryNamed(const std::vector<CatalogueEntry>& entries, const std::string& name) {
    for (const CatalogueEntry& entry : entries) {
        if (entry.name == name) return &entry;
    }
    return nullptr;
}

TEST(CatalogueFile, ReadsEveryTypeWithItsValueOrItsZero) {
    TempFolder folder;
    const std::string path = folder.write("Variables.json", R"({
        "comment": "bottling line",
        "variables": [
            {"name": "Ch1.T_zyk_m1<.faults0>", "type": "integer", "value": 2.5, "comment": "alarm word"},
            {"name": "Ch1.T_zyk_m1<.faults1>", "type": "integer", "value": "12"},
            {"name": "Ch1.T_zyk_linie<.li_statusplc01>", "type": "integer"},
            {"name": "Ch1.count", "type": "long", "value": 70000},
            {"name": "Ch1.speed", "type": "double", "value": 1.25},
            {"name": "Ch1.run", "type": "boolean", "value": true},
            {"name": "Ch1.idle", "type": "boolean"},
            {"name": "Ch1.label", "type": "string", "value": "Füller"},
            {"name": "Ch1.number", "type": "string", "value": 5},
            {"name": "Ch1.words", "type": "integer[]", "count": 3, "value": [1, -2, 3.5]},
            {"name": "Ch1.zeros", "type": "integer[]", "count": 2}
        ]})");
    const auto entries = loadCatalogueFile(path);
    ASSERT_EQ(entries.size(), 11u);
    EXPECT_EQ(entries[0].name, "Ch1.T_zyk_m1<.faults0>");
    EXPECT_EQ(entries[0].type, VariableType::Integer);
    EXPECT_EQ(entries[0].initialValue, Variant::integer(2));
    EXPECT_EQ(entries[1].initialValue, Variant::integer(12));
    EXPECT_EQ(entries[2].initialValue, Variant::integer(0));
    EXPECT_EQ(entries[3].type, VariableType::Long);
    EXPECT_EQ(entries[3].initialValue, Variant::longInt(70000));
    EXPECT_EQ(entries[4].initialValue, Variant::real(1.25));
    EXPECT_EQ(entries[5].initialValue, Variant::boolean(true));
    EXPECT_EQ(entries[6].initialValue, Variant::boolean(false));
    EXPECT_EQ(entries[7].initialValue, Variant::text("Füller"));
    EXPECT_EQ(entries[8].initialValue, Variant::text("5"));
    EXPECT_EQ(entries[9].type, VariableType::IntegerArray);
    EXPECT_EQ(entries[9].elementCount, 3);
    EXPECT_EQ(entries[9].initialValue, Variant::integerArray({1, -2, 4}));
    EXPECT_EQ(entries[10].initialValue, Variant::integerArray({0, 0}));

    EXPECT_TRUE(loadCatalogueFile(folder.write("Empty.json", "\xEF\xBB\xBF{\"variables\": []}")).empty());
}

struct BadCatalogue {
    const char* text;
    std::int32_t number;
    const char* mentions;  // besides the file name
};

TEST(CatalogueFile, EveryFaultNamesTheFileAndTheEntry) {
    const BadCatalogue cases[] = {
        {R"({"variables": [)", kInvalidFileFormat, "not valid JSON"},
        {R"({"variables": [{"name": "a", "type": "integer",}]})", kInvalidFileFormat, "line 1"},
        {"", kInvalidFileFormat, "not valid JSON"},
        {R"([{"name": "a", "type": "integer"}])", kInvalidFileFormat, "\"variables\""},
        {R"({"variabels": []})", kInvalidFileFormat, "unknown key \"variabels\""},
        {R"({"comment": "x"})", kInvalidFileFormat, "\"variables\" is missing"},
        {R"({"variables": {"name": "a"}})", kInvalidFileFormat, "must be a list"},
        {R"({"variables": [{"name": "a", "type": "integer"}, 7]})", kInvalidFileFormat,
         "entry 2: an entry must be"},
        {R"({"variables": [{"name": "a", "type": "integer"}, {"type": "integer"}]})", kInvalidFileFormat,
         "entry 2: \"name\" is missing"},
        {R"({"variables": [{"name": 12, "type": "integer"}]})", kInvalidFileFormat,
         "entry 1: \"name\" must be a text"},
        {R"({"variables": [{"name": "", "type": "integer"}]})", kInvalidFileFormat,
         "entry 1 '': \"name\" is empty"},
        {R"({"variables": [{"name": "a\nb", "type": "integer"}]})", kInvalidFileFormat, "control character"},
        {R"({"variables": [{"name": "Ch1.x", "type": "int"}]})", kInvalidFileFormat,
         "entry 1 'Ch1.x': unknown type \"int\""},
        {R"({"variables": [{"name": "Ch1.x"}]})", kInvalidFileFormat, "entry 1 'Ch1.x': \"type\" is missing"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer[]"}]})", kInvalidFileFormat,
         "\"count\" is missing"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer[]", "count": 0}]})", kInvalidFileFormat,
         "'Ch1.x': \"count\" must be a whole number from 1 to 4096, not 0"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer[]", "count": 4097}]})", kInvalidFileFormat,
         "4097"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer[]", "count": 2.5}]})", kInvalidFileFormat,
         "2.5"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer[]", "count": 1e30}]})", kInvalidFileFormat,
         "count"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer", "count": 3}]})", kInvalidFileFormat,
         "\"count\" belongs to integer[] only"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer", "valeu": 3}]})", kInvalidFileFormat,
         "entry 1 'Ch1.x': unknown key \"valeu\""},
        {R"({"variables": [{"name": "a", "type": "integer"}, {"name": "b", "type": "string"},
                           {"name": "a", "type": "long"}]})",
         kInvalidFileFormat, "entry 3 'a': the name is already declared by entry 1"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer", "value": 70000}]})", kOverflow,
         "entry 1 'Ch1.x': bad \"value\""},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer", "value": 99999999999999999999999999}]})",
         kOverflow, "'Ch1.x'"},
        {R"({"variables": [{"name": "Ch1.x", "type": "double", "value": 1e999}]})", kInvalidFileFormat,
         "1e999"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer", "value": "12abc"}]})", kTypeMismatch,
         "12abc"},
        {R"({"variables": [{"name": "Ch1.x", "type": "boolean", "value": "maybe"}]})", kTypeMismatch,
         "maybe"},
        {R"({"variables": [{"name": "Ch1.x", "type": "string", "value": null}]})", kInvalidUseOfNull,
         "'Ch1.x'"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer", "value": [1]}]})", kTypeMismatch, "'Ch1.x'"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer", "value": {"a": 1}}]})", kInvalidFileFormat,
         "\"value\" is object"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer[]", "count": 3, "value": [1, 2]}]})",
         kSubscriptOutOfRange, "'Ch1.x'"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer[]", "count": 2, "value": [1, [2]]}]})",
         kTypeMismatch, "element 1"},
        {R"({"variables": [{"name": "Ch1.x", "type": "integer[]", "count": 2, "value": 0}]})", kTypeMismatch,
         "not an array"},
        {"{\"variables\": [{\"name\": \"\xC3\x28\", \"type\": \"integer\"}]}", kInvalidFileFormat,
         "ill-formed UTF-8 byte; last read: '\"?('"},
    };
    TempFolder folder;
    int index = 0;
    for (const BadCatalogue& bad : cases) {
        SCOPED_TRACE(bad.text);
        const std::string path = folder.write("Variables" + std::to_string(index++) + ".json", bad.text);
        const VbError error = errorOf([&] { loadCatalogueFile(path); });
        EXPECT_EQ(error.number(), bad.number) << error.description();
        EXPECT_TRUE(error.description().starts_with(path + ": ")) << error.description();
        EXPECT_NE(error.description().find(bad.mentions), std::string::npos) << error.description();
    }
}

TEST(CatalogueFile, HostileInputIsAnErrorNotACrash) {
    const std::string deep(200000, '[');
    EXPECT_EQ(errorOf([&] { parseCatalogue(deep, "deep.json"); }).number(), kInvalidFileFormat);
    const std::string deepValue =
        R"({"variables": [{"name": "x", "type": "integer[]", "count": 1, "value": )" + std::string(20, '[') +
        "1" + std::string(20, ']') + "}]}";
    EXPECT_NE(errorOf([&] { parseCatalogue(deepValue, "deep.json"); }).description().find("nested deeper"),
              std::string::npos);
    const std::string binary("\x00\xFF\x7B\x22\x00", 5);
    EXPECT_EQ(errorOf([&] { parseCatalogue(binary, "binary.json"); }).number(), kInvalidFileFormat);

    // Small text, huge arrays: the elements of all entries together are bounded, and the entry that
    // goes past the bound is named. Exactly at the bound the catalogue is accepted.
    const auto arrays = [](int entries, const std::string& last) {
        std::string text = R"({"variables": [)";
        for (int i = 0; i < entries; ++i)
            text += R"({"name": "a)" + std::to_string(i) + R"(", "type": "integer[]", "count": 4096}, )";
        return text + last + "]}";
    };
    const auto atBound = parseCatalogue(arrays(15, R"({"name": "b", "type": "integer[]", "count": 4095},
                                                     {"name": "c", "type": "string", "value": "x"})"),
                                        "bound.json");
    ASSERT_EQ(atBound.size(), 17u);
    EXPECT_EQ(atBound[15].initialValue, Variant::integerArray(std::vector<std::int16_t>(4095, 0)));
    const VbError tooMany =
        errorOf([&] { parseCatalogue(arrays(1000, R"({"name": "z", "type": "integer"})"), "huge.json"); });
    EXPECT_EQ(tooMany.number(), kInvalidFileFormat);
    EXPECT_EQ(tooMany.description(),
              "huge.json: entry 17 'a16': the catalogue holds more than 65536 elements in all (a variable "
              "counts 1, an integer[] its count)");
    const VbError oneMore =
        errorOf([&] { parseCatalogue(arrays(16, R"({"name": "over", "type": "boolean"})"), "over.json"); });
    EXPECT_NE(oneMore.description().find("entry 17 'over'"), std::string::npos) << oneMore.description();
}

TEST(CatalogueFile, MissingOrUnreadableFile) {
    TempFolder folder;
    const std::string missing = (folder.path() / "Program" / "Orvanta" / "Variables.json").string();
    const VbError notFound = errorOf([&] { loadCatalogueFile(missing); });
    EXPECT_EQ(notFound.number(), kFileNotFound);
    EXPECT_NE(notFound.description().find(missing), std::string::npos);

    const VbError folderInstead = errorOf([&] { loadCatalogueFile(folder.path().string()); });
    EXPECT_EQ(folderInstead.number(), kPathFileAccessError);
    EXPECT_NE(folderInstead.description().find(folder.path().string()), std::string::npos);
}

TEST(CatalogueMerge, PlantVariablesFollowTheBuiltInsAndKeepTheirFixedTypes) {
    const std::string sprache(vars::kSprache);
    std::vector<CatalogueEntry> plant = {
        {"Ch1.T_zyk_m1<.faults0>", VariableType::Integer, 0, Variant::integer(4)},
        {sprache, VariableType::Long, 0, Variant::longInt(1031)},
    };
    const auto merged = mergeCatalogues(builtinVariables(), plant, "Variables.json");
    EXPECT_EQ(merged.size(), builtinVariables().size() + 1);
    EXPECT_EQ(merged.back().name, "Ch1.T_zyk_m1<.faults0>");
    ASSERT_NE(entryNamed(merged, sprache), nullptr);
    EXPECT_EQ(entryNamed(merged, sprache)->initialValue, Variant::longInt(1031));

    const VbError retyped = errorOf([&] {
        mergeCatalogues(builtinVariables(), {{sprache, VariableType::String, 0, Variant::text("1031")}},
                        "Variables.json");
    });
    EXPECT_EQ(retyped.number(), kTypeMismatch);
    EXPECT_EQ(retyped.description(),
              "Variables.json: process variable '" + sprache +
                  "' is built into the panel as long and cannot be declared as string");

    const VbError resized = errorOf([&] {
        mergeCatalogues(builtinVariables(),
                        {{std::string(vars::kLiGStatus), VariableType::IntegerArray, 64, {}}});
    });
    EXPECT_EQ(resized.number(), kTypeMismatch);
    EXPECT_NE(resized.description().find("integer[6] and cannot be declared as integer[64]"),
              std::string::npos);
}

TEST(DeclaredType, ConversionErrorsNameTheVariableAndKeepTheDialectNumber) {
    const VbError overflow =
        errorOf([] { convertToDeclaredType("Ch1.x", VariableType::Integer, 0, Variant::longInt(70000)); });
    EXPECT_EQ(overflow.number(), kOverflow);
    EXPECT_EQ(overflow.description(),
              "Overflow: Long 70000 does not convert for process variable 'Ch1.x' (integer)");
    EXPECT_EQ(overflow.source(), "EmbeddedRuntime");

    EXPECT_EQ(errorOf([] {
                  convertToDeclaredType("Ch1.x", VariableType::Double, 0, Variant::real(1e308 * 10));
              }).number(),
              kOverflow);
    EXPECT_EQ(errorOf([] {
                  convertToDeclaredType("Ch1.x", VariableType::IntegerArray, 0, Variant::array({}));
              }).number(),
              kInvalidCall);
    EXPECT_EQ(convertToDeclaredType("Ch1.x", VariableType::Boolean, 0, Variant::text(" true ")),
              Variant::boolean(true));
    EXPECT_EQ(convertToDeclaredType("Ch1.x", VariableType::String, 0, Variant::boolean(true)),
              Variant::text("True"));
}

}  // namespace
}  // namespace orvanta
