// The live line for the web page, on the loop's thread. It follows the line display's picture, the line's
// alarm as each pass decided it, and the alarm episodes the history's recorder reports; after a change it
// makes one snapshot (one per turn of the loop, however many changes came in it) and hands its JSON to the
// server when it differs from the last one handed. The server never asks: the feed is the only way the
// logic's results reach it.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "adapters/embedded/embedded_line_display.h"
#include "adapters/web/web_snapshot.h"
#include "central/pass_outcome.h"
#include "core/event_loop.h"
#include "core/lifetime.h"
#include "history/history_sink.h"
#include "refdata/languages.h"

namespace orvanta::web {

class WebFeed : public HistoryObserver, public HistorySink {
public:
    static constexpr std::size_t kRecentEpisodes = 20;
    using Publish = std::function<void(std::string snapshotJson)>;

    // The display and the loop must outlive the feed. line: the line's name shown on the page.
    WebFeed(EventLoop& loop, EmbeddedLineDisplay& display, std::string line, Publish publish);
    ~WebFeed() override;
    WebFeed(const WebFeed&) = delete;
    WebFeed& operator=(const WebFeed&) = delete;

    // The plant's language table, for the alarm texts' fonts; it may come after the feed.
    void setLanguages(const LanguageTable* languages);

    void passCompleted(const PassOutcome& outcome, const LineRecords& line) noexcept override;
    void lineChanged(const LineRecords&) noexcept override {}
    void lineConnected(bool) noexcept override {}  // the picture has the connection
    void record(const history::Record& record) override;

    const Snapshot& snapshot() const { return snapshot_; }

private:
    void keep(const history::Record& record);  // an episode's records; the others say nothing to the page
    void schedule();
    void send();

    EventLoop& loop_;
    EmbeddedLineDisplay& display_;
    Publish publish_;
    const LanguageTable* languages_ = nullptr;
    Snapshot snapshot_;
    std::int64_t run_ = 0;  // of the episodes kept
    bool changed_ = false;  // the alarm or the episodes, since the last snapshot handed
    bool scheduled_ = false;
    int observerKey_ = 0;
    Lifetime lifetime_;  // last: posted work ends with the feed
};

}  // namespace orvanta::web
