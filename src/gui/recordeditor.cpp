#include "gui/recordeditor.h"

#include "core/appstate.h"
#include "core/inifile.h"
#include "core/prompter.h"
#include "core/textformat.h"
#include "db/database.h"
#include "payments/payments.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlQuery>
#include <QVBoxLayout>

namespace velmar {

namespace {

constexpr QChar kBlank = u'_';

// Reads an optionally signed decimal integer at *pos after blanks, as scanf's %d does.
bool scanInt(const QString& text, int* pos, int* value)
{
    int i = *pos;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == u'-' || text.at(i) == u'+')) {
        negative = text.at(i) == u'-';
        ++i;
    }
    const int digitsStart = i;
    qint64 v = 0;
    while (i < text.size() && text.at(i) >= u'0' && text.at(i) <= u'9') {
        v = qMin<qint64>(v * 10 + (text.at(i).unicode() - '0'), 1000000000);
        ++i;
    }
    if (i == digitsStart)
        return false;
    *value = int(negative ? -v : v);
    *pos = i;
    return true;
}

// A two-character part of the date: an integer after optional leading blanks, else 0.
int datePart(const QString& part)
{
    int start = 0;
    while (start < part.size() && part.at(start) == u' ')
        ++start;
    const QString digits = part.mid(start);
    bool ok = false;
    const int value = digits.toInt(&ok);
    return ok && !digits.startsWith(u'+') ? value : 0;
}

} // namespace

void ReadHoursMinutes(const QString& text, int* hours, int* minutes)
{
    *hours = 0;
    *minutes = 0;
    int pos = 0;
    if (!scanInt(text, &pos, hours))
        return;
    if (pos >= text.size() || text.at(pos) != u':')
        return;
    ++pos;
    if (!scanInt(text, &pos, minutes))
        *minutes = 0;
}

MaskedEdit::MaskedEdit(const QString& pattern, QWidget* parent) : QLineEdit(parent)
{
    setInputMask(pattern + QStringLiteral(";") + kBlank);
    // Wide enough for the mask and a little more, not the whole row.
    setMaximumWidth(fontMetrics().horizontalAdvance(pattern) * 2 + 16);
}

QString MaskedEdit::maskedText() const
{
    const QString shown = displayText();
    QString result;
    QString group;
    const auto flushGroup = [&] {
        QString digits;
        for (const QChar c : group)
            if (c.isDigit())
                digits += c;
        result += digits.rightJustified(group.size(), u' ');
        group.clear();
    };
    for (const QChar c : shown) {
        if (c.isDigit() || c == kBlank || c == u' ') {
            group += c;
        } else {
            flushGroup();
            result += c;
        }
    }
    flushGroup();
    return result;
}

RadioGroup::RadioGroup(const QString& name, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(parent), m_buttons(new QButtonGroup(this))
{
    setObjectName(name);
    auto* layout = new QGridLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items.at(i), this);
        button->setObjectName(objectName() + QStringLiteral("Item%1").arg(i));
        m_buttons->addButton(button, i);
        layout->addWidget(button, i / columns, i % columns);
    }
    connect(m_buttons, &QButtonGroup::idClicked, this, &RadioGroup::clicked);
}

int RadioGroup::itemIndex() const
{
    return m_buttons->checkedId();
}

void RadioGroup::setItemIndex(int index)
{
    if (QAbstractButton* b = m_buttons->button(index)) {
        b->setChecked(true);
        return;
    }
    // An exclusive group will not let its last checked button go.
    m_buttons->setExclusive(false);
    for (QAbstractButton* b : m_buttons->buttons())
        b->setChecked(false);
    m_buttons->setExclusive(true);
}

QRadioButton* RadioGroup::button(int index) const
{
    return qobject_cast<QRadioButton*>(m_buttons->button(index));
}

