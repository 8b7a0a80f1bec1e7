#include "payments/paymentstest.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/textformat.h"
#include "gui/recordeditor.h"
#include "payments/payments.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlRecord>
#include <QTest>

#include <memory>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

class RecordEditorTest : public PaymentsTest
{
protected:
    void SetUp() override
    {
        PaymentsTest::SetUp();
        m_state.CurrentDataSet = u"Nov06"_s;
        m_editor = std::make_unique<RecordEditor>(m_settings, m_state, m_db, m_prompter);
    }
    void TearDown() override
    {
        m_editor.reset();
        PaymentsTest::TearDown();
    }

    // Opens the editor on the stored record, as the detail window does.
    void openOn(int recno)
    {
        QList<QSqlRecord> rows;
        ASSERT_TRUE(LoadShiftRows(m_db, u"Nov06"_s, u"100"_s, &rows, m_prompter));
        std::optional<QSqlRecord> row;
        for (const QSqlRecord& r : rows)
            if (r.value(u"recno"_s).toInt() == recno)
                row = r;
        ASSERT_TRUE(row.has_value());
        m_editor->hide();
        m_editor->setShiftRow(row);
        m_editor->show();
    }
    template <typename T = QLineEdit> T* field(const char* name) const
    {
        T* w = m_editor->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void retype(const char* name, const QString& text) const
    {
        QLineEdit* edit = field(name);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, text);
    }
    // On the round indicator at the left: the button is wider than what it reacts to.
    void clickChoice(int index) const
    {
        QRadioButton* b = kind()->button(index);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(6, b->height() / 2));
    }
    QString net() const { return field<QLabel>("lblNet")->text(); }
    RadioGroup* kind() const { return field<RadioGroup>("rgAdjExtra"); }
    // OK, then what was stored.
    QString confirm(const QString& columns)
    {
        field<QPushButton>("OKBtn")->click();
        return rows(u"SELECT %1 FROM Details WHERE recno = 1"_s.arg(columns)).value(0);
    }

    AppSettings m_settings;
    AppState m_state;
    std::unique_ptr<RecordEditor> m_editor;
};

