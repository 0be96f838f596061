// The embedded line-display component: the panel's line-display control without any outside program.
// It answers the getters from a line description (the plant's Line.json, or one a line source sends),
// answers the foreign machines' language, status and message from the live values a line source sends,
// keeps what the panel hands each machine slot for the views that show the line picture, and raises the
// control's three events. Any number of views follow it: each observer is told of every change of the
// picture, and builds the picture when it needs it.
//
// Connection: the line is connected while the panel has set Active, a description is present and the
// source is online (no source counts as online). Becoming connected raises Connect(-1), NewLineParameter,
// NewLineData; losing it (Active false, source offline) raises Connect(0). A new description while
// connected raises NewLineParameter and NewLineData; new values while connected raise NewLineData.
//
// Events never run inside the call that caused them: they are posted to the loop, as a control's events
// arrive between the panel's handlers. Each carries what was true when it was posted, and they arrive in
// order, so the last one always tells the present state. A posted event goes to the listener subscribed
// when it is delivered, and to nobody once the listener has unsubscribed or the model is gone.
//
// Its own log (LogPath, LogSize, LogDataOn, LogSystemOn) is a file of its own, written and shortened like
// the program log. System lines ("S ") tell the connection: Active, the source going online or offline, a
// new line description, and the Connect and NewLineParameter events raised. Data lines ("D ") tell the
// values: new live values and the NewLineData events raised, and every PutMachineText, PutMachineLanguage,
// PutMachineStatus and DataUpdated of the panel. Nothing is written without a path and a size of at least
// 1 KiB; a line whose category is off costs one test, its text is never built.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/event_loop.h"
#include "linepicture/line_picture.h"
#include "ports/line_display.h"
#include "ports/line_source.h"

namespace orvanta {

class EmbeddedLineDisplay : public LineDisplay, public LineSourceListener {
public:
    // description: the plant's description, absent when it could not be read (the caller reports why).
    // source: starts now and stops with the model; it must outlive the model. clock: the times of the
    // model's log lines, the wall clock in the user's locale when none is given; it must outlive the model.
    EmbeddedLineDisplay(EventLoop& loop, std::optional<LineDescription> description,
                        LineSource* source = nullptr, const Clock* clock = nullptr);
    ~EmbeddedLineDisplay() override;
    EmbeddedLineDisplay(const EmbeddedLineDisplay&) = delete;
    EmbeddedLineDisplay& operator=(const EmbeddedLineDisplay&) = delete;

    // LineDisplay
    void subscribe(LineDisplayEvents& events) override;
    std::int32_t LanguageId() override;
    bool MachineEnabled(std::int16_t machine) override;
    std::string MachineName(std::int16_t machine) override;
    std::string MachineCoName(std::int16_t machine) override;
    std::int16_t MachineNumber(std::int16_t machine) override;
    bool MachineRemote(std::int16_t machine) override;
    bool MachineTextFlag(std::int16_t machine) override;
    std::int16_t MachineSymbol(std::int16_t machine) override;
    bool MachineForeign(std::int16_t machine) override;
    std::int16_t MachineGroup(std::int16_t machine) override;
    std::int16_t MachineGroupSlot(std::int16_t slot, std::int16_t machine) override;
    std::string GroupName(std::int16_t group) override;
    std::int32_t MachineLanguageId(std::int16_t machine) override;
    std::int16_t MachineStatus(std::int16_t machine) override;
    std::string MachineMessage(std::int16_t machine) override;
    void PutMachineText(std::int16_t machine, const std::string& text) override;
    void PutMachineLanguage(std::int16_t machine, double language) override;
    void PutMachineStatus(std::int16_t machine, std::int16_t status) override;
    void LogPath(const std::string& path) override;
    void LogSize(std::int32_t sizeKiB) override;
    void LogDataOn(bool on) override;
    void LogSystemOn(bool on) override;
    void Active(bool active) override;
    void DataUpdated(bool updated) override;

    // LineSourceListener
    void lineOnline(bool online) override;
    void lineDescription(const LineDescription& description) override;
    void lineValues(const LineValues& values) override;

    // The listener stops receiving events, also those already posted.
    void unsubscribe();

    // What the panel handed a slot; throws VbError 9 outside 0..63.
    const SlotDisplay& slotDisplay(int machine) const;
    const std::optional<LineDescription>& description() const { return description_; }
    bool connected() const { return connected_; }
    // The line picture as it stands; languages give the texts their fonts.
    LinePicture picture(const LanguageTable* languages = nullptr) const;

    // What changed of the picture. A slot handed a text, language or status is not a change of its own:
    // the panel says it is done with DataUpdated(true).
    enum class Change { DataUpdated, Description, Values, Connection };
    using Observer = std::function<void(Change)>;
    // Observers are called in the order they were added, synchronously. One added while the others are
    // told of a change hears of the next change; one removed meanwhile is not called again, also not
    // later in the same round, so that an observer may remove itself or another and be destroyed.
    // Returns the key that removes it.
    int addObserver(Observer observer);
    void removeObserver(int key);
    // How many observers are in place: a view that went away must not be left behind.
    std::size_t observerCount() const { return observers_.size(); }

    const std::string& logPath() const { return logPath_; }
    std::int32_t logSize() const { return logSizeKiB_; }
    bool logDataOn() const { return logDataOn_; }
    bool logSystemOn() const { return logSystemOn_; }
    bool active() const { return active_; }
    bool dataUpdated() const { return dataUpdated_; }
    std::int64_t dataUpdatedCount() const { return dataUpdatedCount_; }

private:
    // Shared with the posted events, so that they find out whether anyone is still there to hear them.
    struct Outbox {
        LineDisplayEvents* listener = nullptr;
    };

    enum class LogCategory { System, Data };

    const LineMachine& machine(std::int16_t index, const char* member) const;
    // Whether a line of category goes to the model's log; ask before building its text.
    bool logs(LogCategory category) const;
    void logLine(LogCategory category, const std::string& text) const;
    const LineDescription& line(const char* member) const;
    const MachineValues* liveValues(std::int16_t index) const;
    void updateConnection();
    // Posts the event named name (its text in the log) of category.
    void post(LogCategory category, const char* name, std::function<void(LineDisplayEvents&)> event);
    void notifyObservers(Change change);

    EventLoop& loop_;
    const Clock& clock_;
    std::optional<LineDescription> description_;
    LineSource* source_;
    std::shared_ptr<Outbox> outbox_ = std::make_shared<Outbox>();
    std::optional<LineValues> live_;
    LineDisplayState slots_{};
    struct ObserverEntry {
        int key;
        Observer call;
        bool removed = false;
    };
    // Shared with a round of notification, which keeps a removed entry alive until it is over.
    std::vector<std::shared_ptr<ObserverEntry>> observers_;
    int nextObserverKey_ = 1;
    bool sourceOnline_;
    bool connected_ = false;
    std::string logPath_;
    std::int32_t logSizeKiB_ = 0;
    bool logDataOn_ = false;
    bool logSystemOn_ = false;
    bool active_ = false;
    bool dataUpdated_ = false;
    std::int64_t dataUpdatedCount_ = 0;
};

}  // namespace orvanta
