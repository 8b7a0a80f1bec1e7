#include "gui/progresswindow.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

namespace velmar {

ProgressWindow::ProgressWindow(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("TfrmProgress"));
    setWindowTitle(QStringLiteral("Progress"));
    setFixedSize(373, 86);
    m_bar = new QProgressBar(this);
    m_bar->setObjectName(QStringLiteral("Bar"));
    m_bar->setGeometry(16, 24, 337, 16);
    m_bar->setTextVisible(false);
    m_percent = new QLabel(QStringLiteral("%"), this);
    m_percent->setObjectName(QStringLiteral("lblPercent"));
    m_percent->setGeometry(0, 56, 369, 16);
    m_percent->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("btnCancel"));
    m_cancel->setGeometry(149, 84, 75, 25);
    connect(m_cancel, &QPushButton::clicked, this, [this] {
        // It takes the message in flight to stop: say so rather than seem to ignore the click.
        m_cancel->setEnabled(false);
        m_cancel->setText(QStringLiteral("Stopping…"));
        emit cancelRequested();
    });
    setCancellable(false);
}

void ProgressWindow::setCancellable(bool cancellable)
{
    m_cancel->setVisible(cancellable);
    setFixedSize(373, cancellable ? 120 : 86);
}

void ProgressWindow::SetProgressRange(int low, int high)
{
    m_low = low;
    m_high = high;
    m_bar->setRange(low, high);
    m_bar->setValue(low);
}

void ProgressWindow::SetProgressPosition(int position)
{
    m_bar->setValue(position);
    m_percent->setText(ProgressPercentText(m_low, m_high, position));
    QCoreApplication::processEvents();
}

void ProgressWindow::showProgress()
{
    m_cancel->setEnabled(true);
    m_cancel->setText(QStringLiteral("Cancel"));
    show();
    raise();
}

void ProgressWindow::hideProgress()
{
    hide();
}

QString ProgressWindow::percentText() const
{
    return m_percent->text();
}

void ProgressWindow::closeEvent(QCloseEvent* event)
{
    // The run hides the window when it ends; the user cannot close it half way.
    event->ignore();
}

void ProgressWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        if (m_cancel->isVisible() && m_cancel->isEnabled())
            m_cancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

} // namespace velmar
