#include "central/orvanta_central.h"

#include "components/variable_names.h"
#include "service/handler_frame.h"

namespace orvanta {
namespace {

constexpr std::int32_t kConnectedColour = 65280;     // green
constexpr std::int32_t kDisconnectedColour = 192;    // dark red

}  // namespace

OrvantaCentral::OrvantaCentral(const CentralComponents& components)
    : TimerDaten(components.loop, "TimerDaten", 1000, [this] { pass_.TimerDaten_Timer(); }),
      components_(components),
      log_(state_.log, components.clock, components.view, components.appPath),
      VisuText_([&databases = components.databases] { return std::make_unique<AccessTextDatabase>(databases); }),
      bridge_(state_.line, state_.jumps, languages_, components.variables, components.BrenkoLineOCX, log_),
      pass_(state_, alarms_, components.variables, components.BrenkoLineOCX, VisuText_, log_, TimerDaten) {
    components_.BrenkoLineOCX.subscribe(*this);
}

OrvantaCentral::~OrvantaCentral() = default;

void OrvantaCentral::show() {
    components_.view.show();
    components_.view.setFocus();
}

void OrvantaCentral::unload() { components_.view.unload(); }

void OrvantaCentral::BrenkoLineOCX_Connect(std::int16_t connected) {
    HandlerFrame frame(log_, "BrenkoLineOCX_Connect", Trace::Data);
    state_.line.LineConnected = connected;
    ProcessVariables& variables = components_.variables;
    if (connected == kTrue) {
        frame.step([&] { components_.view.setConnectionShapeFillColor(kConnectedColour); });
        frame.step([&] { TimerDaten.setEnabled(true); });
        frame.step([&] { variables.WriteVariable(vars::kLiClientOk, Variant::integer(1)); });
    } else {
        frame.step([&] { components_.view.setConnectionShapeFillColor(kDisconnectedColour); });
        frame.step([&] { TimerDaten.setEnabled(false); });
        frame.step([&] { variables.WriteVariable(vars::kLiClientOk, Variant::integer(0)); });
        frame.step([&] { bridge_.LinienParaAufbereiten("BrenkoLineOCX_Connect"); });
    }
}

void OrvantaCentral::BrenkoLineOCX_NewLineParameter() {
    HandlerFrame frame(log_, "BrenkoLineOCX_NewLineParameter", Trace::Data);
    frame.step([&] { bridge_.LinienParaAufbereiten("BrenkoLineOCX_NewLineParameter"); });
}

void OrvantaCentral::BrenkoLineOCX_NewLineData() {
    HandlerFrame frame(log_, "BrenkoLineOCX_NewLineData", Trace::Data);
    frame.step([&] { bridge_.LinienWerteAufbereiten("BrenkoLineOCX_NewLineData"); });
}

}  // namespace orvanta
