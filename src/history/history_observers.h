// Several observers of the main form's results as one: the history's recorder and the web page's feed.
#pragma once

#include <vector>

#include "central/pass_outcome.h"

namespace orvanta {

class HistoryObservers : public HistoryObserver {
public:
    void add(HistoryObserver& observer) { observers_.push_back(&observer); }
    bool empty() const { return observers_.empty(); }

    void passCompleted(const PassOutcome& outcome, const LineRecords& line) noexcept override {
        for (HistoryObserver* observer : observers_) observer->passCompleted(outcome, line);
    }
    void lineChanged(const LineRecords& line) noexcept override {
        for (HistoryObserver* observer : observers_) observer->lineChanged(line);
    }
    void lineConnected(bool connected) noexcept override {
        for (HistoryObserver* observer : observers_) observer->lineConnected(connected);
    }

private:
    std::vector<HistoryObserver*> observers_;
};

}  // namespace orvanta
