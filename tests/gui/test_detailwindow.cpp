#include "payments/paymentstest.h"
#include "uitestsupport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/clock.h"
#include "db/database.h"
#include "gui/detailwindow.h"
#include "gui/filedialogs.h"
#include "gui/messageboxprompter.h"
#include "gui/recordeditor.h"
#include "gui/windowplaces.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>
#include <memory>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

AppSettings plainSettings(double superannuation = 6)
{
    AppSettings s;
    s.Superannuation = superannuation;
    s.NoSuperannuation = superannuation < 0.1;
    return s;
}

AppSettings pensionSettings(double superannuation = 5)
{
    AppSettings s = plainSettings(superannuation);
    s.Solo = true;
    return s;
}

// What the next message box showed: its parent and default button. It is answered with Escape.
struct BoxSeen
{
    QWidget* parent = nullptr;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QString text;
};
void answerNextBox(BoxSeen* seen)
{
    onNextModal([seen](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        seen->parent = box->parentWidget();
        seen->defaultButton = box->standardButton(box->defaultButton());
        seen->text = box->text();
        QTest::keyClick(box, Qt::Key_Escape);
    });
}

} // namespace

class DetailWindowTest : public PaymentsTest
{
protected:
    void SetUp() override
    {
        PaymentsTest::SetUp();
        m_state.CurrentDataSet = QStringLiteral("Nov06");
        m_state.CurrentDoctorId = QStringLiteral("100");
    }
    void TearDown() override
    {
        m_editor.reset();
        m_window.reset();
        FileDialogs::reset();
        PaymentsTest::TearDown();
    }

    // The worked example: Net 100.004 and 50.003 (40.003 plus half an hour at 20.00).
    void insertExample(const Doctor& d)
    {
        insertDoctor(d);
        insertShift({.recno = 1, .total = 100.004, .superfee = 80, .nonsuperfee = 20.004});
        insertShift({.recno = 2,
                     .date = QStringLiteral("2006-11-07"),
                     .total = 40.003,
                     .adjustmentTime = 30,
                     .adjustmentRate = 20,
                     .extra = 1,
                     .superfee = 50.003});
    }

    void open(const AppSettings& settings, Prompter* prompter = nullptr)
    {
        m_editor.reset(); // a child of the window
        m_window.reset();
        m_settings = settings;
        Prompter& p = prompter ? *prompter : m_prompter;
        m_window = std::make_unique<DetailWindow>(m_settings, m_state, m_db, p);
        m_editor = std::make_unique<RecordEditor>(m_settings, m_state, m_db, p, m_window.get());
        m_window->setEditor(m_editor.get());
        m_window->show();
    }
    // What the main window does to show another doctor.
    void reshow()
    {
        m_window->hide();
        m_window->show();
    }

