// The pass on the demo plant: its real alarm definitions and texts, the embedded runtime with the plant's
// variables, the embedded line display with the demo line, and TimerDaten on the loop.
#include <gtest/gtest.h>

#include "adapters/access/mdb_database.h"
#include "adapters/embedded/embedded_line_display.h"
#include "adapters/embedded/embedded_variables.h"
#include "adapters/embedded/line_description_file.h"
#include "central/cyclic_pass.h"
#include "ports/variable_names.h"
#include "refdata/access_text_database.h"
#include "support/log_capture.h"
#include "support/manual_event_loop.h"

namespace orvanta {
namespace {

using namespace orvanta::testing;

const std::string kPlant = std::string(ORVANTA_SOURCE_DIR) + "/demo/plant";

class DemoPlantPass : public ::testing::Test {
protected:
    void SetUp() override {
        AlarmDefsEinlesen(alarms, engine, capture.log, kPlant, 5);
        const LineDescription description = loadLineDescription(plantFile(kPlant, kLineDescriptionFile));
        for (int slot = 0; slot < kLineMachineCount; ++slot) {
            const LineMachine& from = description.machines[static_cast<std::size_t>(slot)];
            MachineRecord& record = state.line.machines[static_cast<std::size_t>(slot)];
            record.enabled = vbBool(from.enabled);
            record.foreign = vbBool(from.foreign);
            record.textFlag = vbBool(from.textFlag);
            record.number = from.number;
        }
        line = std::make_unique<EmbeddedLineDisplay>(loop, description);
        state.plant.AnzahlMaschinen = 5;
        state.Sprache = "1031";
        VisuText.use().Init(kPlant + "/Program/Pelmar.vws");
        VisuText.use().Open();
        TimerDaten.setEnabled(true);
    }

    std::int16_t value(std::string_view name) { return toInteger(runtime->ReadVariable(name)); }

    ManualEventLoop loop;
    MdbDatabaseEngine engine{ORVANTA_MDB_READER};
    LogCapture capture;
    std::unique_ptr<EmbeddedVariables> runtime =
        openEmbeddedVariables(loop, kPlant, [](const std::string&) {});
    AlarmDefinitions alarms;
    CentralState state;
    std::unique_ptr<EmbeddedLineDisplay> line;
    TextDatabaseHandle VisuText{[this] { return std::make_unique<AccessTextDatabase>(engine); }};
    Timer TimerDaten{loop, "TimerDaten", 1000, [this] { pass->TimerDaten_Timer(); }};
    std::unique_ptr<CyclicPass> pass;
};

TEST_F(DemoPlantPass, AnEmergencyStopOnTheRinserIsPublishedEchoedAndCleared) {
    pass = std::make_unique<CyclicPass>(state, alarms, *runtime, *line, VisuText, capture.log, TimerDaten);
    runtime->WriteVariable(vars::indexed(vars::kLiStatusPlcBase, 5), Variant::integer(3));
    loop.advance(1000);
    EXPECT_EQ(line->slotDisplay(2).status, 1) << "the Rinser is idle";
    EXPECT_EQ(line->slotDisplay(10).status, 3) << "the Packer drive shows its status word";
    EXPECT_EQ(value(vars::kLiLNeu), 0) << "nothing to publish";

    runtime->WriteVariable("Ch1.T_zyk_m1<.faults0>", Variant::integer(1));  // M1_F01, emergency stop
    loop.advance(1000);
    EXPECT_EQ(value(vars::kLiLFault), 101);
    EXPECT_EQ(value(vars::kLiLSensor2), 1);
    EXPECT_EQ(value(vars::kLiLNeu), 1);
    EXPECT_EQ(line->slotDisplay(2).text, "Not-Halt betätigt");
    EXPECT_EQ(line->slotDisplay(2).language, 1031.0);
    EXPECT_EQ(line->slotDisplay(2).status, 4);
    EXPECT_EQ(line->slotDisplay(3).status, 1) << "the Filler is not concerned";

    // The visualisation echoes the fault: the next passes publish nothing more.
    runtime->WriteVariable(vars::kLiHNummer, Variant::integer(101));
    runtime->WriteVariable(vars::kLiLNeu, Variant::integer(0));
    loop.advance(3000);
    EXPECT_EQ(value(vars::kLiLNeu), 0);

    runtime->WriteVariable("Ch1.T_zyk_m1<.faults0>", Variant::integer(0));
    loop.advance(1000);
    EXPECT_EQ(value(vars::kLiLFault), 0);
    EXPECT_EQ(value(vars::kLiLNeu), 1);
    EXPECT_EQ(line->slotDisplay(2).text, "");
    EXPECT_EQ(line->dataUpdatedCount(), 6);
    EXPECT_TRUE(capture.linesStartingWith("F ").empty()) << capture.linesStartingWith("F ").front();
}

}  // namespace
}  // namespace orvanta
