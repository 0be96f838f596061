#include "soak/broker_soak.h"

#include <iostream>

namespace orvanta::soak {

bool runBrokerSoak(int, double) {
    std::cout << "broker: not built yet" << std::endl;
    return false;
}

}  // namespace orvanta::soak
