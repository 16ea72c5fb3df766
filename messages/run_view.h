#pragma once

#include <string>

namespace kestrune {

// What a front end shows of a run, as texts: the progress window's labels and bars, the file
// list's cells, a warning and the file manager. The defaults show nothing.
class RunView {
public:
    virtual ~RunView() = default;
    virtual void ShowProgress(bool visible) { (void)visible; }
    virtual void SetFileLabel(const std::string& text) { (void)text; }
    virtual void SetFileProgress(double fraction) { (void)fraction; }
    virtual void SetOverallLabel(const std::string& text) { (void)text; }
    virtual void SetOverallProgress(double fraction) { (void)fraction; }
    // A row's "Volume" cell; an item that begins has it emptied.
    virtual void SetItemVolume(int row, const std::string& text) { (void)row, (void)text; }
    // A row's "Output" cell: the pass it is in, then how it ended.
    virtual void SetItemOutput(int row, const std::string& text) { (void)row, (void)text; }
    // A row's "Output" cell while a pass runs, with its progress ("Converting... 42%").
    virtual void SetItemProgress(int row, const std::string& text) { (void)row, (void)text; }
    // A row's "Output" cell holds a failure with its detail: the column is to be wide enough.
    virtual void WidenOutputColumn() {}
    virtual void ShowWarning(const std::string& text) { (void)text; }
    virtual void ShowInFileManager(const std::string& path) { (void)path; }
};

}  // namespace kestrune
