#include "gui/messageboxprompter.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace velmar {

QWidget* AskingWindow(QWidget* fallback)
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    QWidget* active = QApplication::activeWindow();
    return active && active->isVisible() ? active : fallback;
}

namespace {
int showBox(QWidget* fallback, QMessageBox::Icon icon, const QString& text, QMessageBox::StandardButtons buttons,
            QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, applicationTitle(), text, buttons, AskingWindow(fallback));
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
    return showBox(m_parent, QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
           QMessageBox::Yes;
}

void MessageBoxPrompter::summary(const QString& text, const QString& details, bool problems)
{
    // A message box of its own: a message box keeps one size, and a long run's details need room.
    QDialog box(AskingWindow(m_parent));
    box.setObjectName(QStringLiteral("RunSummary"));
    box.setWindowTitle(applicationTitle());
    box.setSizeGripEnabled(true);
    auto* icon = new QLabel(&box);
    const int size = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    icon->setPixmap(
        box.style()
            ->standardIcon(problems ? QStyle::SP_MessageBoxWarning : QStyle::SP_MessageBoxInformation, nullptr, &box)
            .pixmap(size, size));
    auto* label = new QLabel(text, &box);
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* list = new QPlainTextEdit(details, &box);
    list->setObjectName(QStringLiteral("SummaryDetails"));
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    list->setVisible(false);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &box);
    buttons->button(QDialogButtonBox::Ok)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    if (!details.isEmpty()) {
        QPushButton* more = buttons->addButton(QStringLiteral("Show &Details..."), QDialogButtonBox::ActionRole);
        more->setObjectName(QStringLiteral("ShowDetails"));
        more->setAutoDefault(false);
        QObject::connect(more, &QPushButton::clicked, &box, [&box, list, more] {
            list->setVisible(!list->isVisible());
            more->setText(list->isVisible() ? QStringLiteral("Hide &Details...") : QStringLiteral("Show &Details..."));
            box.adjustSize();
        });
    }
    auto* top = new QHBoxLayout;
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(label, 1);
    auto* layout = new QVBoxLayout(&box);
    layout->addLayout(top);
    layout->addWidget(list, 1);
    layout->addWidget(buttons);
    box.exec();
}

} // namespace velmar
