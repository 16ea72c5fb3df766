#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrune {

// The window in front of the main window while files convert: what the current file is doing
// and how far the whole run is, each with a bar, and "Cancel", which only raises the flag.
class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProgressDialog(QWidget* owner);

    void SetFileLabel(const QString& text);
    void SetFileProgress(int value, int maximum);
    void SetOverallLabel(const QString& text);
    void SetOverallProgress(int value, int maximum);
    // The run's elapsed time and the estimate of what is left.
    void SetTimeLabel(const QString& text);
    QString TimeLabel() const;
    // The per-file bar's width in pixels: its range when it is driven by position.
    int FileBarWidth() const;

    bool CancelRequested() const { return cancelRequested_; }
    QPushButton* CancelButton() const { return cancel_; }
    QString FileLabel() const;
    QString OverallLabel() const;
    QProgressBar* FileBar() const { return fileBar_; }
    QProgressBar* OverallBar() const { return overallBar_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* fileLabel_;
    QProgressBar* fileBar_;
    QLabel* overallLabel_;
    QProgressBar* overallBar_;
    QLabel* timeLabel_;
    QPushButton* cancel_;
    bool cancelRequested_ = false;
};

}  // namespace kestrune
