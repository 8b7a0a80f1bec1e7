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
    m_doctor = new QLabel(this);
    m_doctor->setObjectName(QStringLiteral("lblDoctor"));
    m_doctor->setGeometry(16, 4, 337, 16);
    m_doctor->setTextFormat(Qt::PlainText);
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
        // The doctor in hand is finished first: say so rather than seem to ignore the click.
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
    m_position = low;
    m_bar->setRange(low, high);
    m_bar->setValue(low);
}

QString ProgressWindow::count() const
{
    // Before each doctor the position counts those done; at the end, all of them.
    const int doctors = m_high - m_low;
    const int current = qMin(m_position - m_low + 1, doctors);
    return QStringLiteral("%1 %2 of %3").arg(m_run).arg(current).arg(doctors);
}

void ProgressWindow::SetProgressPosition(int position)
{
    m_position = position;
    m_bar->setValue(position);
    m_percent->setText(ProgressPercentText(m_low, m_high, position));
    refresh();
    QCoreApplication::processEvents();
}

QString ProgressWindow::shownText() const
{
    return m_text.isEmpty() || m_run.isEmpty() ? m_text : count() + QStringLiteral(": ") + m_text;
}

void ProgressWindow::setProgressText(const QString& text)
{
    m_text = text;
    refresh();
}

void ProgressWindow::refresh()
{
    if (!m_run.isEmpty())
        setWindowTitle(QStringLiteral("Progress \u2013 ") + count());
    // A long name is cut rather than widening the window.
    m_doctor->setText(m_doctor->fontMetrics().elidedText(shownText(), Qt::ElideRight, m_doctor->width()));
}

void ProgressWindow::showProgress()
{
    setWindowTitle(QStringLiteral("Progress"));
    setProgressText(QString());
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
