// LinienParaAufbereiten: the line's configuration, from the line display to the runtime. Every pass asks
// the display everything anew (its language, 64 machines, 32 group names), fills the machine and group
// records, picks the reference machine whose six display slots are shown, and hands the visualisation
// what changed: the display font, the six group names, the machines' names and co-names one element at
// a time, and four integer arrays (in display, symbol, foreign, remote) read whole, set and written whole,
// so that elements beyond the 64 machines keep what the runtime holds. It ends with the value preparation,
// which turns the change flags raised here into the new-data variables.
//
// Each statement runs on its own in the handler frame: a getter, a read or a write that fails is logged
// and the pass goes on, and the fields it would have set keep their values. That holds for the last-sent
// copies too: a value counts as sent, and its change flag is raised, only once its write went through.
// A write that fails is therefore tried again on the next pass, and the visualisation is never told of a
// change that did not reach it. An array that the runtime does not hand back as an array is an error of
// its step, and nothing of that step is written. An array with fewer than 64 elements gets the machines it
// has room for and is written back; the machines beyond its end are one fault line per array and pass (not
// one per element: a runtime configured short would otherwise fill the size-limited log with 54 identical
// lines per array on every pass and push out the history that explains a stoppage), and they do not count
// as sent.
#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "core/vb_error.h"
#include "linebridge/line_bridge.h"
#include "linebridge/reference_machine.h"
#include "linebridge/whole_array.h"
#include "ports/variable_names.h"
#include "service/handler_frame.h"

namespace orvanta {
namespace {

constexpr const char* kSource = "Orvanta";
constexpr std::int32_t kFallbackLanguage = 1033;
constexpr std::int16_t kNoGroup = -1;
// In the display slots only this value means "no group"; other negative values still match a machine.
constexpr std::int16_t kEmptySlot = -1;

constexpr std::size_t at(int index) { return static_cast<std::size_t>(index); }

// The names of the string elements, built once: they are written one by one on many passes.
struct ElementNames {
    std::array<std::string, kLineMachineCount> maname;
    std::array<std::string, kLineMachineCount> coname;
    std::array<std::string, kLineSlotCount> grupna;
};

const ElementNames& elementNames() {
    static const ElementNames names = [] {
        ElementNames made;
        for (int m = 0; m < kLineMachineCount; ++m) {
            made.maname[at(m)] = vars::indexed(vars::kLiPMaNameBase, m);
            made.coname[at(m)] = vars::indexed(vars::kLiPCoNameBase, m);
        }
        for (int k = 0; k < kLineSlotCount; ++k) made.grupna[at(k)] = vars::indexed(vars::kLiGGrupNaBase, k);
        return made;
    }();
    return names;
}

std::int16_t oneOrZero(std::int16_t flag) { return flag != 0 ? 1 : 0; }

// One pass's steps over the bridge's records; the trace, the fault lines and the value preparation at
// the end belong to LinienParaAufbereiten itself.
class ParameterPass {
public:
    ParameterPass(HandlerFrame& frame, LineRecords& records, const LanguageTable& languages,
                  ProcessVariables& variables, LineDisplay& BrenkoLineOCX)
        : frame_(frame),
          records_(records),
          languages_(languages),
          variables_(variables),
          BrenkoLineOCX_(BrenkoLineOCX) {}

    void font() {
        DisplayFont& font = records_.font;
        frame_.step([&] { font.languageId = BrenkoLineOCX_.LanguageId(); });
        if (font.languageId < 1) font.languageId = kFallbackLanguage;
        // The lookup logs its own faults and never throws.
        const std::int16_t index = SucheFont(languages_, font.languageId, frame_.procedure(), frame_.log());
        frame_.step([&] { font.charSet = narrowToInteger(languages_.at(index).CharSet); });
        frame_.step([&] { font.fontName = languages_.at(index).FontName; });
        if (font.charSet != font.sentCharSet) {
            frame_.step([&] {
                variables_.WriteVariable(vars::kLiGFontCh, Variant::integer(font.charSet));
                font.sentCharSet = font.charSet;
                records_.changes.fontChanged = kTrue;
            });
        }
        if (font.fontName != font.sentFontName) {
            frame_.step([&] {
                variables_.WriteVariable(vars::kLiGFontNa, Variant::text(font.fontName));
                font.sentFontName = font.fontName;
                records_.changes.fontChanged = kTrue;
            });
        }
    }

