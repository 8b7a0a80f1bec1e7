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

    QString percentText() const;
    // Sending runs have a Cancel button; a run of printing goes to its end.
    void setCancellable(bool cancellable);

signals:
    // Cancel was pressed (or Escape): the run is to stop after the message in flight.
    void cancelRequested();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QProgressBar* m_bar;
    QLabel* m_percent;
    QPushButton* m_cancel;
    int m_low = 0;
    int m_high = 0;
};

} // namespace velmar
