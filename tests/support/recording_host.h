#pragma once

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/run_observer.h"
#include "messages/prompts.h"
#include "messages/run_presenter.h"
#include "messages/run_view.h"

namespace kestrune::test {

// Records what a run shows and answers questions as it is told.
class RecordingHost : public RunView, public Prompts {
public:
    void ShowProgress(bool visible) override { events.push_back(visible ? "show" : "hide"); }
    void SetFileLabel(const std::string& text) override { fileLabels.push_back(text); }
    void SetFileProgress(double fraction) override { fileFraction = fraction; }
    void SetOverallLabel(const std::string& text) override { overallLabels.push_back(text); }
    void SetOverallProgress(double fraction) override { overallFraction = fraction; }
    void SetItemVolume(int row, const std::string& text) override { volume[row] = text; }
    void SetItemOutput(int row, const std::string& text) override {
        output[row] = text;
        outputHistory[row].push_back(text);
    }
    void WidenOutputColumn() override { widened = true; }
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    void ShowInFileManager(const std::string& path) override { selected.push_back(path); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    void OpenInBrowser(const std::string& url) override { opened.push_back(url); }
    void OpenFolder(const std::string& path) override { opened.push_back(path); }

    // Answers and switches.
    bool answer = false;
    int cancelAtPoll = 0;  // cancels at the Nth question whether to: 0 never

    // What was shown.
    bool cancelled = false;
    int polls = 0;
    double fileFraction = 0, overallFraction = 0;
    bool widened = false;
    std::vector<std::string> events, fileLabels, overallLabels, questions, warnings, opened,
        selected;
    std::map<int, std::string> volume, output;
    std::map<int, std::vector<std::string>> outputHistory;
};

// A front end's side of a run, as the window and kestrune-cli have it: the presenter shows
// the events on the host; Cancel is pressed at the host's cancelAtPoll-th question.
class RecordingRun : public RunObserver {
public:
    explicit RecordingRun(RecordingHost& host) : host_(host) {}

    // The run's items (each with its row and name) and what the overall label converts to.
    void Present(std::vector<RunPresenter::Item> items, const std::string& target) {
        presenter_ = std::make_unique<RunPresenter>(host_, std::move(items), target);
    }

    void RunStarted(int itemCount) override {
        if (presenter_)
            presenter_->RunStarted(itemCount);
    }
    void ItemStarted(int item, Pass pass) override {
        if (presenter_)
            presenter_->ItemStarted(item, pass);
    }
    void Progress(int item, Pass pass, double itemFraction, double runFraction) override {
        if (presenter_)
            presenter_->Progress(item, pass, itemFraction, runFraction);
    }
    void ItemWaitsForAlbum(int item) override {
        if (presenter_)
            presenter_->ItemWaitsForAlbum(item);
    }
    void ItemEnded(int item, const ItemOutcome& outcome) override {
        outcomes[item] = outcome;
        if (presenter_)
            presenter_->ItemEnded(item, outcome);
    }
    void RunEnded(const RunSummary& summary) override {
        ended.push_back(summary);
        if (presenter_)
            presenter_->RunEnded(summary);
    }
    bool CancelRequested() override {
        ++host_.polls;
        if (host_.cancelAtPoll > 0 && host_.polls >= host_.cancelAtPoll)
            host_.cancelled = true;
        return host_.cancelled;
    }

    std::map<int, ItemOutcome> outcomes;
    std::vector<RunSummary> ended;

private:
    RecordingHost& host_;
    std::unique_ptr<RunPresenter> presenter_;
};

}  // namespace kestrune::test
