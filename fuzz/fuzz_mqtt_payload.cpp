// A process variable's payload as any publisher on the broker may send it. What decodes must encode
// again (unless it holds a number no payload can carry) and decode to the same value, because the panel
// compares a value it wrote with the value the broker brings back.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "adapters/mqtt/mqtt_payload.h"
#include "core/vb_error.h"
#include "fuzz_support.h"

namespace {

[[noreturn]] void finding(const char* what) { orvanta::fuzz::finding("fuzz_mqtt_payload", what); }

bool finiteScalar(const orvanta::Variant& value) {
    return value.kind() != orvanta::Variant::Kind::Double || std::isfinite(orvanta::toDouble(value));
}

bool allFinite(const orvanta::Variant& value) {
    if (!value.isArray()) return finiteScalar(value);
    for (const orvanta::Variant& element : value.asArray())
        if (!finiteScalar(element)) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view payload(reinterpret_cast<const char*>(data), size);
    std::string problem;
    const std::optional<orvanta::Variant> value = orvanta::decodeVariablePayload(payload, problem);
    if (!value) {
        if (problem.empty()) finding("a refused payload without a reason");
        return 0;
    }
    std::string encoded;
    try {
        encoded = orvanta::encodeVariablePayload("Fuzz", *value);
    } catch (const orvanta::VbError& error) {
        if (allFinite(*value)) {
            std::fprintf(stderr, "%s\n", error.what());
            finding("a decoded value cannot be encoded");
        }
        return 0;
    }
    std::string again;
    const std::optional<orvanta::Variant> back = orvanta::decodeVariablePayload(encoded, again);
    if (!back) {
        std::fprintf(stderr, "%s: %s\n", encoded.c_str(), again.c_str());
        finding("an encoded value does not decode");
    }
    if (!(*back == *value)) {
        std::fprintf(stderr, "%s\n", encoded.c_str());
        finding("a value changed on its way through the broker");
    }
    return 0;
}
