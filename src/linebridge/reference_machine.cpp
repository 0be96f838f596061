#include "linebridge/reference_machine.h"

#include "ports/line_display.h"

namespace orvanta {

std::int16_t ReferenceMachine(const std::function<MachineRole(std::int16_t machine)>& roleOf) {
    for (std::int16_t machine = 0; machine < kLineMachineCount; ++machine) {
        const MachineRole role = roleOf(machine);
        if (role.enabled && !role.foreign && role.number == 1) return machine;
    }
    return 0;
}

}  // namespace orvanta
