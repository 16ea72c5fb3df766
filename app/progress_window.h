#pragma once

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace kestrune {

// The small window in front of the main window while files are searched and added: one line
// of text, a bar and "Cancel". Cancel only raises the flag; the owner closes the window.
class ProgressWindow : public QDialog {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* owner);

    void SetText(const QString& text);
    void SetRange(int maximum);
    void Step();
    int Position() const;
    QString Text() const;
    bool CancelRequested() const { return cancelRequested_; }
    void RequestCancel() { cancelRequested_ = true; }
    QPushButton* CancelButton() const { return cancel_; }

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Closing it from the title bar asks to stop, as Cancel does.
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* text_;
    QProgressBar* bar_;
    QPushButton* cancel_;
    bool cancelRequested_ = false;
    bool centred_ = false;
};

}  // namespace kestrune
