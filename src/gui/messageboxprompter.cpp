#include "gui/messageboxprompter.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace velmar {

namespace {
int showBox(QWidget* parent, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, applicationTitle(), text, buttons, parent);
    box.setDefaultButton(defaultButton);
    box.setTextFormat(Qt::PlainText); // texts from files and the database are never markup
    // A wait cursor shown for the work in hand is not for the question about it.
    const bool waiting = QGuiApplication::overrideCursor() != nullptr;
    if (waiting)
        QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const int answer = box.exec();
    if (waiting)
        QGuiApplication::restoreOverrideCursor();
    return answer;
}
} // namespace

void MessageBoxPrompter::information(const QString& text)
{
    showBox(m_parent, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

void MessageBoxPrompter::error(const QString& text)
{
    showBox(m_parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool MessageBoxPrompter::question(const QString& text)
{
    return showBox(m_parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) ==
           QMessageBox::Yes;
}

void MessageBoxPrompter::summary(const QString& text, const QString& details, bool problems)
{
    QMessageBox box(problems ? QMessageBox::Warning : QMessageBox::Information, applicationTitle(), text,
                    QMessageBox::Ok, m_parent);
    box.setTextFormat(Qt::PlainText);
    box.setDetailedText(details);
    box.exec();
}

} // namespace velmar
