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
    // The doctor being done, above the bar after the run's name and count ("Sending 3 of 12: Dr
    // Ann Smith"); the caption carries the count too, for the task bar.
    void setProgressText(const QString& text) override;
    void setRunName(const QString& name) override { m_run = name; }
    // The doctor as the run named him.
    QString progressText() const { return m_text; }
    QString shownText() const;

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
    // "Sending 3 of 12": the doctor in hand and how many the run has.
    QString count() const;
    // The caption and the text above the bar for where the run is.
    void refresh();

    QProgressBar* m_bar;
    QLabel* m_percent;
    QLabel* m_doctor;
    QString m_text;
    QString m_run;
    int m_position = 0;
    QPushButton* m_cancel;
    int m_low = 0;
    int m_high = 0;
};

} // namespace velmar
