// The reference machine: the machine slot whose six display slots name the groups the line shows. The
// bridge hands those groups to the visualisation and the line picture draws them as its columns; both
// choose it here, so that the operator never sees other groups than the visualisation is told of.
#pragma once

#include <cstdint>
#include <functional>

namespace orvanta {

// What the choice needs to know of one machine slot.
struct MachineRole {
    bool enabled = false;
    bool foreign = false;
    std::int16_t number = 0;  // own machine 1..5 the slot stands for
};

// The lowest machine 0..63 that is enabled, not foreign and stands for own machine 1; machine 0 when
// there is none, whatever machine 0 is (a line without an own machine 1 still shows machine 0's groups).
std::int16_t ReferenceMachine(const std::function<MachineRole(std::int16_t machine)>& roleOf);

}  // namespace orvanta
