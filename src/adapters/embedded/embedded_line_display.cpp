#include "adapters/embedded/embedded_line_display.h"

#include <algorithm>
#include <utility>

#include "core/variant.h"
#include "core/vb_error.h"
#include "service/program_log.h"

namespace orvanta {
namespace {

// The name fault lines of the log have always given this component.
const char* const kSource = "LineModel";

void checkIndex(std::int32_t index, std::int32_t count, std::int32_t first, const char* member,
                const char* what) {
    if (index < first || index >= first + count)
        throw VbError(kSubscriptOutOfRange,
                      std::string(member) + ": " + what + " " + std::to_string(index) + " is outside " +
                          std::to_string(first) + ".." + std::to_string(first + count - 1),
                      kSource);
}

const Clock& wallClock() {
    static const SystemClock clock;
    return clock;
}

const char* trueFalse(bool value) { return value ? "True" : "False"; }

}  // namespace

EmbeddedLineDisplay::EmbeddedLineDisplay(EventLoop& loop, std::optional<LineDescription> description,
                                         LineSource* source, const Clock* clock)
    : loop_(loop),
      clock_(clock != nullptr ? *clock : wallClock()),
      description_(std::move(description)),
      source_(source),
      sourceOnline_(source == nullptr) {
    // Last, with every member in place: a source may answer from within start().
    if (source_ != nullptr) source_->start(*this);
}

EmbeddedLineDisplay::~EmbeddedLineDisplay() {
    if (source_ != nullptr) source_->stop();
    outbox_->listener = nullptr;
}

void EmbeddedLineDisplay::subscribe(LineDisplayEvents& events) { outbox_->listener = &events; }

void EmbeddedLineDisplay::unsubscribe() { outbox_->listener = nullptr; }

const LineDescription& EmbeddedLineDisplay::line(const char* member) const {
    if (!description_)
        throw VbError(kAutomationError,
                      std::string(member) + ": the line is not connected, there is no line description",
                      kSource);
    return *description_;
}

const LineMachine& EmbeddedLineDisplay::machine(std::int16_t index, const char* member) const {
    checkIndex(index, kLineMachineCount, 0, member, "machine");
    return line(member).machines[static_cast<std::size_t>(index)];
}

// The source's values stand for a foreign machine once it has sent any; until then the description's.
const MachineValues* EmbeddedLineDisplay::liveValues(std::int16_t machine) const {
    if (!live_ || !description_ || !description_->machines[static_cast<std::size_t>(machine)].foreign)
        return nullptr;
    return &(*live_)[static_cast<std::size_t>(machine)];
}

std::int32_t EmbeddedLineDisplay::LanguageId() { return line("LanguageId").languageId; }
bool EmbeddedLineDisplay::MachineEnabled(std::int16_t m) { return machine(m, "MachineEnabled").enabled; }
std::string EmbeddedLineDisplay::MachineName(std::int16_t m) { return machine(m, "MachineName").name; }
std::string EmbeddedLineDisplay::MachineCoName(std::int16_t m) { return machine(m, "MachineCoName").coName; }
std::int16_t EmbeddedLineDisplay::MachineNumber(std::int16_t m) { return machine(m, "MachineNumber").number; }
bool EmbeddedLineDisplay::MachineRemote(std::int16_t m) { return machine(m, "MachineRemote").remote; }
bool EmbeddedLineDisplay::MachineTextFlag(std::int16_t m) { return machine(m, "MachineTextFlag").textFlag; }
std::int16_t EmbeddedLineDisplay::MachineSymbol(std::int16_t m) { return machine(m, "MachineSymbol").symbol; }
bool EmbeddedLineDisplay::MachineForeign(std::int16_t m) { return machine(m, "MachineForeign").foreign; }
std::int16_t EmbeddedLineDisplay::MachineGroup(std::int16_t m) { return machine(m, "MachineGroup").group; }

std::int16_t EmbeddedLineDisplay::MachineGroupSlot(std::int16_t slot, std::int16_t m) {
    checkIndex(slot, kLineSlotCount, 1, "MachineGroupSlot", "slot");
    return machine(m, "MachineGroupSlot").groupSlots[static_cast<std::size_t>(slot - 1)];
}

std::string EmbeddedLineDisplay::GroupName(std::int16_t group) {
    checkIndex(group, kLineGroupCount, 0, "GroupName", "group");
    return line("GroupName").groups[static_cast<std::size_t>(group)];
}

std::int32_t EmbeddedLineDisplay::MachineLanguageId(std::int16_t m) {
    const LineMachine& described = machine(m, "MachineLanguageId");
    const MachineValues* live = liveValues(m);
    return live != nullptr ? live->languageId : described.languageId;
}

std::int16_t EmbeddedLineDisplay::MachineStatus(std::int16_t m) {
    const LineMachine& described = machine(m, "MachineStatus");
    const MachineValues* live = liveValues(m);
    return live != nullptr ? live->status : described.status;
}

std::string EmbeddedLineDisplay::MachineMessage(std::int16_t m) {
    const LineMachine& described = machine(m, "MachineMessage");
    const MachineValues* live = liveValues(m);
    return live != nullptr ? live->message : described.message;
}

void EmbeddedLineDisplay::PutMachineText(std::int16_t m, const std::string& text) {
    if (logs(LogCategory::Data))
        logLine(LogCategory::Data, "PutMachineText(" + std::to_string(m) + ", \"" + text + "\")");
    checkIndex(m, kLineMachineCount, 0, "PutMachineText", "machine");
    slots_[static_cast<std::size_t>(m)].text = text;
}

void EmbeddedLineDisplay::PutMachineLanguage(std::int16_t m, double language) {
    if (logs(LogCategory::Data))
        logLine(LogCategory::Data,
                "PutMachineLanguage(" + std::to_string(m) + ", " + numberText(language) + ")");
    checkIndex(m, kLineMachineCount, 0, "PutMachineLanguage", "machine");
    slots_[static_cast<std::size_t>(m)].language = language;
}

void EmbeddedLineDisplay::PutMachineStatus(std::int16_t m, std::int16_t status) {
    if (logs(LogCategory::Data))
        logLine(LogCategory::Data,
                "PutMachineStatus(" + std::to_string(m) + ", " + std::to_string(status) + ")");
    checkIndex(m, kLineMachineCount, 0, "PutMachineStatus", "machine");
    slots_[static_cast<std::size_t>(m)].status = status;
}

const SlotDisplay& EmbeddedLineDisplay::slotDisplay(int m) const {
    checkIndex(m, kLineMachineCount, 0, "slotDisplay", "machine");
    return slots_[static_cast<std::size_t>(m)];
}

void EmbeddedLineDisplay::LogPath(const std::string& path) { logPath_ = path; }
void EmbeddedLineDisplay::LogSize(std::int32_t sizeKiB) { logSizeKiB_ = sizeKiB; }
void EmbeddedLineDisplay::LogDataOn(bool on) { logDataOn_ = on; }
void EmbeddedLineDisplay::LogSystemOn(bool on) { logSystemOn_ = on; }

void EmbeddedLineDisplay::Active(bool active) {
    if (logs(LogCategory::System))
        logLine(LogCategory::System, std::string("Active(") + trueFalse(active) + ")");
    active_ = active;
    updateConnection();
}

void EmbeddedLineDisplay::DataUpdated(bool updated) {
    if (logs(LogCategory::Data))
        logLine(LogCategory::Data, std::string("DataUpdated(") + trueFalse(updated) + ")");
    dataUpdated_ = updated;
    if (!updated) return;
    ++dataUpdatedCount_;
    notifyObservers(Change::DataUpdated);
}

void EmbeddedLineDisplay::lineOnline(bool online) {
    if (logs(LogCategory::System)) logLine(LogCategory::System, online ? "Source online" : "Source offline");
    sourceOnline_ = online;
    updateConnection();
}

void EmbeddedLineDisplay::lineDescription(const LineDescription& description) {
    if (logs(LogCategory::System)) logLine(LogCategory::System, "Source sends a line description");
    const bool wasConnected = connected_;
    description_ = description;
    updateConnection();  // connecting now raises both events anyway
    if (wasConnected) {
        post(LogCategory::System, "NewLineParameter",
             [](LineDisplayEvents& events) { events.NewLineParameter(); });
        post(LogCategory::Data, "NewLineData", [](LineDisplayEvents& events) { events.NewLineData(); });
    }
    notifyObservers(Change::Description);
}

void EmbeddedLineDisplay::lineValues(const LineValues& values) {
    if (logs(LogCategory::Data)) logLine(LogCategory::Data, "Source sends line values");
    live_ = values;
    if (connected_)
        post(LogCategory::Data, "NewLineData", [](LineDisplayEvents& events) { events.NewLineData(); });
    notifyObservers(Change::Values);
}

void EmbeddedLineDisplay::updateConnection() {
    const bool wanted = active_ && description_.has_value() && sourceOnline_;
    if (wanted == connected_) return;
    connected_ = wanted;
    if (wanted) {
        post(LogCategory::System, "Connect(True)", [](LineDisplayEvents& events) { events.Connect(kTrue); });
        post(LogCategory::System, "NewLineParameter",
             [](LineDisplayEvents& events) { events.NewLineParameter(); });
        post(LogCategory::Data, "NewLineData", [](LineDisplayEvents& events) { events.NewLineData(); });
    } else {
        post(LogCategory::System, "Connect(False)",
             [](LineDisplayEvents& events) { events.Connect(kFalse); });
    }
    notifyObservers(Change::Connection);
}

void EmbeddedLineDisplay::post(LogCategory category, const char* name,
                               std::function<void(LineDisplayEvents&)> event) {
    if (logs(category)) logLine(category, std::string("Raises ") + name);
    loop_.post([outbox = outbox_, event = std::move(event)] {
        if (outbox->listener != nullptr) event(*outbox->listener);
    });
}

bool EmbeddedLineDisplay::logs(LogCategory category) const {
    return (category == LogCategory::System ? logSystemOn_ : logDataOn_) && logSizeKiB_ >= 1;
}

void EmbeddedLineDisplay::logLine(LogCategory category, const std::string& text) const {
    appendToLimitedLog(logPath_, logSizeKiB_,
                       (category == LogCategory::System ? "S " : "D ") + clock_.logStamp() + text, clock_);
}

LinePicture EmbeddedLineDisplay::picture(const LanguageTable* languages) const {
    return linePicture(
        {description_ ? &*description_ : nullptr, live_ ? &*live_ : nullptr, &slots_, connected_}, languages);
}

int EmbeddedLineDisplay::addObserver(Observer observer) {
    const int key = nextObserverKey_++;
    observers_.push_back(std::make_shared<ObserverEntry>(ObserverEntry{key, std::move(observer)}));
    return key;
}

void EmbeddedLineDisplay::removeObserver(int key) {
    const auto found = std::find_if(observers_.begin(), observers_.end(),
                                    [key](const auto& entry) { return entry->key == key; });
    if (found == observers_.end()) return;
    (*found)->removed = true;
    observers_.erase(found);
}

void EmbeddedLineDisplay::notifyObservers(Change change) {
    // This round's observers: the list itself may change under the calls.
    const auto round = observers_;
    for (const auto& entry : round) {
        if (!entry->removed) entry->call(change);
    }
}

}  // namespace orvanta
