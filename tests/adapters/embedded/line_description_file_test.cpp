#include "adapters/embedded/line_description_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>

#include "core/vb_error.h"

namespace orvanta {
namespace {

const std::string kOrigin = "plant/Program/Orvanta/Line.json";

VbError parseError(const std::string& json) {
    try {
        parseLineDescription(json, kOrigin);
    } catch (const VbError& error) {
        return error;
    }
    return VbError(0, "no error for: " + json, "");
}

// A document with one good machine 0 and the given text as machine 1.
std::string withMachine1(const std::string& machine) {
    return R"({"machines": [{"enabled": true}, )" + machine + "]}";
}

TEST(LineDescriptionFile, ReadsEveryFieldAndDefaultsWhatIsNotListed) {
    const LineDescription line = parseLineDescription(R"({
        "languageId": 1031,
        "groups": ["Filling", "Labelling", "", "Packing"],
        "machines": [
          {"enabled": true, "name": "Rinser", "coName": "R-100", "number": 1, "remote": false,
           "textFlag": true, "symbol": 3, "foreign": false, "group": 0,
           "groupSlots": [0, 1, 2, -1, -1, -32768], "languageId": 1033, "status": 1, "message": "ok"},
          {"enabled": true, "name": "Fremdfüller", "foreign": true, "remote": true, "group": 3,
           "languageId": 1036, "status": 32767, "message": "Störung"}
        ]})",
                                                      kOrigin);
    EXPECT_EQ(line.languageId, 1031);
    EXPECT_EQ(line.groups[0], "Filling");
    EXPECT_EQ(line.groups[3], "Packing");
    EXPECT_EQ(line.groups[4], "");
    EXPECT_EQ(line.groups[31], "");

    const LineMachine& rinser = line.machines[0];
    EXPECT_TRUE(rinser.enabled);
    EXPECT_EQ(rinser.name, "Rinser");
    EXPECT_EQ(rinser.coName, "R-100");
    EXPECT_EQ(rinser.number, 1);
    EXPECT_TRUE(rinser.textFlag);
    EXPECT_EQ(rinser.symbol, 3);
    EXPECT_EQ(rinser.group, 0);
    EXPECT_EQ(rinser.groupSlots, (std::array<std::int16_t, 6>{0, 1, 2, -1, -1, -32768}));
    EXPECT_EQ(rinser.languageId, 1033);
    EXPECT_EQ(rinser.status, 1);
    EXPECT_EQ(rinser.message, "ok");