RecordEditor::RecordEditor(const AppSettings& /*settings*/, AppState& state, QSqlDatabase db, Prompter& prompter,
                           QWidget* parent)
    : QDialog(parent), m_state(state), m_db(db), m_prompter(prompter)
{
    setObjectName(QStringLiteral("TEditDetail"));
    setWindowTitle(QStringLiteral("Edit Record"));
    setModal(true);

    auto* bevel = new QFrame(this);
    bevel->setObjectName(QStringLiteral("Bevel1"));
    bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
    auto* form = new QFormLayout(bevel);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    const auto textField = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString::fromUtf8(name));
        return edit;
    };
    m_dt = new MaskedEdit(QStringLiteral("99/99/99"), this);
    m_dt->setObjectName(QStringLiteral("dt"));
    m_location = textField("location");
    m_shift = textField("shift");
    m_tm = textField("tm");
    m_rate = addAmountField("rate");
    m_total = addAmountField("total");
    form->addRow(QStringLiteral("Date:"), m_dt);
    form->addRow(QStringLiteral("Location:"), m_location);
    form->addRow(QStringLiteral("Shift:"), m_shift);
    form->addRow(QStringLiteral("Times:"), m_tm);
    form->addRow(QStringLiteral("Rate:"), m_rate);
    form->addRow(QStringLiteral("Total:"), m_total);

    auto* adjustment = new QGroupBox(QStringLiteral("Adjustment"), bevel);
    adjustment->setObjectName(QStringLiteral("GroupBox1"));
    auto* adjForm = new QFormLayout(adjustment);
    adjForm->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    m_edAdjTime = new MaskedEdit(QStringLiteral("99:99"), this);
    m_edAdjTime->setObjectName(QStringLiteral("edAdjTime"));
    m_edAdjRate = addAmountField("edAdjRate");
    m_rgAdjExtra = new RadioGroup(QStringLiteral("rgAdjExtra"),
                                  {QStringLiteral("Extra Payment"), QStringLiteral("Deduction")}, 2, adjustment);
    m_notes = textField("notes");
    adjForm->addRow(QStringLiteral("Time:"), m_edAdjTime);
    adjForm->addRow(QStringLiteral("Rate:"), m_edAdjRate);
    adjForm->addRow(m_rgAdjExtra);
    adjForm->addRow(QStringLiteral("Notes:"), m_notes);
    form->addRow(adjustment);

    m_lblNet = new QLabel(QStringLiteral("Net Payment: "), bevel);
    m_lblNet->setObjectName(QStringLiteral("lblNet"));
    QFont bold = m_lblNet->font();
    bold.setBold(true);
    m_lblNet->setFont(bold);
    form->addRow(m_lblNet);

    m_ok = new QPushButton(QStringLiteral("OK"), this);
    m_ok->setObjectName(QStringLiteral("OKBtn"));
    m_ok->setDefault(true);
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_cancel->setObjectName(QStringLiteral("CancelBtn"));
    m_cancel->setAutoDefault(false);
    connect(m_ok, &QPushButton::clicked, this, &RecordEditor::OKBtnClick);
    // Escape rejects the dialog too.
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(bevel, 1);
    outer->addLayout(buttons);

    connect(m_total, &QLineEdit::textChanged, this, &RecordEditor::totalChange);
    connect(m_edAdjTime, &QLineEdit::textChanged, this, &RecordEditor::totalChange);
    connect(m_edAdjRate, &QLineEdit::textChanged, this, &RecordEditor::totalChange);
    connect(m_rgAdjExtra, &RadioGroup::clicked, this, &RecordEditor::totalChange);

    setTabOrder(m_dt, m_location);
    setTabOrder(m_location, m_shift);
    setTabOrder(m_shift, m_tm);
    setTabOrder(m_tm, m_rate);
    setTabOrder(m_rate, m_total);
    setTabOrder(m_total, m_edAdjTime);
    setTabOrder(m_edAdjTime, m_edAdjRate);
    setTabOrder(m_edAdjRate, m_rgAdjExtra->button(0));
    setTabOrder(m_rgAdjExtra->button(0), m_rgAdjExtra->button(1));
    setTabOrder(m_rgAdjExtra->button(1), m_notes);
    setTabOrder(m_notes, m_ok);
    setTabOrder(m_ok, m_cancel);

    resize(516, 371);
}

QLineEdit* RecordEditor::addAmountField(const char* name)
{
    auto* edit = new QLineEdit(this);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setMaxLength(15);
    edit->installEventFilter(this);
    return edit;
}

void RecordEditor::setShiftRow(const std::optional<QSqlRecord>& row)
{
    m_row = row;
}

void RecordEditor::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A window restored by the system keeps what the user typed.
    if (!event->spontaneous())
        FormShow();
}

