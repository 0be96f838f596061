// One integer array of the runtime (the machines' or the display groups'), read whole, changed element by
// element and written back whole, once per pass: the one form of that read-modify-write for both
// preparations, so that both check alike.
//
// Nothing is set or written when the variable could not be read as an array: writing back what a failed
// read left would wipe what the runtime holds. Elements set beyond a short array's end are one fault line
// when it is written, not one per element: a runtime configured short would otherwise fill the size-limited
// log on every pass and push out the history that explains a stoppage. Elements that are not set keep what
// was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "core/variant.h"
#include "ports/process_variables.h"
#include "service/handler_frame.h"

namespace orvanta {

class WholeArray {
public:
    // Reads the array as a step of frame; a variable that holds no array is a type mismatch there. name
    // must outlive this.
    WholeArray(HandlerFrame& frame, ProcessVariables& variables, std::string_view name);

    // Element index becomes value when it is written; an index beyond the array's end is only noted.
    void set(int index, std::int16_t value);
    // Writes the array back as a step of the frame, after the fault line for the elements that had no room.
    void write();
    // After write(): sent(index) for every element that was set and went out with the array.
    template <typename Sent>
    void forEachSent(Sent sent) const {
        for (std::size_t at = 0; at < stored_.size(); ++at)
            if (stored_[at]) sent(at);
    }

private:
    HandlerFrame& frame_;
    ProcessVariables& variables_;
    std::string_view name_;
    Variant::Array elements_;
    std::vector<bool> stored_;
    std::vector<int> missing_;
    bool read_ = false;
};

}  // namespace orvanta
