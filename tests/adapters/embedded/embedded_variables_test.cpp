#include "adapters/embedded/embedded_variables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "adapters/embedded/catalogue_file.h"
#include "core/vb_error.h"
#include "ports/line_display.h"
#include "ports/variable_names.h"
#include "support/manual_event_loop.h"

namespace orvanta {
namespace {

namespace fs = std::filesystem;

VbError errorOf(auto&& action) {
    try {
        action();
    } catch (const VbError& error) {
        return error;
    }
    return VbError(0, "no error", "");
}

bool mentions(const VbError& error, const std::string& text) {
    return error.description().find(text) != std::string::npos;
}

constexpr const char* kFaults = "Ch1.T_zyk_m1<.faults0>";
constexpr const char* kCount = "Ch1.count";
constexpr const char* kLabel = "Ch1.label";
constexpr const char* kRun = "Ch1.run";

std::vector<CatalogueEntry> demoCatalogue() {
    std::vector<CatalogueEntry> plant = {
        {kFaults, VariableType::Integer, 0, {}},
        {kCount, VariableType::Long, 0, Variant::longInt(5)},
        {kLabel, VariableType::String, 0, Variant::text("Filler")},
        {kRun, VariableType::Boolean, 0, {}},
    };
    return mergeCatalogues(builtinVariables(), plant);
}

class EmbeddedVariablesTest : public ::testing::Test {
protected:
    testing::ManualEventLoop loop;
    EmbeddedVariables runtime{loop, demoCatalogue()};
};

TEST_F(EmbeddedVariablesTest, HoldsEveryBuiltInVariableWithItsType) {
    using namespace vars;
    for (std::string_view name :
         {kLiABits,  kLiBSprung,  kLiStatus,  kLiClientOk, kLiHStatus,  kLiHMasch,    kLiHNummer,
          kLiLFault, kLiLAlarmNo, kLiLAlarmT, kLiLSensor1, kLiLSensor2, kLiLNeu,      kLiNeuG,
          kLiNeuP,   kLiNeuS,     kLiLebenHi, kLiLebenZu,  kLiGFontCh,  kLiBildSprung}) {
        EXPECT_EQ(runtime.ReadVariable(name), Variant::integer(0)) << name;
    }
    EXPECT_EQ(runtime.ReadVariable(kSprache), Variant::longInt(0));
    EXPECT_EQ(runtime.ReadVariable(kLiGFontNa), Variant::text(""));

    const Variant zeros64 = Variant::integerArray(std::vector<std::int16_t>(64, 0));
    for (std::string_view name : {kLiPEnable, kLiPSymbol, kLiPFremd, kLiPFern, kLiSCharset, kLiSStatus})
        EXPECT_EQ(runtime.ReadVariable(name), zeros64) << name;
    EXPECT_EQ(runtime.ReadVariable(kLiGStatus), Variant::integerArray(std::vector<std::int16_t>(6, 0)));

    for (std::int32_t k = 0; k < kLineSlotCount; ++k)
        EXPECT_EQ(runtime.ReadVariable(indexed(kLiGGrupNaBase, k)), Variant::text("")) << k;
    EXPECT_FALSE(runtime.knows(indexed(kLiGGrupNaBase, 6)));
    for (std::string_view base : {kLiPMaNameBase, kLiPCoNameBase, kLiSMessageBase, kLiSFontBase}) {
        for (std::int32_t n = 0; n < kLineMachineCount; ++n)
            EXPECT_EQ(runtime.ReadVariable(indexed(base, n)), Variant::text("")) << base << n;
        EXPECT_FALSE(runtime.knows(indexed(base, 64))) << base;
    }

    EXPECT_EQ(runtime.ReadVariable(kCount), Variant::longInt(5));
    EXPECT_EQ(runtime.ReadVariable(kLabel), Variant::text("Filler"));
    EXPECT_EQ(runtime.ReadVariable(kRun), Variant::boolean(false));
}

TEST_F(EmbeddedVariablesTest, WritesConvertToTheDeclaredTypeOrChangeNothing) {
    runtime.WriteVariable(kFaults, Variant::real(2.5));
    EXPECT_EQ(runtime.ReadVariable(kFaults), Variant::integer(2));
    runtime.WriteVariable(kFaults, Variant::text(" 7 "));
    EXPECT_EQ(runtime.ReadVariable(kFaults), Variant::integer(7));

    const VbError mismatch = errorOf([&] { runtime.WriteVariable(kFaults, Variant::text("12abc")); });
    EXPECT_EQ(mismatch.number(), kTypeMismatch);
    EXPECT_TRUE(mentions(mismatch, kFaults)) << mismatch.description();
    const VbError overflow = errorOf([&] { runtime.WriteVariable(kFaults, Variant::longInt(70000)); });
    EXPECT_EQ(overflow.number(), kOverflow);
    EXPECT_TRUE(mentions(overflow, kFaults));
    EXPECT_EQ(errorOf([&] { runtime.WriteVariable(kFaults, Variant::null()); }).number(), kInvalidUseOfNull);
    EXPECT_EQ(runtime.ReadVariable(kFaults), Variant::integer(7));

    runtime.WriteVariable(kCount, Variant::longInt(70000));
    EXPECT_EQ(runtime.ReadVariable(kCount), Variant::longInt(70000));
    runtime.WriteVariable(kLabel, Variant::integer(5));
    EXPECT_EQ(runtime.ReadVariable(kLabel), Variant::text("5"));
    runtime.WriteVariable(kRun, Variant::text("TRUE"));
    EXPECT_EQ(runtime.ReadVariable(kRun), Variant::boolean(true));
    runtime.WriteVariable(kRun, Variant::integer(0));
    EXPECT_EQ(runtime.ReadVariable(kRun), Variant::boolean(false));

    // The same by id.
    const auto id = runtime.resolve(vars::kLiHNummer);
    runtime.write(id, Variant::real(3.5));
    EXPECT_EQ(runtime.read(id), Variant::integer(4));
    EXPECT_EQ(runtime.ReadVariable(vars::kLiHNummer), Variant::integer(4));
    EXPECT_EQ(errorOf([&] { runtime.write(id, Variant::text("x")); }).number(), kTypeMismatch);
    EXPECT_EQ(runtime.read(id), Variant::integer(4));
}

TEST_F(EmbeddedVariablesTest, ArraysTakeExactlyTheirElementCount) {
    Variant::Array elements(64, Variant::integer(0));
    elements[0] = Variant::real(2.5);
    elements[1] = Variant::text("-3");
    elements[63] = Variant::boolean(true);
    runtime.WriteVariable(vars::kLiPEnable, Variant::array(elements));
    std::vector<std::int16_t> expected(64, 0);
    expected[0] = 2;
    expected[1] = -3;
    expected[63] = -1;
    EXPECT_EQ(runtime.ReadVariable(vars::kLiPEnable), Variant::integerArray(expected));

    const VbError shorter = errorOf([&] {
        runtime.WriteVariable(vars::kLiPEnable, Variant::array(Variant::Array(63, Variant::integer(1))));
    });
    EXPECT_EQ(shorter.number(), kSubscriptOutOfRange);
    EXPECT_TRUE(mentions(shorter, std::string(vars::kLiPEnable)));
    const VbError scalar = errorOf([&] { runtime.WriteVariable(vars::kLiPEnable, Variant::integer(1)); });
    EXPECT_EQ(scalar.number(), kTypeMismatch);
    EXPECT_TRUE(mentions(scalar, std::string(vars::kLiPEnable)));
    elements[10] = Variant::longInt(70000);
    const VbError element =
        errorOf([&] { runtime.WriteVariable(vars::kLiPEnable, Variant::array(elements)); });
    EXPECT_EQ(element.number(), kOverflow);
    EXPECT_TRUE(mentions(element, "element 10"));
    EXPECT_EQ(runtime.ReadVariable(vars::kLiPEnable), Variant::integerArray(expected));

    EXPECT_EQ(errorOf([&] { runtime.WriteVariable(kFaults, Variant::integerArray({1})); }).number(),
              kTypeMismatch);
}

TEST_F(EmbeddedVariablesTest, UnknownNamesAreErrorsNamingTheVariable) {
    const std::string name = "Ch1.T_zyk_m9<.faults0>";
    for (const VbError& error : {errorOf([&] { runtime.ReadVariable(name); }),
                                 errorOf([&] { runtime.WriteVariable(name, Variant::integer(1)); }),
                                 errorOf([&] { runtime.watch(name, [](const Variant&) {}); })}) {
        EXPECT_EQ(error.number(), kInvalidCall);
        EXPECT_TRUE(mentions(error, "'" + name + "'")) << error.description();
        EXPECT_EQ(error.source(), "EmbeddedRuntime");
    }

    const auto id = runtime.resolve(name);
    EXPECT_EQ(runtime.resolve(name), id);
    EXPECT_NE(runtime.resolve(kFaults), id);
    EXPECT_TRUE(mentions(errorOf([&] { runtime.read(id); }), "'" + name + "' is not in the catalogue"));
    EXPECT_TRUE(mentions(errorOf([&] { runtime.write(id, Variant::integer(1)); }), name));
    // Resolving does not declare it.
    EXPECT_FALSE(runtime.knows(name));
    EXPECT_EQ(errorOf([&] { runtime.ReadVariable(name); }).number(), kInvalidCall);
    EXPECT_EQ(errorOf([&] { runtime.WriteVariable(name, Variant::integer(1)); }).number(), kInvalidCall);
    EXPECT_EQ(errorOf([&] { runtime.watch(name, [](const Variant&) {}); }).number(), kInvalidCall);
    EXPECT_EQ(errorOf([&] { runtime.read(123456); }).number(), kInvalidCall);
}

TEST_F(EmbeddedVariablesTest, ChangesReachWatchersThroughTheLoopOnlyWhenTheValueChanges) {
    std::vector<std::string> seen;
    runtime.watch(vars::kLiHNummer, [&](const Variant& value) { seen.push_back("a " + toText(value)); });
    runtime.watch(vars::kLiHNummer, [&](const Variant& value) { seen.push_back("b " + toText(value)); });
    runtime.watch(vars::kSprache, [&](const Variant& value) { seen.push_back("s " + toText(value)); });

    runtime.WriteVariable(vars::kLiHNummer, Variant::text("17"));
    EXPECT_TRUE(seen.empty());
    loop.runPending();
    EXPECT_EQ(seen, (std::vector<std::string>{"a 17", "b 17"}));
    EXPECT_EQ(runtime.ReadVariable(vars::kLiHNummer), Variant::integer(17));

    seen.clear();
    runtime.WriteVariable(vars::kLiHNummer, Variant::real(17.0));  // the same value once converted
    errorOf([&] { runtime.WriteVariable(vars::kLiHNummer, Variant::text("x")); });
    loop.runPending();
    EXPECT_TRUE(seen.empty());

    // Each change is delivered with its own value, in the order written, by name or by id.
    runtime.WriteVariable(vars::kLiHNummer, Variant::integer(1));
    runtime.write(runtime.resolve(vars::kSprache), Variant::integer(1031));
    runtime.WriteVariable(vars::kLiHNummer, Variant::integer(2));
    loop.runPending();
    EXPECT_EQ(seen, (std::vector<std::string>{"a 1", "b 1", "s 1031", "a 2", "b 2"}));
}

TEST_F(EmbeddedVariablesTest, UnwatchIsSafeAtAnyMoment) {
    std::vector<std::string> seen;
    ProcessVariables::WatchId second = 0;
    ProcessVariables::WatchId first = runtime.watch(vars::kLiBSprung, [&](const Variant& value) {
        seen.push_back("first " + toText(value));
        runtime.unwatch(first);   // itself, while it runs
        runtime.unwatch(second);  // and the other one, whose delivery is already queued
    });
    second = runtime.watch(vars::kLiBSprung,
                           [&](const Variant& value) { seen.push_back("second " + toText(value)); });
    runtime.WriteVariable(vars::kLiBSprung, Variant::integer(3));
    loop.runPending();
    EXPECT_EQ(seen, (std::vector<std::string>{"first 3"}));

    seen.clear();
    const auto third = runtime.watch(vars::kLiBSprung, [&](const Variant&) { seen.push_back("third"); });
    runtime.WriteVariable(vars::kLiBSprung, Variant::integer(1));
    runtime.unwatch(third);
    runtime.unwatch(third);
    runtime.unwatch(999);
    loop.runPending();
    EXPECT_TRUE(seen.empty());
}

TEST_F(EmbeddedVariablesTest, AWriteInAHandlerIsDeliveredAfterItReturns) {
    std::vector<std::string> seen;
    runtime.watch(vars::kLiHNummer, [&](const Variant& value) {
        seen.push_back("nummer " + toText(value));
        runtime.WriteVariable(vars::kLiLNeu, Variant::integer(0));
        seen.push_back("nummer done");
    });
    runtime.watch(vars::kLiLNeu, [&](const Variant& value) { seen.push_back("neu " + toText(value)); });
    runtime.WriteVariable(vars::kLiLNeu, Variant::integer(1));
    runtime.WriteVariable(vars::kLiHNummer, Variant::integer(5));
    loop.runPending();
    EXPECT_EQ(seen, (std::vector<std::string>{"neu 1", "nummer 5", "nummer done", "neu 0"}));
}

TEST(EmbeddedVariables, ChangesPostedBeforeTheRuntimeWentAwayAreDropped) {
    testing::ManualEventLoop loop;
    int calls = 0;
    {
        EmbeddedVariables runtime(loop, builtinVariables());
        runtime.watch(vars::kLiHNummer, [&](const Variant&) { ++calls; });
        runtime.WriteVariable(vars::kLiHNummer, Variant::integer(1));
    }
    loop.runPending();
    EXPECT_EQ(calls, 0);
}

TEST(EmbeddedVariables, ACatalogueThatContradictsItselfIsRefused) {
    testing::ManualEventLoop loop;
    const std::vector<CatalogueEntry> twice = {{"a", VariableType::Integer, 0, {}},
                                               {"a", VariableType::Long, 0, {}}};
    EXPECT_TRUE(mentions(errorOf([&] { EmbeddedVariables runtime(loop, twice); }), "'a' is declared twice"));
    const std::vector<CatalogueEntry> badValue = {{"b", VariableType::Integer, 0, Variant::text("b")}};
    EXPECT_EQ(errorOf([&] { EmbeddedVariables runtime(loop, badValue); }).number(), kTypeMismatch);
    const std::vector<CatalogueEntry> noElements = {{"c", VariableType::IntegerArray, 0, {}}};
    EXPECT_EQ(errorOf([&] { EmbeddedVariables runtime(loop, noElements); }).number(), kInvalidCall);
}

class RecordingEvents : public RuntimeEvents {
public:
    explicit RecordingEvents(std::vector<std::string>& log) : log_(log) {}
    void StartCompleted(std::int16_t Success) override {
        log_.push_back("StartCompleted " + std::to_string(Success));
    }
    void RuntimeStopped() override { log_.push_back("RuntimeStopped"); }

private:
    std::vector<std::string>& log_;
};

TEST_F(EmbeddedVariablesTest, StartAndStopAreReportedThroughTheLoopOnce) {
    std::vector<std::string> log;
    RecordingEvents events(log);
    runtime.StopRuntime();  // not started: nobody to tell
    runtime.start(events);
    EXPECT_TRUE(log.empty());
    loop.runPending();
    EXPECT_EQ(log, (std::vector<std::string>{"StartCompleted -1"}));
    runtime.start(events);
    runtime.StopRuntime();
    runtime.StopRuntime();
    EXPECT_EQ(log.size(), 1u);
    loop.runPending();
    EXPECT_EQ(log, (std::vector<std::string>{"StartCompleted -1", "RuntimeStopped"}));
}

TEST(EmbeddedVariables, AFailedRuntimeReportsItsReasonAndFailsToStart) {
    testing::ManualEventLoop loop;
    std::vector<std::string> log;
    RecordingEvents events(log);
    EmbeddedVariables runtime(loop, EmbeddedVariables::StartFailure{"catalogue unreadable"},
                              [&](const std::string& message) { log.push_back("reported: " + message); });
    runtime.start(events);
    loop.runPending();
    EXPECT_EQ(log, (std::vector<std::string>{
                       "reported: The process-variable runtime cannot start: catalogue unreadable",
                       "StartCompleted 0"}));
    EXPECT_EQ(errorOf([&] { runtime.ReadVariable(vars::kLiStatus); }).number(), kInvalidCall);
}

class PlantFolder {
public:
    PlantFolder() {
        static std::atomic<int> counter = 0;
        base_ =
            fs::temp_directory_path() /
            ("orvanta-plant-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) +
             "-" + std::to_string(counter++));
        fs::create_directories(base_ / "Program" / "Orvanta");
    }
    ~PlantFolder() {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }
    void writeCatalogue(const std::string& text) const {
        std::ofstream(base_ / "Program" / "Orvanta" / "Variables.json", std::ios::binary) << text;
    }
    std::string base() const { return base_.string(); }

private:
    fs::path base_;
};

TEST(OpenEmbeddedVariables, LoadsThePlantCatalogueOrStartsInTheFailedState) {
    testing::ManualEventLoop loop;
    PlantFolder plant;
    std::vector<std::string> log;
    RecordingEvents events(log);
    const auto report = [&](const std::string& message) { log.push_back("reported: " + message); };

    {
        auto missing = openEmbeddedVariables(loop, plant.base(), report);
        missing->start(events);
        loop.runPending();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_TRUE(log[0].find(plant.base() + "/Program/Orvanta/Variables.json") != std::string::npos)
            << log[0];
        EXPECT_EQ(log[1], "StartCompleted 0");
    }

    log.clear();
    plant.writeCatalogue(R"({"variables": [{"name": "Ch-1.int_linie<.li_status>", "type": "string"}]})");
    {
        auto conflicting = openEmbeddedVariables(loop, plant.base(), report);
        conflicting->start(events);
        loop.runPending();
        ASSERT_EQ(log.size(), 2u);
        EXPECT_TRUE(log[0].find("'Ch-1.int_linie<.li_status>' is built into the panel as integer") !=
                    std::string::npos)
            << log[0];
        EXPECT_EQ(log[1], "StartCompleted 0");
    }

    log.clear();
    plant.writeCatalogue(R"({"variables": [{"name": "Ch1.T_zyk_linie<.li_statusplc01>", "type": "integer",
                                            "value": 3}]})");
    auto runtime = openEmbeddedVariables(loop, plant.base(), report);
    runtime->start(events);
    loop.runPending();
    EXPECT_EQ(log, (std::vector<std::string>{"StartCompleted -1"}));
    EXPECT_EQ(runtime->ReadVariable(vars::indexed(vars::kLiStatusPlcBase, 1)), Variant::integer(3));
    EXPECT_EQ(runtime->ReadVariable(vars::kLiLNeu), Variant::integer(0));
}

}  // namespace
}  // namespace orvanta