    void enabled() {
        for (std::int16_t m = 0; m < kLineMachineCount; ++m) {
            MachineRecord& machine = records_.machines[at(m)];
            MachineRecord& sent = records_.sentMachines[at(m)];
            frame_.step([&] { machine.enabled = vbBool(BrenkoLineOCX_.MachineEnabled(m)); });
            if (machine.enabled != sent.enabled) {
                sent.enabled = machine.enabled;
                records_.changes.parametersChanged = kTrue;
            }
        }
    }

    void machineDetails() {
        for (std::int16_t m = 0; m < kLineMachineCount; ++m) {
            MachineRecord& machine = records_.machines[at(m)];
            if (machine.enabled == kTrue) {
                frame_.step([&] { machine.coName = BrenkoLineOCX_.MachineCoName(m); });
                frame_.step([&] { machine.number = BrenkoLineOCX_.MachineNumber(m); });
                frame_.step([&] { machine.remote = vbBool(BrenkoLineOCX_.MachineRemote(m)); });
                frame_.step([&] { machine.textFlag = vbBool(BrenkoLineOCX_.MachineTextFlag(m)); });
                frame_.step([&] { machine.name = BrenkoLineOCX_.MachineName(m); });
                frame_.step([&] { machine.symbol = BrenkoLineOCX_.MachineSymbol(m); });
                frame_.step([&] { machine.foreign = vbBool(BrenkoLineOCX_.MachineForeign(m)); });
                frame_.step([&] { machine.group = BrenkoLineOCX_.MachineGroup(m); });
                for (std::int16_t slot = 1; slot <= kLineSlotCount; ++slot)
                    frame_.step([&] { machine.slots[at(slot)] = BrenkoLineOCX_.MachineGroupSlot(slot, m); });
            } else {
                machine.name.clear();
                machine.coName.clear();
                machine.number = 0;
                machine.remote = kFalse;
                machine.symbol = 0;
                machine.textFlag = kFalse;
                machine.group = kNoGroup;
                frame_.step([&] { machine.foreign = vbBool(BrenkoLineOCX_.MachineForeign(m)); });
                for (int slot = 1; slot <= kLineSlotCount; ++slot) machine.slots[at(slot)] = kNoGroup;
            }
        }
    }

    const MachineRecord& referenceMachine() const {
        const MachineRecords& machines = records_.machines;
        return machines[at(ReferenceMachine([&machines](std::int16_t m) {
            const MachineRecord& machine = machines[at(m)];
            return MachineRole{machine.enabled == kTrue, machine.foreign != kFalse, machine.number};
        }))];
    }

    void groupNames() {
        for (std::int16_t g = 0; g < kLineGroupCount; ++g)
            frame_.step([&] { groupNames_[at(g)] = BrenkoLineOCX_.GroupName(g); });
    }

    void displayGroups(const MachineRecord& reference) {
        for (int slot = 1; slot <= kLineSlotCount; ++slot) {
            GroupRecord& group = records_.groups[at(slot)];
            group.number = reference.slots[at(slot)];
            if (group.number < 0) {
                group.name.clear();
                group.valid = kFalse;
            } else {
                frame_.step([&] { group.name = groupName(group.number, slot); });
                group.valid = kTrue;
            }
        }
    }

    void groupNamesOut() {
        // Checked access: the slots are 1-based here and 0-based in the names, an easy place to be one off.
        for (int k = 0; k < kLineSlotCount; ++k) {
            const GroupRecord& group = records_.groups.at(at(k + 1));
            SentGroupRecord& sent = records_.sentGroups.at(at(k + 1));
            if (group.name != sent.name) {
                frame_.step([&] {
                    variables_.WriteVariable(elementNames().grupna.at(at(k)), Variant::text(group.name));
                    sent.name = group.name;
                    records_.changes.groupsChanged = kTrue;
                });
            }
            if (group.number != sent.number) {
                sent.number = group.number;
                records_.changes.groupsChanged = kTrue;
            }
        }
    }

    void inDisplay(const MachineRecord& reference) {
        // A copy: the reference machine is one of the machines whose flag is set here.
        const auto slots = reference.slots;
        for (MachineRecord& machine : records_.machines) {
            machine.inDisplay = kFalse;
            for (int slot = 1; slot <= kLineSlotCount; ++slot) {
                const std::int16_t shown = slots[at(slot)];
                if (shown != kEmptySlot && shown == machine.group) machine.inDisplay = kTrue;
            }
        }
    }

