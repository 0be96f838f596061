#include "central/orvanta_central.h"

namespace orvanta {

OrvantaCentral::OrvantaCentral(const CentralComponents& components)
    : components_(components), log_(state_.log, components.clock, components.view, components.appPath) {}

void OrvantaCentral::show() {
    components_.view.show();
    components_.view.setFocus();
}

void OrvantaCentral::unload() { components_.view.unload(); }

}  // namespace orvanta
