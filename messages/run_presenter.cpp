#include "messages/run_presenter.h"

#include <algorithm>
#include <cmath>

#include "messages/item_texts.h"

namespace kestrune {

RunPresenter::RunPresenter(RunView& view, std::vector<Item> items, std::string target)
    : view_(view), items_(std::move(items)), target_(std::move(target)), states_(items_.size()) {}

void RunPresenter::RunStarted(int) {
    view_.ShowProgress(true);
    view_.SetOverallProgress(0);
}

void RunPresenter::Begin(int item) {
    State& s = states_[static_cast<size_t>(item)];
    if (s.begun)
        return;
    s.begun = true;
    view_.SetItemVolume(items_[static_cast<size_t>(item)].row, {});
    view_.SetOverallLabel(OverallText(item + 1, static_cast<int>(items_.size()), target_));
    view_.SetFileLabel(StartingText(items_[static_cast<size_t>(item)].name));
    view_.SetFileProgress(0);
    focus_ = item;
}

void RunPresenter::ItemStarted(int item, Pass pass) {
    if (!Known(item))
        return;
    Begin(item);
    State& s = states_[static_cast<size_t>(item)];
    s.running = true;
    s.pass = pass;
    s.fraction = 0;
    s.labelPercent = -1;
    s.rowPercent = -1;
    view_.SetItemOutput(items_[static_cast<size_t>(item)].row, PassText(pass));
    Focus(item);
}

void RunPresenter::Focus(int item) {
    if (focus_ == item)
        return;
    focus_ = item;
    ShowFile(item);
}

void RunPresenter::ShowFile(int item) {
    if (!Known(item))
        return;
    State& s = states_[static_cast<size_t>(item)];
    if (s.labelPercent < 0)
        return;  // its pass has not reported yet: the label stays as it is
    view_.SetFileLabel(
        PassLabelText(s.pass, s.labelPercent, items_[static_cast<size_t>(item)].name));
    view_.SetFileProgress(s.fraction);
}

void RunPresenter::ShowOverall(double fraction) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction == overall_)
        return;
    overall_ = fraction;
    view_.SetOverallProgress(fraction);
}

void RunPresenter::Progress(int item, Pass pass, double itemFraction, double runFraction) {
    ShowOverall(
        std::max(runFraction, static_cast<double>(ended_) / std::max<size_t>(items_.size(), 1)));
    if (!Known(item))
        return;
    State& s = states_[static_cast<size_t>(item)];
    // A late report of a pass that is over, or of an item that ended, changes nothing.
    if (!s.running || s.pass != pass)
        return;
    s.fraction = itemFraction;
    const int percent = static_cast<int>(std::floor(itemFraction * 100.0 + 1e-9));
    if (percent != s.rowPercent) {
        s.rowPercent = percent;
        view_.SetItemProgress(items_[static_cast<size_t>(item)].row,
                              PassProgressText(pass, percent));
    }
    if (item != focus_)
        return;
    if (percent > s.labelPercent) {
        s.labelPercent = percent;
        view_.SetFileLabel(PassLabelText(pass, percent, items_[static_cast<size_t>(item)].name));
    }
    view_.SetFileProgress(itemFraction);
}

void RunPresenter::ItemEnded(int item, const ItemOutcome& outcome) {
    ++ended_;
    ShowOverall(
        std::max(overall_, static_cast<double>(ended_) / std::max<size_t>(items_.size(), 1)));
    if (!Known(item))
        return;
    const bool missingFont = outcome.end == ItemEnd::kFailed &&
                             outcome.failure.reason == FailureReason::kSoundFontMissing;
    // An item that fails for the sound font never begins: its cells and the labels are
    // left as they were but for its status.
    if (!missingFont)
        Begin(item);
    State& s = states_[static_cast<size_t>(item)];
    s.running = false;
    const int row = items_[static_cast<size_t>(item)].row;
    s.converted = outcome.end == ItemEnd::kConverted;
    if (outcome.end == ItemEnd::kConverted)
        view_.SetItemVolume(row, VolumeText(outcome.gain));
    if (WidensOutputColumn(outcome))
        view_.WidenOutputColumn();
    view_.SetItemOutput(row, OutputText(outcome));
    FocusElsewhere(item);
}

void RunPresenter::ItemWaitsForAlbum(int item) {
    if (!Known(item))
        return;
    states_[static_cast<size_t>(item)].running = false;
    view_.SetItemOutput(items_[static_cast<size_t>(item)].row, WaitingForAlbumText());
    FocusElsewhere(item);
}

void RunPresenter::FocusElsewhere(int item) {
    if (focus_ != item)
        return;
    // The labels go on with another item that is still running, the first in the list.
    for (size_t i = 0; i < states_.size(); ++i) {
        if (states_[i].running) {
            Focus(static_cast<int>(i));
            return;
        }
    }
}

void RunPresenter::RunEnded(const RunSummary& summary) {
    view_.ShowProgress(false);
    // A join that could not be written to its end left no file: its files failed after all.
    if (summary.merge == RunSummary::Merge::kWriteFailed) {
        ItemOutcome failed;
        failed.end = ItemEnd::kFailed;
        failed.failure = {FailureReason::kWriteFailed, {}};
        for (size_t i = 0; i < items_.size(); ++i) {
            if (!states_[i].converted)
                continue;
            states_[i].converted = false;
            view_.SetItemVolume(items_[i].row, {});
            view_.WidenOutputColumn();
            view_.SetItemOutput(items_[i].row, OutputText(failed));
        }
    }
    if (const std::string warning = MergeFailureText(summary); !warning.empty())
        view_.ShowWarning(warning);
    if (!summary.outputToShow.empty())
        view_.ShowInFileManager(summary.outputToShow);
}

}  // namespace kestrune
