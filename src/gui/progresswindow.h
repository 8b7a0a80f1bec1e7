#pragma once

#include "documents/batchprint.h"

#include <QDialog>

class QLabel;
class QProgressBar;

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

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QProgressBar* m_bar;
    QLabel* m_percent;
    int m_low = 0;
    int m_high = 0;
};

} // namespace velmar
