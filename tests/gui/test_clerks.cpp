#include "payments/paymentstest.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "db/database.h"
#include "gui/detailwindow.h"
#include "gui/recordeditor.h"
#include "payments/payments.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

#include <memory>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

// Two clerks on one database: this one in the windows, the other through a connection of its own.
class ClerksWindows : public PaymentsTest
{
protected:
    void SetUp() override
    {
        PaymentsTest::SetUp();
        m_state.CurrentDataSet = u"Nov06"_s;
        m_state.CurrentDoctorId = u"100"_s;
        insertDoctor({});
        insertShift({.recno = 1, .total = 100});
        m_other = openAnother(u"other clerk"_s);
    }
    void TearDown() override
    {
        m_editor.reset();
        m_window.reset();
        m_other = QSqlDatabase();
        CloseDatabase(u"other clerk"_s);
        PaymentsTest::TearDown();
    }
    void otherClerk(const QString& sql)
    {
        QSqlQuery q(m_other);
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
    }
    // The editor on record 1 as the detail window had read it.
    void openEditor()
    {
        QList<QSqlRecord> rows;
        ASSERT_TRUE(LoadShiftRows(m_db, u"Nov06"_s, u"100"_s, &rows, m_prompter));
        ASSERT_EQ(rows.size(), 1);
        m_editor = std::make_unique<RecordEditor>(m_settings, m_state, m_db, m_prompter);
        m_editor->setShiftRow(rows.first());
        m_editor->show();
    }
    void type(const char* field, const QString& text)
    {
        auto* edit = m_editor->findChild<QLineEdit*>(QString::fromUtf8(field));
        ASSERT_NE(edit, nullptr);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    void ok() { m_editor->findChild<QPushButton*>(u"OKBtn"_s)->click(); }
    QString gridCell(int column)
    {
        const QAbstractItemModel* m = m_window->findChild<QTableView*>(u"DBGrid1"_s)->model();
        return m->index(0, column).data().toString();
    }

    AppSettings m_settings;
    AppState m_state;
    QSqlDatabase m_other;
    std::unique_ptr<DetailWindow> m_window;
    std::unique_ptr<RecordEditor> m_editor;
};
VELMAR_ON_EACH_STORE(ClerksWindows);

TEST_P(ClerksWindows, SavingOverAnotherClerksChangeIsRefusedAndTheTypingKept)
{
    for (const QString& change :
         {u"UPDATE Details SET Total = 120 WHERE recno = 1"_s, u"UPDATE Details SET Notes = NULL WHERE recno = 1"_s,
          u"DELETE FROM Details WHERE recno = 1"_s}) {
        exec(u"DELETE FROM Details"_s);
        insertShift({.recno = 1, .total = 100});
        m_prompter.messages.clear();
        openEditor();
        otherClerk(change);
        const QStringList before = rows(u"SELECT Total, Notes FROM Details"_s);
        type("notes", u"mine"_s);
        ok();
        EXPECT_TRUE(m_editor->isVisible()) << change.toStdString();
        EXPECT_EQ(m_editor->findChild<QLineEdit*>(u"notes"_s)->text(), u"mine"_s);
        EXPECT_EQ(
            m_prompter.messages,
            QStringList{u"error: The record was changed by someone else since you opened it. Nothing was saved."_s});
        EXPECT_EQ(rows(u"SELECT Total, Notes FROM Details"_s), before) << change.toStdString();
    }
}

// Values that only survive the round trip through the statement's text when written in full.
TEST_P(ClerksWindows, AnUnchangedRecordIsSavedWhateverItsDigits)
{
    exec(u"DELETE FROM Details"_s);
    insertShift({.recno = 1, .total = -2.288327, .superfee = 0.024421});
    openEditor();
    type("notes", u"checked"_s);
    ok();
    EXPECT_FALSE(m_editor->isVisible());
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(rows(u"SELECT Notes FROM Details"_s), QStringList{u"checked"_s});
}

// The window shows what was stored when it was shown; showing it again shows the other clerk's work.
TEST_P(ClerksWindows, DetailWindowPicksUpTheOtherClerksChangesWhenShownAgain)
{
    m_window = std::make_unique<DetailWindow>(m_settings, m_state, m_db, m_prompter);
    m_window->show();
    const QAbstractItemModel* grid = m_window->findChild<QTableView*>(u"DBGrid1"_s)->model();
    // Titles as the statement names its columns, whatever the store does with their case.
    EXPECT_EQ(grid->headerData(2, Qt::Horizontal).toString(), u"Shift_Date"_s);
    EXPECT_EQ(grid->headerData(8, Qt::Horizontal).toString(), u"Adj_Time"_s);
    EXPECT_EQ(gridCell(2), u"05/11/2006"_s);
    EXPECT_EQ(gridCell(7), u"100.00"_s);

    otherClerk(u"UPDATE Details SET Total = 120 WHERE recno = 1"_s);
    EXPECT_EQ(gridCell(7), u"100.00"_s);
    EXPECT_EQ(m_window->findChild<QLabel*>(u"lbTotal"_s)->text(), u"100.00"_s);
    m_window->hide();
    m_window->show();
    EXPECT_EQ(gridCell(7), u"120.00"_s);
    EXPECT_EQ(m_window->findChild<QLabel*>(u"lbTotal"_s)->text(), u"120.00"_s);
}
