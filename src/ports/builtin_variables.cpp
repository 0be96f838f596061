#include <string_view>

#include "ports/line_display.h"
#include "ports/variable_catalogue.h"
#include "ports/variable_names.h"

namespace orvanta {
namespace {

constexpr bool kOwned = true;

CatalogueEntry integerVariable(std::string_view name, bool owned) {
    return {.name = std::string(name),
            .type = VariableType::Integer,
            .initialValue = Variant::integer(0),
            .ownedByPanel = owned};
}

CatalogueEntry stringVariable(std::string name) {
    return {.name = std::move(name),
            .type = VariableType::String,
            .initialValue = Variant::text(""),
            .ownedByPanel = kOwned};
}

CatalogueEntry integerArray(std::string_view name, std::int32_t count) {
    return {std::string(name), VariableType::IntegerArray, count,
            Variant::integerArray(std::vector<std::int16_t>(static_cast<std::size_t>(count), 0)), kOwned};
}

}  // namespace

std::vector<CatalogueEntry> builtinVariables() {
    using namespace vars;
    std::vector<CatalogueEntry> entries;
    for (std::string_view name :
         {kLiABits, kLiBSprung, kLiStatus, kLiClientOk, kLiLFault, kLiLAlarmNo, kLiLAlarmT, kLiLSensor1,
          kLiLSensor2, kLiLNeu, kLiNeuG, kLiNeuP, kLiNeuS, kLiLebenZu, kLiGFontCh})
        entries.push_back(integerVariable(name, kOwned));
    // Read or watched only: the visualisation's handshake, the heartbeat and the jump switch.
    for (std::string_view name : {kLiHStatus, kLiHMasch, kLiHNummer, kLiLebenHi, kLiBildSprung})
        entries.push_back(integerVariable(name, !kOwned));
    entries.push_back(stringVariable(std::string(kLiGFontNa)));
    for (std::int32_t k = 0; k < kLineSlotCount; ++k)
        entries.push_back(stringVariable(indexed(kLiGGrupNaBase, k)));
    for (std::string_view name : {kLiPEnable, kLiPSymbol, kLiPFremd, kLiPFern, kLiSCharset, kLiSStatus})
        entries.push_back(integerArray(name, kLineMachineCount));
    entries.push_back(integerArray(kLiGStatus, kLineSlotCount));
    for (std::string_view base : {kLiPMaNameBase, kLiPCoNameBase, kLiSMessageBase, kLiSFontBase}) {
        for (std::int32_t m = 0; m < kLineMachineCount; ++m)
            entries.push_back(stringVariable(indexed(base, m)));
    }
    // Language identifiers reach beyond 16 bits in principle, so the language variable is a Long.
    entries.push_back({.name = std::string(kSprache),
                       .type = VariableType::Long,
                       .initialValue = Variant::longInt(0),
                       .ownedByPanel = !kOwned});
    return entries;
}

}  // namespace orvanta
