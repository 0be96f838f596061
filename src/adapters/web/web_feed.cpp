#include "adapters/web/web_feed.h"

#include <algorithm>
#include <type_traits>
#include <utility>
#include <variant>

namespace orvanta::web {

WebFeed::WebFeed(EventLoop& loop, EmbeddedLineDisplay& display, std::string line, Publish publish)
    : loop_(loop), display_(display), publish_(std::move(publish)) {
    snapshot_.line = std::move(line);
    snapshot_.picture = display_.picture();
    observerKey_ = display_.addObserver([this](EmbeddedLineDisplay::Change) { schedule(); });
    changed_ = true;
    schedule();
}

WebFeed::~WebFeed() { display_.removeObserver(observerKey_); }

void WebFeed::setLanguages(const LanguageTable* languages) {
    languages_ = languages;
    schedule();
}

void WebFeed::passCompleted(const PassOutcome& outcome, const LineRecords&) noexcept {
    const PassOutcome::Choice& choice = outcome.lineAlarm;
    LineAlarmView alarm;
    if (choice.alarm != nullptr) {
        alarm.state = outcome.lineEchoed ? Handshake::Echoed : Handshake::Published;
        alarm.machine = choice.machine;
        alarm.table = choice.table;
        alarm.fault = choice.alarm->Fault;
        alarm.ident = choice.alarm->Ident;
        alarm.priority = choice.alarm->Priority;
        // A fault is the alarm its machine's slot shows; a message that only leads the line has no slot.
        const bool shown = choice.table == 1 && choice.machine >= 1 && choice.machine <= kAlarmMachines;
        try {
            alarm.text = shown ? outcome.shownText[static_cast<std::size_t>(choice.machine)] : std::string();
            if (alarm.text.empty()) alarm.text = choice.alarm->AlarmText;
        } catch (...) {
            // Out of memory for a text: the page shows the alarm without it.
        }
    }
    if (alarm == snapshot_.lineAlarm) return;
    snapshot_.lineAlarm = std::move(alarm);
    changed_ = true;
    schedule();
}

void WebFeed::record(const history::Record& record) {
    try {
        keep(record);
    } catch (...) {
        // Out of memory for an episode: the page misses it, the history does not.
    }
    if (changed_) schedule();
}

void WebFeed::keep(const history::Record& record) {
    auto& episodes = snapshot_.episodes;
    const auto find = [&](std::int64_t run, std::int64_t seq) -> EpisodeView* {
        if (run != run_) return nullptr;
        const auto found = std::find_if(episodes.begin(), episodes.end(),
                                        [seq](const EpisodeView& e) { return e.seq == seq; });
        return found == episodes.end() ? nullptr : &*found;
    };
    std::visit(
        [&](const auto& r) {
            using R = std::decay_t<decltype(r)>;
            if constexpr (std::is_same_v<R, history::EpisodeRaised>) {
                if (r.run != run_) episodes.clear();
                run_ = r.run;
                EpisodeView episode;
                episode.seq = r.seq;
                episode.machine = r.machine;
                episode.table = r.table;
                episode.fault = r.fault;
                episode.text = r.text.empty() ? r.textKey : r.text;
                episode.raised = r.at;
                episodes.push_front(std::move(episode));
                if (episodes.size() > kRecentEpisodes) episodes.pop_back();
                changed_ = true;
            } else if constexpr (std::is_same_v<R, history::EpisodePublished> ||
                                 std::is_same_v<R, history::EpisodeEchoed> ||
                                 std::is_same_v<R, history::EpisodeCleared>) {
                EpisodeView* episode = find(r.run, r.seq);
                if (episode == nullptr) return;  // older than the ones kept
                if constexpr (std::is_same_v<R, history::EpisodePublished>) episode->published = r.at;
                if constexpr (std::is_same_v<R, history::EpisodeEchoed>) episode->echoed = r.at;
                if constexpr (std::is_same_v<R, history::EpisodeCleared>) episode->cleared = r.at;
                changed_ = true;
            }
        },
        record);
}

// Changes come in bursts (a pass hands every slot its text, then says it is done): one snapshot after
// the burst, on the next turn of the loop.
void WebFeed::schedule() {
    if (scheduled_) return;
    scheduled_ = true;
    loop_.post(lifetime_.guard([this] {
        scheduled_ = false;
        send();
    }));
}

void WebFeed::send() {
    LinePicture picture = display_.picture(languages_);
    if (!changed_ && picture == snapshot_.picture) return;
    snapshot_.picture = std::move(picture);
    changed_ = false;
    ++snapshot_.seq;
    publish_(snapshotJson(snapshot_));
}

}  // namespace orvanta::web
