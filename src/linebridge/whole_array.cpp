#include "linebridge/whole_array.h"

#include <string>
#include <utility>

#include "core/vb_error.h"

namespace orvanta {
namespace {

constexpr const char* kSource = "Orvanta";

// "3..5, 8, 10..11": a run of neighbours as its ends, so that the 54 machines beyond a short array's end
// are one short range and not a line of numbers.
std::string indexRuns(const std::vector<int>& indexes) {
    std::vector<std::pair<int, int>> runs;
    for (int index : indexes) {
        if (!runs.empty() && index == runs.back().second + 1)
            runs.back().second = index;
        else
            runs.emplace_back(index, index);
    }
    std::string text;
    for (const auto& [first, last] : runs) {
        if (!text.empty()) text += ", ";
        text += std::to_string(first);
        if (last != first) text += ".." + std::to_string(last);
    }
    return text;
}

}  // namespace

WholeArray::WholeArray(HandlerFrame& frame, ProcessVariables& variables, std::string_view name)
    : frame_(frame), variables_(variables), name_(name) {
    read_ = frame_.step([&] {
        Variant value = variables_.ReadVariable(name_);
        if (!value.isArray())
            throw VbError(
                kTypeMismatch,
                "Process variable '" + std::string(name_) + "' holds " + value.kindName() + ", not an array",
                kSource);
        elements_ = std::move(value.asArray());
        stored_.resize(elements_.size());
    });
}

void WholeArray::set(int index, std::int16_t value) {
    const auto at = static_cast<std::size_t>(index);  // a negative index is beyond the end too
    if (at < elements_.size()) {
        elements_[at] = Variant::integer(value);
        stored_[at] = true;
    } else {
        missing_.push_back(index);
    }
}

void WholeArray::write() {
    if (!read_) return;
    if (!missing_.empty())
        frame_.fault(VbError(kSubscriptOutOfRange,
                             "Process variable '" + std::string(name_) + "' holds " +
                                 std::to_string(elements_.size()) + " elements, elements " +
                                 indexRuns(missing_) + " not stored",
                             kSource));
    if (!frame_.step([&] { variables_.WriteVariable(name_, Variant::array(std::move(elements_))); }))
        stored_.clear();
}

}  // namespace orvanta
