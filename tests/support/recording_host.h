#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "engine/conversion_host.h"

namespace kestrune::test {

// Records what the engine shows and answers as it is told; can press Cancel at the Nth pump.
class RecordingHost : public ConversionHost {
public:
    void ShowProgress(bool visible) override { events.push_back(visible ? "show" : "hide"); }
    void SetFileLabel(const std::string& text) override { fileLabels.push_back(text); }
    int FileBarWidth() override { return barWidth; }
    void SetFileProgress(int value, int maximum) override {
        fileBar = value;
        fileBarMax = maximum;
    }
    void SetOverallLabel(const std::string& text) override { overallLabels.push_back(text); }
    void SetOverallProgress(int value, int maximum) override {
        overall = value;
        overallMax = maximum;
    }
    void PumpMessages() override {
        ++pumps;
        if (cancelAtPump > 0 && pumps >= cancelAtPump)
            cancelled = true;
    }
    bool CancelRequested() override { return cancelled; }
    void SetItemVolume(int row, const std::string& text) override { volume[row] = text; }
    void SetItemOutput(int row, const std::string& text) override {
        output[row] = text;
        outputHistory[row].push_back(text);
    }
    void SetOutputColumnWidth(int width) override { outputWidth = std::max(outputWidth, width); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        return answer;
    }
    void ShowWarning(const std::string& text) override { warnings.push_back(text); }
    void ShowNotice(const std::string& text) override { notices.push_back(text); }
    void OpenInBrowser(const std::string& url) override { opened.push_back(url); }
    void SelectInExplorer(const std::string& path) override { selected.push_back(path); }
    void OpenFolder(const std::string& path) override { opened.push_back(path); }
    bool AskSavePath(const std::string& suggested, std::string& chosen) override {
        saveFilters.push_back(suggested);
        chosen = savePath;
        return !savePath.empty();
    }
    void EnableMainWindow(bool enabled) override {
        events.push_back(enabled ? "enable" : "disable");
    }
    std::string DocumentsFolder() override { return documents; }

    // Answers and switches.
    int cancelAtPump = 0;  // 0: never
    bool answer = false;
    int barWidth = 300;
    std::string savePath;
    std::string documents;

    // What was shown.
    bool cancelled = false;
    int pumps = 0;
    int fileBar = 0, fileBarMax = 0, overall = 0, overallMax = 0;
    int outputWidth = 0;
    std::vector<std::string> events, fileLabels, overallLabels, questions, warnings, notices,
        opened, selected, saveFilters;
    std::map<int, std::string> volume, output;
    std::map<int, std::vector<std::string>> outputHistory;
};

}  // namespace kestrune::test
