// The benchmark table of `make bench`, from a benchmark output written here: which figures share a row,
// how repetitions become a median and a range, and that nothing is dropped.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/running_program.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

const std::string kScript = std::string(ORVANTA_SOURCE_DIR) + "/scripts/bench-table";

class BenchTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("orvanta-bench-table-" + std::to_string(getpid()));
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    std::string write(const std::string& json) {
        const fs::path file = folder_ / "bench.json";
        std::ofstream(file) << json;
        return file.string();
    }

    // The script's exit status; its output is in program_.
    int run(const std::vector<std::string>& arguments) {
        program_ = std::make_unique<testing::RunningProgram>(kScript, arguments);
        return program_->waitForExit(std::chrono::seconds(20));
    }

    fs::path folder_;
    std::unique_ptr<testing::RunningProgram> program_;
};

std::string sample(const std::string& name, double time, const std::string& unit,
                   const std::string& extra = "") {
    return R"({"name": ")" + name + R"(", "run_name": ")" + name +
           R"(", "run_type": "iteration", "iterations": 5,
              "real_time": )" +
           std::to_string(time) + R"(, "cpu_time": 1, "time_unit": ")" + unit + "\"" + extra + "}";
}

TEST_F(BenchTableTest, PairsRepetitionsAndKeepsEveryFigure) {
    const std::string json =
        R"({"context": {"load_avg": [1.5, 1.0, 0.5]}, "benchmarks": [)" +
        sample("BM_LoadRefdataFull/real_time", 10, "ms") + "," +
        sample("BM_LoadRefdataFull/real_time", 30, "ms") + "," +
        sample("BM_LoadRefdataFull/real_time", 12, "ms") + "," +
        // an aggregate of the same benchmark is no sample of its own
        R"({"name": "BM_LoadRefdataFull/real_time_mean", "run_name": "BM_LoadRefdataFull/real_time",
            "run_type": "aggregate", "aggregate_name": "mean", "real_time": 999, "cpu_time": 1,
            "time_unit": "ms"},)" +
        sample("BM_MdbExportAlarmdefsFull/real_time", 24, "ms") + "," +
        sample("BM_LogLine/4194304", 2000, "ns", R"(, "label": "never shortened")") + "," +
        sample("BM_LogLine/10", 8, "us", R"(, "label": "shortened at 10 KiB")") + "," +
        sample("BM_CyclicPassDefinitions/15000", 29, "us") + "," +
        sample("BM_CyclicPassDefinitions/100", 2, "us") + "," +
        sample("BM_CyclicPassDefinitions/1000", 3.8, "us") + "," +
        sample("BM_PeakMemoryFullPlant/history:0/iterations:1/real_time", 3, "s",
               R"(, "panel_MiB": 26.3, "reader_MiB": 4.5)") +
        "," +
        sample("BM_PeakMemoryFullPlant/history:1/iterations:1/real_time", 3, "s",
               R"(, "panel_MiB": 27.5, "reader_MiB": 4.5)") +
        "," + sample("BM_MqttVariableIntake", 8, "us", R"(, "items_per_second": 125000)") + "," +
        sample("BM_MqttAlarmToLineAlarm/manual_time", 4.5, "ms") + "," +
        R"({"name": "BM_LineValues64", "run_name": "BM_LineValues64", "run_type": "iteration",
            "error_occurred": true, "error_message": "the line was not fed", "real_time": 0, "cpu_time": 0,
            "time_unit": "us"},)" +
        sample("BM_SomethingNew", 7, "us") + "]}";

    ASSERT_EQ(run({write(json)}), 0) << program_->stderrText;
    const std::string& table = program_->stdoutText;
    EXPECT_NE(table.find("nproc "), std::string::npos) << table;
    EXPECT_NE(table.find("load average at start 1.50 1.00 0.50"), std::string::npos) << table;
    EXPECT_NE(table.find("| Reference data load, full-capacity plant | 12 ms | 10 ms – 30 ms (3 runs) | "
                         "mdb-export of its Alarmdefs table | 24 ms | 0.50 |"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("| Log line, never shortened | 2 µs | 1 run |"), std::string::npos) << table;
    EXPECT_NE(
        table.find(
            "| Log line, shortened at 10 KiB (amortised) | 8 µs | 1 run | never shortened | 2 µs | 4.00 |"),
        std::string::npos)
        << table;
    // The sizes in numeric order, each beside the one before.
    EXPECT_NE(
        table.find("| Cyclic pass, 1 000 definitions | 3.8 µs | 1 run | 100 definitions | 2 µs | 1.90 |"),
        std::string::npos)
        << table;
    EXPECT_LT(table.find("Cyclic pass, 1 000 definitions"), table.find("Cyclic pass, 15 000 definitions"));
    EXPECT_NE(table.find("from 100 to 1 000 definitions: 2.00 ns per added definition"), std::string::npos)
        << table;
    EXPECT_NE(table.find("from 1 000 to 15 000 definitions: 1.80 ns per added definition"), std::string::npos)
        << table;
    EXPECT_NE(table.find("| Peak memory, panel on the full-capacity plant (VmHWM) | 26.3 MiB |"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find(
                  "| Peak memory, the same panel keeping its history | 27.5 MiB | 1 run | without | 26.3 MiB "
                  "| 1.05 |"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("The history costs the panel 1.2 MiB of peak memory"), std::string::npos) << table;
    EXPECT_NE(table.find("| Peak memory, largest database reader (VmHWM, sampled) | 4.5 MiB |"),
              std::string::npos)
        << table;
    EXPECT_NE(table.find("| MqttVariableIntake (rate) | 125 kitems/s |"), std::string::npos) << table;
    EXPECT_NE(table.find("| MqttAlarmToLineAlarm | 4.5 ms |"), std::string::npos) << table;
    EXPECT_NE(table.find("| Line values, 64 machines | error: the line was not fed |"), std::string::npos)
        << table;
    EXPECT_NE(table.find("| SomethingNew | 7 µs |"), std::string::npos) << table;
}

TEST_F(BenchTableTest, RefusesWhatIsNoBenchmarkOutput) {
    EXPECT_EQ(run({}), 2);
    EXPECT_EQ(run({(folder_ / "missing.json").string()}), 1);
    EXPECT_NE(program_->stderrText.find("missing.json"), std::string::npos);
    EXPECT_EQ(run({write("{\"benchmarks\": []}")}), 1);
    EXPECT_EQ(run({write("not json")}), 1);
}

}  // namespace
}  // namespace orvanta
