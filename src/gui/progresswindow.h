#pragma once

#include "documents/batchprint.h"

#include <QDialog>

class QLabel;
class QProgressBar;
class QPushButton;

namespace velmar {

// The small window that shows how far a batch run has got.
class ProgressWindow : public QDialog, public ProgressDisplay
{
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* parent = nullptr);

    void SetProgressRange(int low, int high) override;
    // Moves the bar, writes the percentage and lets the windows repaint.
    void SetProgressPosition(int position) override;
    void showProgress() override;
    void hideProgress() override;
    // The doctor being done, above the bar.
    void setProgressText(const QString& text) override;
    QString progressText() const { return m_text; }

    QString percentText() const;
    // Runs that can stop after the doctor in hand have a Cancel button.
    void setCancellable(bool cancellable);

signals:
    // Cancel was pressed (or Escape): the run is to stop after the doctor in hand.
    void cancelRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QProgressBar* m_bar;
    QLabel* m_percent;
    QLabel* m_doctor;
    QString m_text;
    QPushButton* m_cancel;
    int m_low = 0;
    int m_high = 0;
};

} // namespace velmar