    // Which machines are shown is the visualisation's business alone: no change flag for it.
    void enableArray() {
        rewriteArray(vars::kLiPEnable,
                     [](const MachineRecord& machine) { return oneOrZero(machine.inDisplay); });
    }

    void names() {
        for (int m = 0; m < kLineMachineCount; ++m) {
            const MachineRecord& machine = records_.machines[at(m)];
            MachineRecord& sent = records_.sentMachines[at(m)];
            if (machine.name == sent.name) continue;
            frame_.step([&] {
                variables_.WriteVariable(elementNames().maname[at(m)], Variant::text(machine.name));
                sent.name = machine.name;
                records_.changes.parametersChanged = kTrue;
            });
        }
    }

    void symbols() {
        noteSent(&MachineRecord::symbol,
                 rewriteArray(vars::kLiPSymbol, [](const MachineRecord& machine) { return machine.symbol; }));
    }

    void foreign() {
        noteSent(&MachineRecord::foreign, rewriteArray(vars::kLiPFremd, [](const MachineRecord& machine) {
            return oneOrZero(machine.foreign);
        }));
    }

    void remote() {
        noteSent(&MachineRecord::remote, rewriteArray(vars::kLiPFern, [](const MachineRecord& machine) {
            return oneOrZero(machine.remote);
        }));
    }

    void coNames() {
        for (int m = 0; m < kLineMachineCount; ++m) {
            const MachineRecord& machine = records_.machines[at(m)];
            MachineRecord& sent = records_.sentMachines[at(m)];
            if (machine.coName == sent.coName) continue;
            frame_.step([&] {
                variables_.WriteVariable(elementNames().coname[at(m)], Variant::text(machine.coName));
                sent.coName = machine.coName;
                records_.changes.parametersChanged = kTrue;
            });
        }
    }

private:
    std::string groupName(std::int16_t number, int slot) const {
        if (number >= kLineGroupCount)
            throw VbError(kSubscriptOutOfRange,
                          "Display slot " + std::to_string(slot) + " shows group " + std::to_string(number) +
                              ", outside 0.." + std::to_string(kLineGroupCount - 1),
                          kSource);
        return groupNames_[at(number)];
    }

    // The array `name` with element m set to element(machine m) for every machine it has room for, written
    // back whole.
    template <typename Element>
    WholeArray rewriteArray(std::string_view name, Element element) {
        WholeArray array(frame_, variables_, name);
        for (int m = 0; m < kLineMachineCount; ++m) array.set(m, element(records_.machines[at(m)]));
        array.write();
        return array;
    }

    // After the array of a field went out: every machine that went out with it whose field differs from
    // its last-sent value.
    void noteSent(std::int16_t MachineRecord::*field, const WholeArray& array) {
        array.forEachSent([&](std::size_t m) {
            const std::int16_t value = records_.machines[m].*field;
            std::int16_t& sent = records_.sentMachines[m].*field;
            if (value != sent) {
                sent = value;
                records_.changes.parametersChanged = kTrue;
            }
        });
    }

    HandlerFrame& frame_;
    LineRecords& records_;
    const LanguageTable& languages_;
    ProcessVariables& variables_;
    LineDisplay& BrenkoLineOCX_;
    // Fetched anew on every pass; a name that cannot be fetched stays empty.
    std::array<std::string, kLineGroupCount> groupNames_;
};

}  // namespace

void LineBridge::LinienParaAufbereiten(const std::string& callerName) {
    HandlerFrame frame(log_, callerName + ".LinienParaAufbereiten", Trace::Data);
    ParameterPass pass(frame, records_, languages_, variables_, BrenkoLineOCX_);
    pass.font();
    pass.enabled();
    pass.machineDetails();
    const MachineRecord& reference = pass.referenceMachine();
    pass.groupNames();
    pass.displayGroups(reference);
    pass.groupNamesOut();
    pass.inDisplay(reference);
    pass.enableArray();
    pass.names();
    pass.symbols();
    pass.foreign();
    pass.remote();
    pass.coNames();
    frame.step([&] { LinienWerteAufbereiten(frame.procedure()); });
}

}  // namespace orvanta