TEST_F(RecordEditorTest, LoadsTheRecord)
{
    insertShift({.recno = 1, .total = 100, .adjustmentTime = 90, .adjustmentRate = 15, .extra = -1});
    exec(u"UPDATE Details SET Notes = 'n', Times = '18-23', Rate = 12.5"_s);
    openOn(1);
    EXPECT_EQ(m_editor->objectName(), u"TEditDetail"_s);
    EXPECT_EQ(field<MaskedEdit>("dt")->maskedText(), u"05/11/06"_s);
    EXPECT_EQ(field("location")->text(), u"Base"_s);
    EXPECT_EQ(field("shift")->text(), u"Eve"_s);
    EXPECT_EQ(field("tm")->text(), u"18-23"_s);
    EXPECT_EQ(field("rate")->text(), u"12.50"_s);
    EXPECT_EQ(field("total")->text(), u"100.00"_s);
    EXPECT_EQ(field<MaskedEdit>("edAdjTime")->maskedText(), u"01:30"_s);
    EXPECT_EQ(field("edAdjRate")->text(), u"15.00"_s);
    EXPECT_EQ(kind()->itemIndex(), 1);
    EXPECT_EQ(field("notes")->text(), u"n"_s);
    EXPECT_EQ(net(), u"Net Payment: 77.50"_s);
    for (const char* name : {"rate", "total", "edAdjRate"})
        EXPECT_EQ(field(name)->maxLength(), 15) << name;

    // Saved unchanged, the record stays as it was.
    EXPECT_EQ(confirm(u"Shift_Date, Rate, Total, AdjustmentTime, AdjustmentRate, Extra, Notes"_s),
              u"2006-11-05|12.5|100|90|15|-1|n"_s);
    EXPECT_EQ(m_editor->result(), QDialog::Accepted);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

TEST_F(RecordEditorTest, NetPaymentFollowsEveryChange)
{
    insertShift({.recno = 1, .total = 100});
    openOn(1);
    EXPECT_EQ(kind()->itemIndex(), -1);
    retype("edAdjTime", u"0200"_s);
    retype("edAdjRate", u"15"_s);
    // Nothing chosen in the group: the adjustment is ignored.
    EXPECT_EQ(net(), u"Net Payment: 100.00"_s);
    clickChoice(1);
    EXPECT_EQ(net(), u"Net Payment: 70.00"_s);
    clickChoice(0);
    EXPECT_EQ(net(), u"Net Payment: 130.00"_s);
    retype("total", u"99.9"_s);
    EXPECT_EQ(net(), u"Net Payment: 129.90"_s);
    retype("edAdjTime", u"0045"_s);
    EXPECT_EQ(net(), u"Net Payment: 111.15"_s);
    // The rate of the shift itself plays no part.
    retype("rate", u"1000"_s);
    EXPECT_EQ(net(), u"Net Payment: 111.15"_s);
}

TEST_F(RecordEditorTest, AmountFieldsTakeOnlyNumberKeysAndOnlyNumbers)
{
    insertShift({.recno = 1, .total = 100});
    openOn(1);
    retype("rate", u"1x2,.5 a"_s);
    EXPECT_EQ(field("rate")->text(), u"12.5"_s);
    // Free text fields are not filtered.
    retype("location", u"Ward 7, B"_s);
    // Keys that each belong in a number, making none: refused, and the typing stays.
    retype("total", u"4-50.5.5"_s);
    field<QPushButton>("OKBtn")->click();
    EXPECT_EQ(m_prompter.messages, QStringList{u"error: Total: \"4-50.5.5\" is not a number"_s});
    EXPECT_EQ(field("location")->text(), u"Ward 7, B"_s);
    retype("total", QString());
    EXPECT_EQ(confirm(u"Rate, Total, Location"_s), u"12.5|0|Ward 7, B"_s);
}

TEST_F(RecordEditorTest, TimesInMinutesUpTo59AndAnAdjustmentNeedsItsKind)
{
    insertShift({.recno = 1, .total = 100, .adjustmentTime = 90, .adjustmentRate = 10, .extra = 1});
    openOn(1);
    retype("edAdjTime", u"0175"_s); // not an hour and 15 minutes
    field<QPushButton>("OKBtn")->click();
    EXPECT_EQ(m_prompter.messages, QStringList{u"error: Invalid time: 01:75 (the minutes run from 00 to 59)"_s});
    retype("edAdjTime", u"0215"_s);
    EXPECT_EQ(net(), u"Net Payment: 122.50"_s);
    EXPECT_EQ(confirm(u"AdjustmentTime"_s), u"135"_s);

    // Time and rate without Extra Payment or Deduction would count for nothing: said, not stored.
    exec(u"UPDATE Details SET Extra = 0, AdjustmentTime = 0"_s);
    m_prompter.messages.clear();
    openOn(1);
    retype("edAdjTime", u"0100"_s);
    field<QPushButton>("OKBtn")->click();
    EXPECT_TRUE(m_editor->isVisible());
    EXPECT_EQ(m_prompter.messages, QStringList{u"error: The adjustment time and rate count only when Extra Payment "
                                               "or Deduction is chosen: choose one, or clear the time."_s});
    clickChoice(1);
    EXPECT_EQ(confirm(u"AdjustmentTime, Extra"_s), u"60|-1"_s);

    // A lone digit typed in a group.
    openOn(1);
    field("edAdjTime")->setFocus();
    field("edAdjTime")->selectAll();
    QTest::keyClicks(field("edAdjTime"), u"2:5"_s);
    EXPECT_EQ(field<MaskedEdit>("edAdjTime")->maskedText(), u" 2: 5"_s);
    EXPECT_EQ(confirm(u"AdjustmentTime"_s), u"125"_s);
}

TEST_F(RecordEditorTest, DatesAreCheckedAndKeptOpen)
{
    insertShift({.recno = 1, .total = 100});
    openOn(1);
    retype("location", u"typed"_s);
    retype("dt", u"310206"_s);
    field<QPushButton>("OKBtn")->click();
    EXPECT_TRUE(m_editor->isVisible());
    EXPECT_EQ(m_prompter.messages, QStringList{u"error: Invalid date: tmp: 31/02/06, day: 31, month: 2, year: 6"_s});
    EXPECT_EQ(field("location")->text(), u"typed"_s);
    EXPECT_EQ(rows(u"SELECT Shift_Date, Location FROM Details"_s), QStringList{u"2006-11-05|Base"_s});

    // Typed as 5/11/07: the lone day digit stands right-aligned, as a blank and a 5.
    m_prompter.messages.clear();
    field("dt")->setFocus();
    field("dt")->selectAll();
    QTest::keyClicks(field("dt"), u"5/11/07"_s);
    EXPECT_EQ(field<MaskedEdit>("dt")->maskedText(), u" 5/11/07"_s);
    EXPECT_EQ(confirm(u"Shift_Date"_s), u"2007-11-05"_s);

    openOn(1);
    retype("dt", u"290208"_s);
    EXPECT_EQ(confirm(u"Shift_Date"_s), u"2008-02-29"_s);
    openOn(1);
    retype("dt", u"311299"_s);
    EXPECT_EQ(confirm(u"Shift_Date"_s), u"2099-12-31"_s);

    // Blank parts read as 0 and are no date, a blank year too (not 2000).
    openOn(1);
    retype("dt", u"05"_s);
    field<QPushButton>("OKBtn")->click();
    retype("dt", u"0103"_s);
    field<QPushButton>("OKBtn")->click();
    EXPECT_EQ(m_prompter.messages, (QStringList{u"error: Invalid date: tmp: 05/  /  , day: 5, month: 0, year: 0"_s,
                                                u"error: Invalid date: tmp: 01/03/  , day: 1, month: 3, year: 0"_s}));
    EXPECT_TRUE(m_editor->isVisible());
    EXPECT_EQ(rows(u"SELECT Shift_Date FROM Details"_s), QStringList{u"2099-12-31"_s});
}

TEST_F(RecordEditorTest, TextsAreStoredAsTyped)
{
    insertShift({.recno = 1, .total = 100});
    insertShift({.recno = 2, .total = 100, .location = u"Other"_s});
    openOn(1);
    retype("location", u"O'Brien's Surgery"_s);
    retype("shift", u"'"_s);
    retype("tm", u"6'til'9"_s);
    retype("notes", u"'; DROP TABLE Details; --"_s);
    EXPECT_EQ(confirm(u"Location, Shift, Times, Notes"_s), u"O'Brien's Surgery|'|6'til'9|'; DROP TABLE Details; --"_s);
    EXPECT_EQ(rows(u"SELECT Location FROM Details WHERE recno = 2"_s), QStringList{u"Other"_s});
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

TEST_F(RecordEditorTest, SingleSpaceTextsShowEmptyAndEmptyFieldsStoreOne)
{
    // A record just added: every text is the stored single space.
    insertShift({.recno = 1, .location = u" "_s, .shift = u" "_s, .times = u" "_s, .notes = u" "_s});
    openOn(1);
    for (const char* name : {"location", "shift", "tm", "notes"})
        EXPECT_EQ(field(name)->text(), QString()) << name;
    QTest::keyClicks(field("location"), u"Eastmoor Centre"_s);
    retype("shift", QString());
    EXPECT_EQ(confirm(u"Location, Shift, Times"_s), u"Eastmoor Centre| | "_s);
    // A text the clerk empties is stored as the single space.
    openOn(1);
    retype("location", QString());
    EXPECT_EQ(confirm(u"Location"_s), u" "_s);
}

TEST_F(RecordEditorTest, EveryOpeningReloads)
{
    insertShift({.recno = 1, .total = 100, .adjustmentTime = 60, .adjustmentRate = 10, .extra = -1});
    insertShift({.recno = 2, .total = 50});
    exec(u"UPDATE Details SET Extra = 0, superfee = 12, nonsuperfee = 3 WHERE recno = 2"_s);
    openOn(1);
    EXPECT_EQ(kind()->itemIndex(), 1);
    retype("location", u"unsaved"_s);
    field<QPushButton>("CancelBtn")->click();
    EXPECT_EQ(m_editor->result(), QDialog::Rejected);
    EXPECT_EQ(rows(u"SELECT Location FROM Details WHERE recno = 1"_s), QStringList{u"Base"_s});

    QList<QSqlRecord> list;
    ASSERT_TRUE(LoadShiftRows(m_db, u"Nov06"_s, u"100"_s, &list, m_prompter));
    m_editor->setShiftRow(list[1]);
    m_editor->show();
    EXPECT_EQ(kind()->itemIndex(), -1);
    EXPECT_EQ(field("location")->text(), u"Base"_s);
    EXPECT_EQ(net(), u"Net Payment: 50.00"_s);
    field<QPushButton>("OKBtn")->click();
    // The split stored at import is not touched by an edit.
    EXPECT_EQ(rows(u"SELECT Extra, superfee, nonsuperfee FROM Details WHERE recno = 2"_s), QStringList{u"0|12|3"_s});
}

// Whatever the import stored is shown as it is, and OK without a change stores it unchanged.
TEST_F(RecordEditorTest, UntouchedFieldsKeepWhatIsStored)
{
    for (const auto& [minutes, shown] : {std::pair{-30, "-00:30"}, {6000, "100:00"}, {-90, "-01:30"}, {90, "01:30"}}) {
        exec(u"DELETE FROM Details"_s);
        insertShift({.recno = 1, .total = 100, .adjustmentTime = minutes, .adjustmentRate = 20, .extra = 1});
        exec(u"UPDATE Details SET Rate = 12.345"_s);
        openOn(1);
        EXPECT_EQ(field<MaskedEdit>("edAdjTime")->maskedText(), QString::fromUtf8(shown));
        EXPECT_EQ(net(), u"Net Payment: "_s + FormatMoney(100 + minutes / 3.0)) << shown;
        EXPECT_EQ(confirm(u"Rate, Total, AdjustmentTime"_s), u"12.345|100|%1"_s.arg(minutes)) << shown;
    }
    // Typed over, the sign is the whole time's.
    exec(u"UPDATE Details SET AdjustmentTime = -30"_s);
    openOn(1);
    retype("edAdjTime", u"-0045"_s);
    EXPECT_EQ(confirm(u"AdjustmentTime"_s), u"-45"_s);
}

TEST(ReadHoursMinutes, ReadsLikeScanf)
{
    const auto read = [](const char* text) {
        int h = -1;
        int m = -1;
        ReadHoursMinutes(QString::fromUtf8(text), &h, &m);
        return QStringLiteral("%1,%2").arg(h).arg(m);
    };
    EXPECT_EQ(read("01:30"), u"1,30"_s);
    EXPECT_EQ(read(" 1:75"), u"1,75"_s);
    EXPECT_EQ(read("02: 5"), u"2,5"_s);
    EXPECT_EQ(read("  :30"), u"0,0"_s); // no hours: nothing more is read
    EXPECT_EQ(read("03:  "), u"3,0"_s);
    EXPECT_EQ(read("4 :30"), u"4,0"_s);
    EXPECT_EQ(read(""), u"0,0"_s);
    EXPECT_EQ(read("-00:30"), u"0,-30"_s);
    EXPECT_EQ(read("-01:30"), u"-1,-30"_s);
}

TEST_F(RecordEditorTest, EveryFieldHasItsLetterAndTheKindIsOneTabStop)
{
    insertShift({.recno = 1, .total = 100});
    openOn(1);
    QApplication::setActiveWindow(m_editor.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_editor.get()));
    const std::pair<Qt::Key, const char*> letters[] = {
        {Qt::Key_D, "dt"},        {Qt::Key_L, "location"},  {Qt::Key_S, "shift"},
        {Qt::Key_I, "tm"},        {Qt::Key_R, "rate"},      {Qt::Key_T, "total"},
        {Qt::Key_M, "edAdjTime"}, {Qt::Key_A, "edAdjRate"}, {Qt::Key_N, "notes"}};
    for (const auto& [key, name] : letters) {
        QTest::keyClick(m_editor.get(), key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), field<QWidget>(name)) << name;
    }
    // Tab reaches the kind once, at the one chosen; inside it the arrows choose.
    const auto tabFrom = [this](const char* name) {
        field<QWidget>(name)->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        return QApplication::focusWidget();
    };
    EXPECT_EQ(tabFrom("edAdjRate"), kind()->button(0));
    EXPECT_EQ(tabFrom("rgAdjExtraItem0"), field<QWidget>("notes"));
    clickChoice(1);
    EXPECT_EQ(tabFrom("edAdjRate"), kind()->button(1));
    QTest::keyClick(kind()->button(1), Qt::Key_Left);
    EXPECT_EQ(kind()->itemIndex(), 0);
}

// With fees split, parts the clerk typed stay as typed and must add up to the pay; parts stored out
// of step are no reason to refuse a change of the notes.
TEST_F(RecordEditorTest, TypedFeePartsMustAddUp)
{
    m_settings.PartSuperannuation = true;
    m_editor = std::make_unique<RecordEditor>(m_settings, m_state, m_db, m_prompter);
    insertShift({.recno = 1, .total = 700, .superfee = 1, .nonsuperfee = 2});
    openOn(1);
    retype("notes", u"checked"_s);
    EXPECT_EQ(confirm(u"Notes, superfee"_s), u"checked|1"_s);
    openOn(1);
    retype("nonsuperfee", u"35"_s);
    retype("total", u"720"_s);
    EXPECT_EQ(field("superfee")->text(), u"1.00"_s);
    field<QPushButton>("OKBtn")->click();
    EXPECT_EQ(m_prompter.messages,
              QStringList{u"error: The superannuable and non-superannuable parts must add up to 720.00"_s});
    retype("superfee", u"685"_s);
    EXPECT_EQ(confirm(u"Total, superfee, nonsuperfee"_s), u"720|685|35"_s);
}
