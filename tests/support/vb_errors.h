#pragma once

#include "core/vb_error.h"

namespace orvanta::testing {

// The number of the VbError the call throws, 0 when it throws none.
template <typename Call>
int errorNumberOf(Call&& call) {
    try {
        call();
    } catch (const VbError& error) {
        return error.number();
    }
    return 0;
}

}  // namespace orvanta::testing