    const LineMachine& foreign = line.machines[1];
    EXPECT_TRUE(foreign.foreign);
    EXPECT_TRUE(foreign.remote);
    EXPECT_EQ(foreign.name, "Fremdfüller");
    EXPECT_EQ(foreign.coName, "");
    EXPECT_EQ(foreign.number, 0);
    EXPECT_EQ(foreign.group, 3);
    EXPECT_EQ(foreign.groupSlots, (std::array<std::int16_t, 6>{-1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(foreign.status, 32767);
    EXPECT_EQ(foreign.message, "Störung");

    for (std::size_t m = 2; m < line.machines.size(); ++m) {
        EXPECT_FALSE(line.machines[m].enabled) << m;
        EXPECT_EQ(line.machines[m].group, -1) << m;
    }
}

TEST(LineDescriptionFile, EmptyDocumentsAndWholeNumbersWrittenAsFloats) {
    const LineDescription empty = parseLineDescription("{}", kOrigin);
    EXPECT_EQ(empty.languageId, 0);
    EXPECT_FALSE(empty.machines[0].enabled);

    const LineDescription line = parseLineDescription(
        R"({"languageId": 1.031e3, "groups": [], "machines": [{"number": 2.0, "status": -0.0}]})", kOrigin);
    EXPECT_EQ(line.languageId, 1031);
    EXPECT_EQ(line.machines[0].number, 2);
    EXPECT_EQ(line.machines[0].status, 0);

    const std::string full = [] {
        std::string text = R"({"machines": [)";
        for (int m = 0; m < 64; ++m) {
            if (m > 0) text += ",";
            text += R"({"number": )";
            text += std::to_string(m);
            text += "}";
        }
        return text + "]}";
    }();
    EXPECT_EQ(parseLineDescription(full, kOrigin).machines[63].number, 63);
}

TEST(LineDescriptionFile, EveryMistakeNamesFileMachineAndField) {
    struct Case {
        std::string json;
        std::int32_t number;
        std::vector<std::string> named;
    };
    const std::vector<Case> cases = {
        {withMachine1(R"({"enabled": 1})"), kTypeMismatch, {"machine 1", "\"enabled\"", "true or false"}},
        {withMachine1(R"({"name": 5})"), kTypeMismatch, {"machine 1", "\"name\"", "text"}},
        {withMachine1(R"({"message": null})"), kTypeMismatch, {"machine 1", "\"message\""}},
        {withMachine1(R"({"number": "1"})"), kTypeMismatch, {"machine 1", "\"number\"", "whole number"}},
        {withMachine1(R"({"status": 1.5})"), kTypeMismatch, {"machine 1", "\"status\"", "1.5"}},
        {withMachine1(R"({"number": 32768})"),
         kOverflow,
         {"machine 1", "\"number\"", "32768", "-32768..32767"}},
        {withMachine1(R"({"group": -32769})"), kOverflow, {"machine 1", "\"group\"", "-32769"}},
        {withMachine1(R"({"symbol": 1e6})"), kOverflow, {"machine 1", "\"symbol\""}},
        {withMachine1(R"({"status": 18446744073709551615})"), kOverflow, {"machine 1", "\"status\""}},
        {withMachine1(R"({"languageId": 2147483648})"),
         kOverflow,
         {"machine 1", "\"languageId\"", "2147483647"}},
        {R"({"languageId": -2147483649})", kOverflow, {"\"languageId\""}},
        {R"({"languageId": true})", kTypeMismatch, {"\"languageId\""}},
        {withMachine1(R"({"gruop": 2})"), 438, {"machine 1", "\"gruop\"", "unknown field"}},
        {withMachine1(R"({"Name": "x"})"), 438, {"machine 1", "\"Name\""}},
        {R"({"machine": []})", 438, {"\"machine\"", "unknown field"}},
        {withMachine1(R"({"groupSlots": [1, 2, 3, 4, 5]})"),
         kSubscriptOutOfRange,
         {"machine 1", "\"groupSlots\"", "six"}},
        {withMachine1(R"({"groupSlots": [1, 2, 3, 4, 5, 6, 7]})"),
         kSubscriptOutOfRange,
         {"machine 1", "\"groupSlots\""}},
        {withMachine1(R"({"groupSlots": [1, 2, "3", 4, 5, 6]})"),
         kTypeMismatch,
         {"machine 1", "\"groupSlots\" element 2"}},
        {withMachine1(R"({"groupSlots": [1, 2, 3, 4, 5, 40000]})"),
         kOverflow,
         {"machine 1", "\"groupSlots\" element 5"}},
        {withMachine1(R"({"groupSlots": 1})"), kTypeMismatch, {"machine 1", "\"groupSlots\""}},
        {withMachine1("null"), kTypeMismatch, {"machine 1", "object"}},
        {withMachine1("[]"), kTypeMismatch, {"machine 1", "object"}},
        {R"({"machines": {"enabled": true}})", kTypeMismatch, {"\"machines\""}},
        {R"({"groups": ["a", 2]})", kTypeMismatch, {"\"groups\" element 1"}},
        {R"({"groups": "a"})", kTypeMismatch, {"\"groups\""}},
        {"[]", kTypeMismatch, {"expected an object"}},
        {"17", kTypeMismatch, {"expected an object"}},
    };
    for (const Case& c : cases) {
        const VbError error = parseError(c.json);
        EXPECT_EQ(error.number(), c.number) << c.json << "\n" << error.description();
        EXPECT_TRUE(error.description().starts_with(kOrigin + ": ")) << error.description();
        EXPECT_EQ(error.source(), "LineDescription");
        for (const std::string& name : c.named)
            EXPECT_NE(error.description().find(name), std::string::npos)
                << error.description() << " lacks " << name;
    }
}

TEST(LineDescriptionFile, TooManyMachinesOrGroupsAreRefused) {
    std::string machines = R"({"machines": [{})";
    for (int m = 1; m < 65; ++m) machines += ",{}";
    const VbError tooManyMachines = parseError(machines + "]}");
    EXPECT_EQ(tooManyMachines.number(), kSubscriptOutOfRange);
    EXPECT_NE(tooManyMachines.description().find("65 machines"), std::string::npos)
        << tooManyMachines.description();

    std::string groups = "{\"groups\": [\"\"";
    for (int g = 1; g < 33; ++g) groups += ",\"\"";
    const VbError tooManyGroups = parseError(groups + "]}");
    EXPECT_EQ(tooManyGroups.number(), kSubscriptOutOfRange);
    EXPECT_NE(tooManyGroups.description().find("33 groups"), std::string::npos)
        << tooManyGroups.description();
}

TEST(LineDescriptionFile, GarbageNeverCrashesAndIsATypeMismatch) {
    for (const std::string& text :
         {std::string(), std::string("{"), std::string("not json"), std::string("{\"machines\": [}"),
          std::string("{} {}"), std::string("{\"a\" 1}"), std::string("{\"languageId\": 1e400}"),
          std::string("{\"machines\": [{\"name\": \"\xff\xfe\"}]}"), std::string("\0{}", 3),
          std::string(200000, '['), std::string(100000, '[') + std::string(100000, ']'),
          std::string(300000, '{')}) {
        const VbError error = parseError(text);
        EXPECT_EQ(error.number(), kTypeMismatch) << text.substr(0, 40) << ": " << error.description();
        EXPECT_TRUE(error.description().starts_with(kOrigin)) << error.description();
    }

    std::mt19937 random(20260207);
    for (int round = 0; round < 300; ++round) {
        std::string text =
            R"({"languageId": 1031, "groups": ["a"], "machines": [{"enabled": true, "groupSlots": [0,1,2,3,4,5]}]})";
        for (int flips = 0; flips < 3; ++flips)
            text[random() % text.size()] = static_cast<char>(random() % 256);
        try {
            parseLineDescription(text, kOrigin);
        } catch (const VbError&) {
        }
    }

    const VbError huge =
        parseError("{\"machines\": [{\"name\": \"" + std::string(2 * 1024 * 1024, 'x') + "\"}]}");
    EXPECT_EQ(huge.number(), kOutOfMemory);
    EXPECT_NE(huge.description().find(kOrigin), std::string::npos);
}

// The forms a line travels in over the network: what one end writes, the other reads back unchanged.
TEST(LineWireForms, DescriptionAndValuesRoundTripAndValuesAreReadAsStrictly) {
    LineDescription line;
    line.languageId = 1036;
    line.groups[31] = "Groupe «31»";
    line.machines[63] = LineMachine{true, "Étiqueteuse",       "ET-1", 5,      true,      true, -3, true,
                                    31,   {0, 1, 2, 3, 4, 31}, -1,     -32768, "Bourrage"};
    const LineDescription back = parseLineDescription(lineDescriptionJson(line), "config");
    EXPECT_EQ(back.languageId, 1036);
    EXPECT_EQ(back.groups, line.groups);
    const LineMachine& m = back.machines[63];
    EXPECT_EQ(std::tie(m.enabled, m.name, m.coName, m.number, m.remote, m.textFlag, m.symbol, m.foreign,
                       m.group, m.groupSlots, m.languageId, m.status, m.message),
              std::tie(line.machines[63].enabled, line.machines[63].name, line.machines[63].coName,
                       line.machines[63].number, line.machines[63].remote, line.machines[63].textFlag,
                       line.machines[63].symbol, line.machines[63].foreign, line.machines[63].group,
                       line.machines[63].groupSlots, line.machines[63].languageId, line.machines[63].status,
                       line.machines[63].message));

    LineValues values{};
    values[0] = MachineValues{1031, 6, "Störung"};
    values[63] = MachineValues{2147483647, -1, ""};
    const LineValues valuesBack = parseLineValues(lineValuesJson(values), "values");
    for (std::size_t i = 0; i < values.size(); ++i)
        EXPECT_EQ(std::tie(valuesBack[i].languageId, valuesBack[i].status, valuesBack[i].message),
                  std::tie(values[i].languageId, values[i].status, values[i].message))
            << "machine " << i;

    const auto valuesError = [](const std::string& json) {
        try {
            parseLineValues(json, "values");
        } catch (const VbError& error) {
            return std::to_string(error.number()) + " " + error.description();
        }
        return std::string("no error");
    };
    EXPECT_EQ(parseLineValues("{}", "values")[5].status, 0);
    EXPECT_EQ(valuesError(R"({"machines": [{"status": 1.5}]})"),
              "13 values: machine 0, field \"status\": expected a whole number, found 1.5");
    EXPECT_EQ(valuesError(R"({"machines": [{"name": "x"}]})"),
              "438 values: machine 0, field \"name\": unknown field");
    EXPECT_EQ(valuesError(R"({"machine": []})"), "438 values: line values, field \"machine\": unknown field");
    EXPECT_EQ(valuesError("[]"), "13 values: line values: expected an object, found a list");
    std::string tooMany = R"({"machines": [{})";
    for (int i = 0; i < 64; ++i) tooMany += ",{}";
    EXPECT_EQ(valuesError(tooMany + "]}"),
              "9 values: line values, field \"machines\": 65 machines, at most 64 are possible");
}

class LineDescriptionFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("orvanta-line-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& content) {
        const std::filesystem::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    std::filesystem::path dir_;
};

TEST_F(LineDescriptionFileOnDisk, LoadsAFileAndNamesItInEveryComplaint) {
    const std::string good =
        write("Line.json", "\xEF\xBB\xBF{\"languageId\": 1036, \"groups\": [\"Filling\"]}");
    const LineDescription line = loadLineDescription(good);
    EXPECT_EQ(line.languageId, 1036);
    EXPECT_EQ(line.groups[0], "Filling");

    const std::string bad = write("Bad.json", withMachine1(R"({"number": 99999})"));
    try {
        loadLineDescription(bad);
        FAIL() << "no error";
    } catch (const VbError& error) {
        EXPECT_EQ(error.number(), kOverflow);
        EXPECT_TRUE(error.description().starts_with(bad + ": machine 1, field \"number\""))
            << error.description();
    }

    const std::string big = write("Big.json", std::string(1024 * 1024 + 1, ' '));
    try {
        loadLineDescription(big);
        FAIL() << "no error";
    } catch (const VbError& error) {
        EXPECT_EQ(error.number(), kOutOfMemory);
        EXPECT_NE(error.description().find(big), std::string::npos);
    }
}

TEST_F(LineDescriptionFileOnDisk, MissingFileIs53AndADirectoryCannotBeRead) {
    const std::string missing = (dir_ / "Program" / "Orvanta" / "Line.json").string();
    try {
        loadLineDescription(missing);
        FAIL() << "no error";
    } catch (const VbError& error) {
        EXPECT_EQ(error.number(), kFileNotFound);
        EXPECT_NE(error.description().find(missing), std::string::npos) << error.description();
    }
    try {
        loadLineDescription(dir_.string());
        FAIL() << "no error";
    } catch (const VbError& error) {
        EXPECT_EQ(error.number(), kPathFileAccessError);
        EXPECT_NE(error.description().find(dir_.string()), std::string::npos) << error.description();
    }
}

}  // namespace
}  // namespace orvanta