bool RecordEditor::eventFilter(QObject* watched, QEvent* event)
{
    // rateKeyPress: only what a number is made of. Keys without text (arrows, Delete) and control
    // characters (Backspace, Enter, Escape, clipboard shortcuts) go through; pasting is not filtered.
    if (event->type() == QEvent::KeyPress && (watched == m_rate || watched == m_total || watched == m_edAdjRate)) {
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if (!text.isEmpty()) {
            const QChar c = text.at(0);
            const bool control = c.unicode() < 0x20 || c.unicode() == 0x7f;
            const bool allowed = (c >= u'0' && c <= u'9') || c == u'.' || c == u'-';
            if (!control && !allowed)
                return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void RecordEditor::FormShow()
{
    const auto field = [this](const char* name) { return m_row ? m_row->value(QString::fromUtf8(name)) : QVariant(); };
    const QDate date = ShiftDate(field("Shift_Date"));
    m_dt->setText(date.isValid() ? date.toString(QStringLiteral("dd/MM/yy")) : QString());
    m_location->setText(field("Location").toString());
    m_shift->setText(field("Shift").toString());
    m_tm->setText(field("Times").toString());
    m_rate->setText(FormatMoney(field("Rate").toDouble()));
    m_total->setText(FormatMoney(field("Total").toDouble()));
    m_notes->setText(field("Notes").toString());
    const int adjustmentTime = field("AdjustmentTime").toInt();
    const int hours = adjustmentTime / 60;
    m_edAdjTime->setText(QString::asprintf("%02d:%02d", hours, adjustmentTime - 60 * hours));
    m_edAdjRate->setText(FormatMoney(field("AdjustmentRate").toDouble()));
    const int extra = field("Extra").toInt();
    m_rgAdjExtra->setItemIndex(extra == 1 ? 0 : extra == -1 ? 1 : -1);
    totalChange();
    m_dt->setFocus();
    m_dt->selectAll();
}

int RecordEditor::extraValue() const
{
    switch (m_rgAdjExtra->itemIndex()) {
    case 0:
        return 1;
    case 1:
        return -1;
    default:
        return 0;
    }
}

void RecordEditor::totalChange()
{
    double t = StrToNumber(m_total->text());
    const int s = extraValue();
    int hours = 0;
    int minutes = 0;
    ReadHoursMinutes(m_edAdjTime->maskedText(), &hours, &minutes);
    const double h = hours + minutes * (1.0 / 60);
    const double a = StrToNumber(m_edAdjRate->text()) * (s * h);
    if (s != 0)
        t = t + a;
    m_lblNet->setText(QStringLiteral("Net Payment: ") + FormatMoney(t));
}

QStringList RecordEditor::updateStatement(QString* invalidDate) const
{
    const QString tmp = m_dt->maskedText();
    const int day = datePart(tmp.mid(0, 2));
    const int month = datePart(tmp.mid(3, 2));
    const int year = datePart(tmp.mid(6, 2));
    const QDate date(2000 + year, month, day);
    if (!date.isValid()) {
        if (invalidDate)
            *invalidDate = QStringLiteral("Invalid date: tmp: %1, day: %2, month: %3, year: %4")
                               .arg(tmp)
                               .arg(day)
                               .arg(month)
                               .arg(year);
        return {};
    }
    int hours = 0;
    int minutes = 0;
    ReadHoursMinutes(m_edAdjTime->maskedText(), &hours, &minutes);
    const auto text = [](const QLineEdit* edit) { return QuoteForSql(edit->text()); };
    const auto amount = [](const QLineEdit* edit) { return FormatMoney(StrToNumber(edit->text())); };
    const int recno = m_row ? m_row->value(QStringLiteral("recno")).toInt() : 0;
    // Every text escaped: an apostrophe is stored as typed rather than breaking the statement.
    return {QStringLiteral("UPDATE Details"),
            QStringLiteral("SET Shift_Date = '%1',").arg(date.toString(Qt::ISODate)),
            QStringLiteral("Location = '%1',").arg(text(m_location)),
            QStringLiteral("Shift = '%1',").arg(text(m_shift)),
            QStringLiteral("Times = '%1',").arg(text(m_tm)),
            QStringLiteral("Rate = %1,").arg(amount(m_rate)),
            QStringLiteral("Total = %1,").arg(amount(m_total)),
            QStringLiteral("AdjustmentTime = %1,").arg(hours * 60 + minutes),
            QStringLiteral("AdjustmentRate = %1,").arg(amount(m_edAdjRate)),
            QStringLiteral("Extra = %1,").arg(extraValue()),
            QStringLiteral("Notes = '%1'").arg(text(m_notes)),
            QStringLiteral("WHERE DataSet = '%1' AND recno = %2").arg(QuoteForSql(m_state.CurrentDataSet)).arg(recno)};
}

void RecordEditor::OKBtnClick()
{
    if (!m_row) {
        // Opened on an empty grid: there is no record to write.
        accept();
        return;
    }
    QString invalidDate;
    const QStringList lines = updateStatement(&invalidDate);
    if (lines.isEmpty()) {
        // The dialog stays open with what was typed, so the date can be put right.
        m_prompter.error(invalidDate);
        m_dt->setFocus();
        return;
    }
    QSqlQuery q(m_db);
    if (!q.exec(lines.join(u'\n'))) {
        m_prompter.error(QStringLiteral("Error updating data: %1").arg(StatementText(lines)));
        reject();
        return;
    }
    accept();
}

} // namespace velmar