    template <typename T = QWidget> T* child(const char* name) const
    {
        T* w = m_window->findChild<T*>(QString::fromUtf8(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString text(const char* name) const { return child<QLabel>(name)->text(); }
    bool shown(const char* name) const { return !child<QWidget>(name)->isHidden(); }
    QTableView* grid() const { return child<QTableView>("DBGrid1"); }
    int gridRows() const { return grid()->model()->rowCount(); }
    QString cell(int row, const QString& column) const
    {
        const QAbstractItemModel* m = grid()->model();
        for (int c = 0; c < m->columnCount(); ++c)
            if (m->headerData(c, Qt::Horizontal, Qt::UserRole).toString() == column)
                return m->index(row, c).data().toString();
        ADD_FAILURE() << "no column " << column.toStdString();
        return QString();
    }
    int storedRows() { return scalar(QStringLiteral("SELECT count(*) FROM Details")).toInt(); }

    // Runs action on the editor once it is open modally; the action must close it.
    void onEditor(std::function<void(RecordEditor&)> action)
    {
        QTimer::singleShot(0, [this, action] {
            QDeadlineTimer deadline(5000);
            while (QApplication::activeModalWidget() != m_editor.get() && !deadline.hasExpired())
                QTest::qWait(10);
            if (QApplication::activeModalWidget() != m_editor.get()) {
                ADD_FAILURE() << "the editor did not open";
                return;
            }
            m_editorTitle = m_editor->windowTitle();
            action(*m_editor);
            if (m_editor->isVisible()) {
                ADD_FAILURE() << "the editor was left open";
                m_editor->reject();
            }
        });
    }
    template <typename T = QLineEdit> T* field(const char* name) const
    {
        return m_editor->findChild<T*>(QString::fromUtf8(name));
    }
    void retype(const char* name, const QString& text) const
    {
        QLineEdit* edit = field(name);
        edit->selectAll();
        if (text.isEmpty())
            QTest::keyClick(edit, Qt::Key_Delete);
        else
            QTest::keyClicks(edit, text);
    }

    AppSettings m_settings;
    AppState m_state;
    std::unique_ptr<DetailWindow> m_window;
    std::unique_ptr<RecordEditor> m_editor;
    QString m_editorTitle;
};

TEST_F(DetailWindowTest, ShowsDoctorAndGrid)
{
    UserWindowSettings()->clear();
    insertExample({});
    open(plainSettings());
    EXPECT_EQ(m_window->objectName(), u"TDetail"_s);
    // Two doctors' windows told apart on the task bar.
    EXPECT_EQ(m_window->windowTitle(), u"Payment Detail \u2013 Dr Ann Smith (100)"_s);
    EXPECT_EQ(text("RecordCount"), u"2 records"_s);
    EXPECT_FALSE(m_window->isModal());
    EXPECT_EQ(text("name"), u"Dr Ann Smith"_s);
    // add2 and county are single spaces: three lines.
    EXPECT_EQ(text("add1"), u"1 High St\nLeeds\nLS1 1AA"_s);

    ASSERT_EQ(gridRows(), 2);
    const QAbstractItemModel* m = grid()->model();
    ASSERT_EQ(m->columnCount(), 28);
    // Headings in words.
    const QStringList titles{u"Record"_s,     u"Data set"_s, u"Date"_s,  u"Location"_s,  u"Shift"_s,
                             u"Times"_s,      u"Rate"_s,     u"Total"_s, u"Adj. time"_s, u"Adj. rate"_s,
                             u"Adjustment"_s, u"Net"_s,      u"Notes"_s, u"Record"_s};
    for (int c = 0; c < titles.size(); ++c)
        EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString(), titles[c]);
    // Each column once: recno, DataSet and the query's second copy after Notes are not shown.
    for (int c = 0; c < m->columnCount(); ++c)
        EXPECT_EQ(grid()->isColumnHidden(c), c < 2 || c > 12) << c;
    // Money with two decimals, the adjustment time as on the editor.
    EXPECT_EQ(cell(0, u"Shift_Date"_s), u"05/11/2006"_s);
    EXPECT_EQ(cell(1, u"Adj_Time"_s), u"00:30"_s);
    EXPECT_EQ(cell(1, u"Adjustment"_s), u"10.00"_s);
    EXPECT_EQ(cell(1, u"Net"_s), u"50.00"_s);
    EXPECT_EQ(cell(0, u"Rate"_s), u"20.00"_s);
    EXPECT_EQ(m->index(0, 11).data(Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight, Qt::AlignRight);
    // Wide enough for heading and value: "AdjustmentRate" and "Net" are shown whole.
    const QFontMetrics metrics(grid()->font());
    for (int c = 2; c <= 12; ++c) {
        const QString heading = m->headerData(c, Qt::Horizontal).toString();
        EXPECT_GE(grid()->columnWidth(c), metrics.horizontalAdvance(heading)) << heading.toStdString();
        EXPECT_GE(grid()->columnWidth(c), metrics.horizontalAdvance(m->index(0, c).data().toString()) + 4)
            << heading.toStdString();
    }

    // Shown too narrow, it opens wide enough for every column, Net and Notes too.
    m_window->hide();
    m_window->resize(300, 550);
    m_window->show();
    const int notes = 12;
    EXPECT_LE(grid()->columnViewportPosition(notes) + grid()->columnWidth(notes), grid()->viewport()->width());
    EXPECT_LT(m_window->width(), m_window->screen()->availableGeometry().width());

    // Another doctor chosen in the main window: hide and show loads him.
    insertDoctor({.id = u"101"_s, .fname = u"Bob"_s, .sname = u"Jones"_s, .add2 = u"Flat 2"_s});
    m_state.CurrentDoctorId = u"101"_s;
    reshow();
    EXPECT_EQ(text("name"), u"Dr Bob Jones"_s);
    EXPECT_EQ(text("add1").split(u'\n').size(), 4);
    EXPECT_EQ(gridRows(), 0);
    EXPECT_EQ(text("lbTotal"), u"0.00"_s);
    EXPECT_EQ(m_window->windowTitle(), u"Payment Detail \u2013 Dr Bob Jones (101)"_s);
    EXPECT_EQ(text("RecordCount"), u"0 records"_s);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

TEST_F(DetailWindowTest, HeadingClicksSortTheViewOnlyAndASecondClickReverses)
{
    insertDoctor({});
    insertShift({.recno = 1, .date = u"2006-11-20"_s, .total = 300, .location = u"base"_s});
    insertShift({.recno = 2, .date = u"2006-11-03"_s, .total = 45, .location = u"Annex"_s});
    insertShift({.recno = 3, .date = u"2006-11-11"_s, .total = 1200, .location = u"Clinic"_s});
    open(plainSettings());
    const auto column = [this](int c) {
        QStringList shown;
        for (int r = 0; r < gridRows(); ++r)
            shown.append(grid()->model()->index(r, c).data().toString());
        return shown;
    };
    QHeaderView* header = grid()->horizontalHeader();
    const auto click = [&](int c) {
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(c) + header->sectionSize(c) / 2, 5));
    };
    // First shown in stored order.
    EXPECT_EQ(column(0), (QStringList{u"1"_s, u"2"_s, u"3"_s}));
    grid()->selectRow(0); // recno 1 stays current through the sorting

    // Numbers as numbers, dates as dates, texts without regard to case; the second click reverses.
    const struct
    {
        int column;
        QStringList recnos;
    } cases[] = {
        {7, {u"2"_s, u"1"_s, u"3"_s}}, // Total: 45, 300, 1200
        {7, {u"3"_s, u"1"_s, u"2"_s}},
        {2, {u"2"_s, u"3"_s, u"1"_s}}, // Shift_Date
        {3, {u"2"_s, u"1"_s, u"3"_s}}, // Location: Annex, base, Clinic
    };
    for (const auto& c : cases) {
        click(c.column);
        EXPECT_EQ(column(0), c.recnos) << c.column;
        EXPECT_EQ(m_window->currentShiftRow()->value(u"recno"_s).toInt(), 1) << c.column;
    }
    // Stored and printed order unchanged; the next doctor shown starts in stored order again.
    EXPECT_EQ(m_window->shiftRows().first().value(u"recno"_s).toInt(), 1);
    reshow();
    EXPECT_EQ(column(0), (QStringList{u"1"_s, u"2"_s, u"3"_s}));
}

TEST_F(DetailWindowTest, SizePlaceAndColumnWidthsAreKeptInTheUsersSettingsAndFitTheScreen)
{
    UserWindowSettings()->clear();
    insertExample({});
    open(plainSettings());
    const QRect available = m_window->screen()->availableGeometry();
    const QRect chosen(available.left() + 40, available.top() + 60, 600, 400);
    m_window->setGeometry(chosen);
    QHeaderView* header = grid()->horizontalHeader();
    header->resizeSection(3, 222); // as the user drags it
    const int fitted = header->sectionSize(4);
    m_window->close();

    // The next run: the same place and size, the width the user gave, the others fitted.
    open(plainSettings());
    EXPECT_EQ(m_window->geometry(), chosen);
    EXPECT_EQ(grid()->columnWidth(3), 222);
    EXPECT_EQ(grid()->columnWidth(4), fitted);
    reshow(); // another doctor keeps it too
    EXPECT_EQ(grid()->columnWidth(3), 222);

    // Kept from a larger screen: fitted to this one, title bar on it.
    m_window->setGeometry(available.adjusted(-300, -200, 600, 400));
    m_window->close();
    open(plainSettings());
    EXPECT_TRUE(available.contains(m_window->geometry())) << m_window->geometry().width();
    EXPECT_GT(m_window->geometry().top(), available.top());
    // What the program sets is not taken for the user's choice.
    EXPECT_EQ(UserWindowSettings()->value(u"TDetail/DBGrid1/Location"_s).toInt(), 222);
    EXPECT_FALSE(UserWindowSettings()->contains(u"TDetail/DBGrid1/Shift"_s));
    UserWindowSettings()->clear();
}

TEST_F(DetailWindowTest, TotalsWithoutPensionForms)
{
    insertExample({.annuity = 10});
    open(plainSettings(6));
    EXPECT_EQ(text("lbTotal"), u"150.01"_s);
    EXPECT_EQ(text("lblSuperAnnuation"), u"Superannuation @ 10.00%"_s);
    EXPECT_EQ(text("lbAnnuation"), u"15.00"_s);
    EXPECT_EQ(text("Label5"), u"Payment:"_s);
    EXPECT_EQ(text("lbPayment"), u"135.01"_s);
    EXPECT_TRUE(shown("lbAnnuation"));
    EXPECT_TRUE(shown("Label5"));
    EXPECT_FALSE(shown("Label4a"));
    EXPECT_FALSE(shown("lbExtra"));
    EXPECT_FALSE(child<QAction>("Send1")->isVisible());
    EXPECT_FALSE(child<QAction>("PreviewSoloForm1")->isVisible());
    EXPECT_FALSE(child<QAction>("CreateSoloPDF1")->isVisible());
    EXPECT_TRUE(child<QAction>("PrintThisPage1")->isVisible());
}

TEST_F(DetailWindowTest, TotalsSplitFeesShowsBothSums)
{
    insertExample({.annuity = 10});
    AppSettings s = plainSettings(6);
    s.PartSuperannuation = true;
    s.ProForma = true;
    open(s);
    EXPECT_EQ(text("lbTotal"), u"130.00 / 20.00"_s);
    EXPECT_EQ(text("lbAnnuation"), u"13.00"_s);
    EXPECT_EQ(text("lbPayment"), u"117.00"_s);
    EXPECT_TRUE(child<QAction>("Send1")->isVisible());
}

TEST_F(DetailWindowTest, TotalsWithoutSuperannuationRate)
{
    insertExample({.annuity = 2});
    open(plainSettings(0));
    EXPECT_EQ(text("lbTotal"), u"150.01"_s);
    for (const char* name : {"lbAnnuation", "lbPayment", "lblSuperAnnuation", "Label5", "Label4a", "lbExtra"})
        EXPECT_FALSE(shown(name)) << name;
    EXPECT_TRUE(shown("lbTotal"));

    // In pension-form mode the additional contribution stays.
    open(pensionSettings(0));
    for (const char* name : {"lbAnnuation", "lbPayment", "lblSuperAnnuation", "Label5"})
        EXPECT_FALSE(shown(name)) << name;
    EXPECT_TRUE(shown("Label4a"));
    EXPECT_EQ(text("Label4a"), u"Additional Contribution @ 2.00%"_s);
    EXPECT_EQ(text("lbExtra"), u"3.00"_s);
    EXPECT_TRUE(child<QAction>("PreviewSoloForm1")->isVisible());
    EXPECT_TRUE(child<QAction>("CreateSoloPDF1")->isVisible());
}

TEST_F(DetailWindowTest, TotalsInPensionFormMode)
{
    insertExample({.annuity = 2});
    insertDoctor({.id = u"101"_s, .annuity = 2, .nosolo = u"Y"_s});
    insertShift({.recno = 3, .id = u"101"_s, .total = 100});
    insertDoctor({.id = u"102"_s, .annuity = 2, .paygross = u"Y"_s});
    insertShift({.recno = 4, .id = u"102"_s, .total = 100});
    open(pensionSettings(5));
    EXPECT_EQ(text("lbTotal"), u"150.01"_s);
    EXPECT_EQ(text("lblSuperAnnuation"), u"Superannuation:"_s);
    EXPECT_EQ(text("lbAnnuation"), u"7.50"_s);
    EXPECT_EQ(text("lbExtra"), u"3.00"_s);
    EXPECT_EQ(text("Label5"), u"Net:"_s);
    EXPECT_EQ(text("lbPayment"), u"139.51"_s);
    for (const char* name : {"lbAnnuation", "lbPayment", "lblSuperAnnuation", "Label5", "Label4a", "lbExtra"})
        EXPECT_TRUE(shown(name)) << name;

    m_state.CurrentDoctorId = u"101"_s; // not in the scheme
    reshow();
    for (const char* name : {"lbAnnuation", "lbPayment", "lblSuperAnnuation", "Label5"})
        EXPECT_FALSE(shown(name)) << name;
    EXPECT_EQ(text("lbExtra"), u"0.00"_s);

    m_state.CurrentDoctorId = u"102"_s; // paid gross
    reshow();
    EXPECT_TRUE(shown("lbPayment"));
    EXPECT_EQ(text("Label5"), u"GROSS:"_s);
    EXPECT_EQ(text("lbPayment"), u"100.00"_s);
}

TEST_F(DetailWindowTest, FailedQueryKeepsPreviousDoctor)
{
    insertExample({});
    open(plainSettings());
    exec(u"ALTER TABLE Details RENAME TO Gone"_s);
    m_state.CurrentDoctorId = u"101"_s;
    reshow();
    ASSERT_EQ(m_prompter.messages.size(), 1);
    EXPECT_TRUE(m_prompter.messages[0].startsWith(
        u"error: Error reading from database: 1:SELECT * FROM Headers WHERE DataSet = 'Nov06' AND id = '101'\n"
        " - 2:SELECT recno, DataSet,"_s));
    EXPECT_EQ(text("name"), u"Dr Ann Smith"_s);
    // Nothing loaded: no figures, nothing to print.
    EXPECT_EQ(text("lbTotal"), QString());
    EXPECT_FALSE(child<QAction>("PrintPreview1")->isEnabled());
    EXPECT_EQ(gridRows(), 0);
}

// The database is locked while the grid reloads after an edit: no 0.00 totals, no invoice of them.
TEST_F(DetailWindowTest, FailedReloadLeavesNothingToPrintUntilALoadSucceeds)
{
    insertExample({});
    AppSettings s = plainSettings();
    s.ProForma = s.Solo = true;
    open(s);
    QSignalSpy print(m_window.get(), &DetailWindow::printRequested);
    onEditor([this](RecordEditor&) {
        field<QPushButton>("OKBtn")->click();
        exec(u"ALTER TABLE Details RENAME TO Gone"_s);
    });
    QTest::keyClick(grid(), Qt::Key_Return);
    EXPECT_TRUE(m_prompter.messages.value(0).startsWith(u"error: Error in query: SELECT recno"_s));
    for (const char* value : {"lbTotal", "lbAnnuation", "lbExtra", "lbPayment"})
        EXPECT_EQ(text(value), QString()) << value;
    for (const char* entry : {"PrintThisPage1", "PrintPreview1", "PreviewSoloForm1", "CreateSoloPDF1", "Send1"})
        EXPECT_FALSE(child<QAction>(entry)->isEnabled()) << entry;
    m_window->PrintPreview1Click();
    EXPECT_EQ(print.size(), 0);

    exec(u"ALTER TABLE Gone RENAME TO Details"_s);
    reshow();
    EXPECT_EQ(text("lbTotal"), u"150.01"_s);
    EXPECT_TRUE(child<QAction>("PrintPreview1")->isEnabled());
}

// Names made for QString::arg: "%1" or "%2" in them must not take in the record number.
TEST_F(DetailWindowTest, DataSetNamesWithPercentSignsEditDeleteAndCancelledAdd)
{
    for (const QString& dataSet : {u"Run %1 2005"_s, u"X%2"_s}) {
        exec(u"DELETE FROM Details"_s);
        m_state.CurrentDataSet = dataSet;
        insertDoctor({}, dataSet);
        insertShift({.recno = 1, .total = 100, .dataSet = dataSet});
        insertShift({.recno = 2, .total = 50, .dataSet = dataSet});
        open(plainSettings());
        onEditor([this](RecordEditor&) {
            retype("total", u"60"_s);
            field<QPushButton>("OKBtn")->click();
        });
        QTest::keyClick(grid(), Qt::Key_Return);
        onEditor([](RecordEditor& e) { e.reject(); });
        child<QPushButton>("Button2")->click();
        m_prompter.answers = {true};
        child<QToolButton>("nbLast")->click();
        child<QToolButton>("nbDelete")->click();
        EXPECT_EQ(rows(u"SELECT recno, Total FROM Details"_s), QStringList{u"1|60"_s}) << dataSet.toStdString();
        // Each change on record once, the edit with only what it changed; the cancelled add undone in the open.
        EXPECT_EQ(rows(u"SELECT action, recno FROM History WHERE DataSet = '%1' ORDER BY entry"_s.arg(dataSet)),
                  (QStringList{u"edit|1"_s, u"add|3"_s, u"delete|3"_s, u"delete|2"_s}));
        EXPECT_EQ(
            rows(u"SELECT before_values, after_values FROM History WHERE action = 'edit' AND DataSet = '%1'"_s.arg(
                dataSet)),
            QStringList{u"{\"Total\":100}|{\"Total\":60}"_s});
        EXPECT_EQ(m_prompter.messages.size(), 1) << m_prompter.messages.join(u'\n').toStdString();
        m_prompter.messages.clear();
    }
}

// Another data set opened (or this one imported again) while the window and the editor are open.
TEST_F(DetailWindowTest, ChangeOfDataSetClosesTheWindowAndTheEditor)
{
    insertExample({});
    open(plainSettings());
    onEditor([this](RecordEditor& e) {
        m_state.CurrentDataSet = u"Dec06"_s;
        m_window->closeForOtherDataSet();
        EXPECT_FALSE(e.isVisible());
    });
    child<QPushButton>("Button2")->click();
    EXPECT_FALSE(m_window->isVisible());
    // The record added for the editor went again, from its own data set.
    EXPECT_EQ(storedRows(), 2);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

TEST_F(DetailWindowTest, AddThenCancelLeavesNothing)
{
    insertExample({});
    open(plainSettings());
    onEditor([this](RecordEditor& e) {
        retype("total", u"500"_s);
        QTest::keyClick(&e, Qt::Key_Escape);
    });
    child<QPushButton>("Button2")->click();
    EXPECT_EQ(m_editorTitle, u"Add New Record \u2013 Dr Ann Smith (100)"_s);
    EXPECT_EQ(storedRows(), 2);
    EXPECT_EQ(gridRows(), 2);
    EXPECT_EQ(text("lbTotal"), u"150.01"_s);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

TEST_F(DetailWindowTest, AddThenOkStoresAPayRunDateAndTypedValues)
{
    insertExample({});
    open(plainSettings());
    onEditor([this](RecordEditor& e) {
        // The last record's date, not today's, in a data set not named by its month.
        EXPECT_EQ(field<MaskedEdit>("dt")->maskedText(), u"07/11/06"_s);
        retype("dt", u"090107"_s);
        EXPECT_EQ(e.RecordNumber, 3);
        retype("location", u"O'Brien's Surgery"_s);
        retype("total", u"25.5"_s);
        QTest::keyClick(field("total"), Qt::Key_Return);
    });
    child<QPushButton>("Button2")->click();
    ASSERT_EQ(gridRows(), 3);
    EXPECT_EQ(cell(2, u"Shift_Date"_s), u"09/01/2007"_s);
    EXPECT_EQ(cell(2, u"Location"_s), u"O'Brien's Surgery"_s);
    EXPECT_EQ(cell(2, u"Total"_s), u"25.50"_s);
    EXPECT_EQ(text("lbTotal"), u"175.51"_s);
    EXPECT_EQ(rows(u"SELECT recno, id, Shift_Date, Location, Times, superfee FROM Details WHERE recno = 3"_s),
              QStringList{u"3|100|2007-01-09|O'Brien's Surgery| |0"_s});
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

TEST_F(DetailWindowTest, InvalidDateKeepsEditorOpenAndCancelRemovesTheAdd)
{
    insertExample({});
    open(plainSettings());
    onEditor([this](RecordEditor& e) {
        retype("location", u"Kept"_s);
        retype("dt", u"310206"_s);
        QTest::mouseClick(field<QPushButton>("OKBtn"), Qt::LeftButton);
        EXPECT_TRUE(e.isVisible());
        EXPECT_EQ(field("location")->text(), u"Kept"_s);
        field<QPushButton>("CancelBtn")->click();
    });
    child<QPushButton>("Button2")->click();
    EXPECT_EQ(m_prompter.messages, QStringList{u"error: Invalid date: tmp: 31/02/06, day: 31, month: 2, year: 6"_s});
    EXPECT_EQ(storedRows(), 2);
    EXPECT_EQ(gridRows(), 2);
}

TEST_F(DetailWindowTest, EditWritesAndTotalsFollow)
{
    insertExample({});
    open(plainSettings());
    child<QToolButton>("nbNext")->click();
    onEditor([this](RecordEditor& e) {
        EXPECT_EQ(e.RecordNumber, 2);
        EXPECT_EQ(field("total")->text(), u"40.00"_s);
        retype("total", u"60"_s);
        retype("notes", u"it's late"_s);
        field<QPushButton>("OKBtn")->click();
    });
    // The keyboard's way to the editor.
    QTest::keyClick(grid(), Qt::Key_Return);
    EXPECT_EQ(m_editorTitle, u"Edit Record \u2013 Dr Ann Smith (100)"_s);
    EXPECT_EQ(rows(u"SELECT Total, Notes, AdjustmentTime, Extra FROM Details WHERE recno = 2"_s),
              QStringList{u"60|it's late|30|1"_s});
    EXPECT_EQ(rows(u"SELECT Total FROM Details WHERE recno = 1"_s), QStringList{u"100.004"_s});
    EXPECT_EQ(text("lbTotal"), u"170.00"_s);
    EXPECT_EQ(m_window->currentShiftRow()->value(u"recno"_s).toInt(), 2);
}

TEST_F(DetailWindowTest, FailedUpdateIsReportedAndUndoesTheAdd)
{
    insertExample({});
    open(plainSettings());
    exec(u"CREATE TRIGGER refuse BEFORE UPDATE ON Details BEGIN SELECT RAISE(ABORT, 'no'); END"_s);
    onEditor([this](RecordEditor&) { field<QPushButton>("OKBtn")->click(); });
    child<QPushButton>("Button2")->click();
    ASSERT_EQ(m_prompter.messages.size(), 1);
    EXPECT_TRUE(m_prompter.messages[0].startsWith(u"error: Error updating data: UPDATE Details\nSET Shift_Date"_s));
    EXPECT_TRUE(m_prompter.messages[0].contains(u"\nWHERE DataSet = 'Nov06' AND recno = 3\nAND id = '100' AND "_s));
    EXPECT_EQ(storedRows(), 2);
}

TEST_F(DetailWindowTest, FailedInsertOpensNoEditor)
{
    insertExample({});
    open(plainSettings());
    exec(u"CREATE TRIGGER refuse BEFORE INSERT ON Details BEGIN SELECT RAISE(ABORT, 'no'); END"_s);
    bool opened = false;
    QObject::connect(m_editor.get(), &QDialog::finished, [&] { opened = true; });
    child<QPushButton>("Button2")->click();
    EXPECT_FALSE(opened);
    ASSERT_EQ(m_prompter.messages.size(), 1);
    EXPECT_EQ(m_prompter.messages[0], u"error: SQL Error: INSERT into Details\nVALUES(3, 'Nov06', '100','2006-11-07'"
                                      u",' ',' ',' ','0.00','0.00', 0, '0.00', 0, ' ', 0, 0)\n"_s);
    EXPECT_EQ(rows(u"SELECT Total FROM Details ORDER BY recno"_s), (QStringList{u"100.004"_s, u"40.003"_s}));
}

TEST_F(DetailWindowTest, DeleteAsksFirst)
{
    insertExample({});
    open(plainSettings());
    child<QToolButton>("nbLast")->click();
    EXPECT_FALSE(child<QToolButton>("nbNext")->isEnabled());

    m_prompter.answers = {false};
    child<QToolButton>("nbDelete")->click();
    EXPECT_EQ(storedRows(), 2);

    m_prompter.answers = {true};
    QTest::keyClick(grid(), Qt::Key_Delete, Qt::ControlModifier);
    // The question names the record: its date, shift and net.
    const QString question = u"question: Delete the record of 07/11/2006, Eve, net 50.00?"_s;
    EXPECT_EQ(m_prompter.messages, (QStringList{question, question}));
    EXPECT_EQ(rows(u"SELECT recno FROM Details"_s), QStringList{u"1"_s});
    EXPECT_EQ(gridRows(), 1);
    EXPECT_EQ(text("lbTotal"), u"100.00"_s);

    m_prompter.answers = {true};
    child<QToolButton>("nbDelete")->click();
    EXPECT_EQ(gridRows(), 0);
    EXPECT_FALSE(child<QToolButton>("nbDelete")->isEnabled());
    EXPECT_EQ(text("lbTotal"), u"0.00"_s);
}

TEST_F(DetailWindowTest, MessagesBelongToTheWindowThatAskedAndRiskyQuestionsDefaultToNo)
{
    insertExample({});
    QWidget mainWindow;
    mainWindow.show();
    MessageBoxPrompter boxes(&mainWindow);
    open(plainSettings(), &boxes);
    QApplication::setActiveWindow(m_window.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));

    BoxSeen question;
    answerNextBox(&question);
    child<QToolButton>("nbDelete")->click();
    EXPECT_EQ(question.parent, m_window.get());
    EXPECT_EQ(question.defaultButton, QMessageBox::No);
    EXPECT_EQ(storedRows(), 2); // Escape is No

    // The editor's own message is the editor's.
    BoxSeen invalidDate;
    onEditor([&](RecordEditor& e) {
        retype("dt", u"310206"_s);
        answerNextBox(&invalidDate);
        field<QPushButton>("OKBtn")->click();
        e.reject();
    });
    QTest::keyClick(grid(), Qt::Key_Return);
    EXPECT_EQ(invalidDate.parent, m_editor.get());
    EXPECT_TRUE(invalidDate.text.startsWith(u"Invalid date"_s));

    // Escape closes the window.
    QTest::keyClick(grid(), Qt::Key_Escape);
    EXPECT_FALSE(m_window->isVisible());
    m_editor.reset();
    m_window.reset();
}

// Nothing to edit: Enter (or a double-click) adds a record, as "+" does, and what is typed is kept.
TEST_F(DetailWindowTest, EnterOnAnEmptyGridAddsARecord)
{
    insertDoctor({});
    open(plainSettings());
    onEditor([this](RecordEditor&) {
        retype("total", u"12"_s);
        field<QPushButton>("OKBtn")->click();
    });
    QTest::keyClick(grid(), Qt::Key_Return);
    EXPECT_EQ(m_editorTitle, u"Add New Record \u2013 Dr Ann Smith (100)"_s);
    EXPECT_EQ(rows(u"SELECT Total FROM Details"_s), QStringList{u"12"_s});
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

// The record editor opens over the detail window, wherever that is, and later where it was left.
TEST_F(DetailWindowTest, EditorOpensOverTheWindowThenWhereItWasLeft)
{
    UserWindowSettings()->clear();
    insertExample({});
    open(plainSettings());
    m_window->setGeometry(QRect(m_window->screen()->availableGeometry().topLeft() + QPoint(10, 40), QSize(640, 480)));
    QList<QRect> places;
    for (int i = 0; i < 2; ++i) {
        onEditor([&](RecordEditor& e) {
            places.append(e.geometry());
            e.move(e.pos() + QPoint(7, 9));
            e.reject();
        });
        QTest::keyClick(grid(), Qt::Key_Return);
    }
    EXPECT_LE((places[0].center() - m_window->geometry().center()).manhattanLength(), 2);
    EXPECT_EQ(places[1].topLeft(), places[0].topLeft() + QPoint(7, 9));
    UserWindowSettings()->clear();
}

// With fees split (the sample's settings) an added and a corrected shift are paid: in the window,
// in the figures the documents use, and with the parts named beside the total.
TEST_F(DetailWindowTest, AddedAndEditedShiftsArePaidWithSplitFees)
{
    insertExample({.annuity = 6});
    AppSettings s = plainSettings(6);
    s.PartSuperannuation = true;
    open(s);
    EXPECT_EQ(text("Label3"), u"Total: superannuable / non-superannuable"_s);
    EXPECT_EQ(text("lbTotal"), u"130.00 / 20.00"_s);
    const auto figures = [this] {
        const QString ini = writeFile(u"split.ini"_s, "[DEFAULTS]\nSuperannuation=6\nPartSuperannuation=1\n");
        const CliRun r = cli({u"figures"_s, u"--dataset"_s, u"Nov06"_s}, ini);
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
        return r.out.split(u'\n').value(1);
    };
    onEditor([this](RecordEditor&) {
        retype("total", u"500"_s);
        field<QPushButton>("OKBtn")->click();
    });
    child<QPushButton>("Button2")->click();
    EXPECT_EQ(text("lbTotal"), u"630.00 / 20.00"_s);
    // gross, superannuation, (none), net, (none), superannuable, non-superannuable
    EXPECT_EQ(figures(), u"100\t630.00\t37.80\t0.00\t592.20\t0.00\t630.00\t20.00\tN\tN"_s);

    // The first record corrected by 10.00 less: its superannuable part with it.
    child<QToolButton>("nbFirst")->click();
    onEditor([this](RecordEditor&) {
        retype("total", u"90"_s);
        field<QPushButton>("OKBtn")->click();
    });
    QTest::keyClick(grid(), Qt::Key_Return);
    EXPECT_EQ(figures(), u"100\t620.00\t37.20\t0.00\t582.80\t0.00\t620.00\t20.00\tN\tN"_s);
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
}

TEST_F(DetailWindowTest, SendingBlocksClosing)
{
    insertExample({});
    AppSettings s = plainSettings();
    s.ProForma = true;
    open(s);
    bool busyWhileSending = false;
    bool closedWhileSending = true;
    QObject::connect(m_window.get(), &DetailWindow::sendRequested,
                     [&](const QSqlRecord& doctor, const QList<QSqlRecord>& shiftRows) {
                         EXPECT_EQ(doctor.value(u"id"_s).toString(), u"100"_s);
                         EXPECT_EQ(shiftRows.size(), 2);
                         busyWhileSending = m_window->sendingBusy() && !child<QPushButton>("Button1")->isEnabled();
                         child<QAction>("Close1")->trigger();
                         closedWhileSending = !m_window->isVisible();
                     });

    m_prompter.answers = {false};
    child<QAction>("Send1")->trigger();
    EXPECT_FALSE(busyWhileSending);

    m_prompter.answers = {true};
    child<QAction>("Send1")->trigger();
    EXPECT_TRUE(busyWhileSending);
    EXPECT_FALSE(closedWhileSending);
    EXPECT_EQ(m_prompter.messages, (QStringList{u"question: Send Pro-Forma Invoice to ann@example.org?"_s,
                                                u"question: Send Pro-Forma Invoice to ann@example.org?"_s}));
    EXPECT_TRUE(child<QPushButton>("Button1")->isEnabled());
    child<QPushButton>("Button1")->click();
    EXPECT_FALSE(m_window->isVisible());
}

TEST_F(DetailWindowTest, DocumentEntriesHandOverDoctorAndFigures)
{
    insertExample({.annuity = 2});
    open(pensionSettings(5));
    QSignalSpy print(m_window.get(), &DetailWindow::printRequested);
    QSignalSpy pension(m_window.get(), &DetailWindow::pensionFormRequested);
    QSignalSpy setup(m_window.get(), &DetailWindow::printerSetupRequested);

    child<QAction>("PrintPreview1")->trigger();
    child<QAction>("PrintThisPage1")->trigger();
    ASSERT_EQ(print.size(), 2);
    EXPECT_TRUE(print[0][2].toBool());
    EXPECT_FALSE(print[1][2].toBool());
    EXPECT_EQ(print[0][0].value<QSqlRecord>().value(u"sname"_s).toString(), u"Smith"_s);

    child<QAction>("PreviewSoloForm1")->trigger();
    EXPECT_TRUE(m_state.PreviewPensionForm);
    FileDialogs::setNextFileName(QString()); // cancelled
    child<QAction>("CreateSoloPDF1")->trigger();
    FileDialogs::setNextFileName(path(u"solo.pdf"_s));
    child<QAction>("CreateSoloPDF1")->trigger();
    ASSERT_EQ(pension.size(), 2);
    EXPECT_EQ(pension[0][0].toString(), QString());
    EXPECT_EQ(pension[1][0].toString(), path(u"solo.pdf"_s));
    const auto figures = pension[1][2].value<PaymentFigures>();
    EXPECT_DOUBLE_EQ(figures.superannuableFees, 150.007);
    EXPECT_EQ(figures.superannuation, 7.5);
    EXPECT_EQ(figures.additionalContribution, 3.0);
    EXPECT_EQ(figures.employerContribution, 21.0);
    ASSERT_EQ(FileDialogs::requests().size(), 2);
    EXPECT_EQ(FileDialogs::requests()[0].nameFilters, QStringList{u"Adobe PDF files (*.pdf)"_s});
    EXPECT_EQ(FileDialogs::requests()[0].defaultSuffix, u"pdf"_s);
    // Named for the doctor and the run, in the folder last saved to.
    EXPECT_EQ(QFileInfo(FileDialogs::requests()[0].directory).fileName(), u"Solo_Smith_Nov06.pdf"_s);
    FileDialogs::setNextFileName(QString());
    child<QAction>("CreateSoloPDF1")->trigger();
    EXPECT_EQ(FileDialogs::requests().value(2).directory, path(u"Solo_Smith_Nov06.pdf"_s));

    child<QAction>("PrinterSetup1")->trigger();
    EXPECT_EQ(setup.size(), 1);
}

// Two clerks on one database: this one in the windows, the other through a connection of its own.
class ClerksWindows : public DetailWindowTest
{
protected:
    void SetUp() override
    {
        DetailWindowTest::SetUp();
        insertDoctor({});
        m_other = openAnother(u"other clerk"_s);
    }
    void TearDown() override
    {
        m_other = QSqlDatabase();
        CloseDatabase(u"other clerk"_s);
        DetailWindowTest::TearDown();
    }
    void otherClerk(const QString& sql)
    {
        QSqlQuery q(m_other);
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
    }
    QSqlDatabase m_other;
};
VELMAR_ON_EACH_STORE(ClerksWindows);

// What the other clerk did while the editor was open is never saved over; the typing stays. A record
// nobody touched is saved whatever the digits of its amounts (only written in full do they compare equal).
TEST_P(ClerksWindows, SavingOverAnotherClerksChangeIsRefusedAndTheTypingKept)
{
    const struct
    {
        double total;
        QString change;
    } cases[] = {
        {-2.288327, {}},
        {100, u"UPDATE Details SET Total = 120 WHERE recno = 1"_s},
        {100, u"UPDATE Details SET Notes = NULL WHERE recno = 1"_s},
        {100, u"DELETE FROM Details WHERE recno = 1"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.change.toStdString());
        const bool refused = !c.change.isEmpty();
        exec(u"DELETE FROM Details"_s);
        insertShift({.recno = 1, .total = c.total, .superfee = 0.024421});
        m_prompter.messages.clear();
        open(plainSettings());
        QStringList before;
        onEditor([&](RecordEditor& e) {
            if (refused)
                otherClerk(c.change);
            before = rows(u"SELECT Total, Notes FROM Details"_s);
            retype("notes", u"mine"_s);
            field<QPushButton>("OKBtn")->click();
            EXPECT_EQ(e.isVisible(), refused);
            EXPECT_EQ(field("notes")->text(), u"mine"_s);
            e.reject();
        });
        QTest::keyClick(grid(), Qt::Key_Return);
        if (refused) {
            EXPECT_EQ(m_prompter.messages,
                      QStringList{
                          u"error: The record was changed by someone else since you opened it. Nothing was saved."_s});
            EXPECT_EQ(rows(u"SELECT Total, Notes FROM Details"_s), before);
        } else {
            EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
            EXPECT_EQ(rows(u"SELECT Notes FROM Details"_s), QStringList{u"mine"_s});
        }
    }
}

TEST_P(ClerksWindows, DeletingARecordGoneElsewhereSaysSo)
{
    insertShift({.recno = 1, .total = 100});
    open(plainSettings());
    otherClerk(u"DELETE FROM Details WHERE recno = 1"_s);
    m_prompter.answers = {true};
    child<QToolButton>("nbDelete")->click();
    EXPECT_EQ(m_prompter.messages.value(1),
              u"error: The record was not found: it was changed or deleted elsewhere. Nothing was saved."_s);
}

// The window shows what was stored when it was shown; showing it again shows the other clerk's work.
TEST_P(ClerksWindows, DetailWindowPicksUpTheOtherClerksChangesWhenShownAgain)
{
    insertShift({.recno = 1, .total = 100});
    open(plainSettings());
    // Columns found by the titles the statement gives them, whatever the store does with their case.
    EXPECT_EQ(cell(0, u"Shift_Date"_s), u"05/11/2006"_s);
    EXPECT_EQ(cell(0, u"Adj_Time"_s), u"00:00"_s);
    otherClerk(u"UPDATE Details SET Total = 120 WHERE recno = 1"_s);
    EXPECT_EQ(cell(0, u"Total"_s), u"100.00"_s);
    EXPECT_EQ(text("lbTotal"), u"100.00"_s);
    reshow();
    EXPECT_EQ(cell(0, u"Total"_s), u"120.00"_s);
    EXPECT_EQ(text("lbTotal"), u"120.00"_s);
}
