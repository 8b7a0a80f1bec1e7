// The sending entries of the windows, against the scripted mail server: Cancel, Exit during a run,
// a second run refused, the Send Log window and the detail window's status line.
#include "core/clock.h"
#include "documents/reportsfixture.h"
#include "gui/detailwindow.h"
#include "gui/mainwindow.h"
#include "gui/progresswindow.h"
#include "gui/reportscontroller.h"
#include "gui/sendingcontroller.h"
#include "gui/sendlogwindow.h"
#include "sending/sendlog.h"

#include "scriptedserver.h"

#include <QAction>
#include <QApplication>
#include <QBrush>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

class SendingUiTest : public ReportsTest
{
protected:
    void SetUp() override
    {
        ReportsTest::SetUp();
        settings.ProForma = true;
        settings.Server = u"127.0.0.1"_s;
        settings.SMTPPort = scripted.port();
        settings.FromAddress = u"pay@velmar.test"_s;
        const QList<std::pair<QString, QString>> doctors{
            {u"1"_s, u"Oakes"_s}, {u"2"_s, u"Fenwick"_s}, {u"3"_s, u"Moss"_s}};
        for (const auto& [id, sname] : doctors) {
            addDoctor({.id = id, .fname = u"Kim"_s, .sname = sname, .email = sname.toLower() + u"@example.test"_s});
            addShift(id, {});
        }
    }

    // The program's windows and controllers, as main() builds them.
    struct Program
    {
        explicit Program(SendingUiTest& t)
            : main(t.settings, t.state, t.m_db, t.m_prompter), detail(t.settings, t.state, t.m_db, t.m_prompter, &main),
              reports(t.settings, t.state, t.m_db, t.m_prompter, &main),
              sending(t.settings, t.state, t.m_db, reports, t.m_prompter, main)
        {
            reports.attach(main, detail);
            sending.attach(detail);
            sending.sender().session().setTimeout(5000);
            main.RefreshDoctorList();
        }
        QAction* action(QWidget& w, const char* name) { return w.findChild<QAction*>(QString::fromUtf8(name)); }

        MainWindow main;
        DetailWindow detail;
        ReportsController reports;
        SendingController sending;
    };

    ScriptedServer scripted;
};

TEST_F(SendingUiTest, CancelOrExitDuringARunStopsAfterTheMessageInFlight)
{
    struct Case
    {
        const char* how;
        bool stop;      // the answer to "Stop sending?"
        int sent;       // messages the server took
        bool closed;    // the program ends
        QString ending; // the last message the user sees
    };
    const QString refused = u"info: A sending run is in progress."_s;
    for (const Case& c : {Case{"Cancel", true, 2, false,
                               u"error: Sent 2 of 3: 0 failed, 0 unconfirmed, 0 skipped\nStopped on request"_s},
                          Case{"Exit", true, 2, true, u"question: Stop sending?"_s},
                          Case{"Exit", false, 3, false, u"info: Sent 3 of 3: 0 failed, 0 unconfirmed, 0 skipped"_s}}) {
        SCOPED_TRACE(std::string(c.how) + (c.stop ? " yes" : " no"));
        exec(u"DELETE FROM SendLog"_s);
        m_prompter.messages.clear();
        const qsizetype before = scripted.messages.size();
        Program p(*this);
        state.CurrentDataSet = u"DS1"_s;
        state.CurrentDoctorId = u"3"_s;
        p.detail.show();
        p.main.show();
        QSignalSpy closed(&p.main, &MainWindow::closed);

        // Users act while the mail dialogue waits: here while the server holds a message's answer.
        scripted.onMessage = [&] {
            const qsizetype done = scripted.messages.size() - before;
            if (done == 1) {
                EXPECT_TRUE(p.reports.progressWindow().findChild<QPushButton*>(u"btnCancel"_s)->isVisible());
                EXPECT_EQ(p.reports.progressWindow().shownText(), u"Sending 1 of 3: Dr Kim Fenwick"_s);
                EXPECT_EQ(p.reports.progressWindow().windowTitle(), u"Progress \u2013 Sending 1 of 3"_s);
                p.action(p.main, "SendAll1")->trigger();
                p.action(p.main, "SendNotYetSent1")->trigger();
                p.action(p.detail, "Send1")->trigger();
                p.action(p.detail, "PrintThisPage1")->trigger();
                // The run owns its data set: no other may be opened or imported meanwhile.
                p.action(p.main, "OpenExisting1")->trigger();
                p.action(p.main, "Open1")->trigger();
                p.main.ImportFile(u"other.pay"_s);
            } else if (done == 2 && QString::fromUtf8(c.how) == u"Cancel") {
                QTest::mouseClick(p.reports.progressWindow().findChild<QPushButton*>(u"btnCancel"_s), Qt::LeftButton);
            } else if (done == 2) {
                p.action(p.main, "Exit1")->trigger();
            }
        };
        m_prompter.answers = {true, c.stop};
        p.action(p.main, "SendAll1")->trigger();
        scripted.onMessage = {};

        EXPECT_EQ(scripted.messages.size() - before, c.sent);
        EXPECT_EQ(m_prompter.messages.mid(0, 8),
                  (QStringList{u"question: Send the pro-forma invoices of February 2005 Pay Run (DS1) to 3 doctors?"_s,
                               refused, refused, refused, refused, refused, refused, refused}));
        EXPECT_EQ(state.CurrentDataSet, u"DS1"_s);
        EXPECT_TRUE(m_prompter.messages.last().startsWith(c.ending)) << m_prompter.messages.last().toStdString();
        EXPECT_EQ(closed.size(), c.closed ? 1 : 0);
        EXPECT_EQ(p.main.isVisible(), !c.closed);
        EXPECT_TRUE(scripted.waitForHangUp());
        EXPECT_EQ(scripted.received.last(), "QUIT");
        EXPECT_FALSE(p.sending.sender().isRunning());
        EXPECT_FALSE(p.reports.progressWindow().isVisible());
        // Moss was the second doctor: his window says what became of him.
        EXPECT_TRUE(
            p.detail.findChild<QLabel*>(u"SendStatus"_s)->text().startsWith(u"Sent to moss@example.test on "_s));
    }
}

TEST_F(SendingUiTest, SendLogShowsTheLatestOutcomePerDoctorByNameFilteredAndCopyable)
{
    Program p(*this);
    state.CurrentDataSet.clear();
    p.main.RefreshDoctorList();
    p.action(p.main, "SendLog1")->trigger();
    EXPECT_EQ(m_prompter.messages, QStringList{u"info: Please open a file first"_s});

    const FixedClock clock(QDateTime(QDate(2025, 6, 5), QTime(14, 3, 9), Qt::UTC));
    // Oakes was sent a payment his figures no longer come to; Fenwick's went to the TEST address.
    const QList<std::tuple<const char*, SendOutcome, const char*, std::optional<double>>> attempts{
        {"2", SendOutcome::Skipped, "Dr Fenwick has no e-mail address", std::nullopt},
        {"2", SendOutcome::Test, "250 OK", 1.0},
        {"1", SendOutcome::Sent, "250 OK\nqueued", 0.01},
        {"3", SendOutcome::Unconfirmed, "no reply within 20 seconds", std::nullopt}};
    for (const auto& [id, outcome, reply, payment] : attempts) {
        QString error;
        ASSERT_TRUE(AppendSendLog(m_db,
                                  {u"DS1"_s, QString::fromUtf8(id), QString(), u"x@example.test"_s, u"x.pdf"_s,
                                   clock.now(), outcome, QString::fromUtf8(reply), payment},
                                  &error));
    }
    state.CurrentDataSet = u"DS1"_s;
    p.main.RefreshDoctorList();
    p.action(p.main, "SendLog1")->trigger();
    SendLogWindow& log = p.sending.sendLogWindow();
    ASSERT_TRUE(log.isVisible());
    const QString at = clock.now().toLocalTime().toString(u"dd/MM/yyyy hh:mm:ss"_s);
    EXPECT_EQ(log.shownRows(),
              (QStringList{u"2\tFenwick\tx@example.test\t"_s + at + u"\ttest to x@example.test\t250 OK"_s,
                           u"3\tMoss\tx@example.test\t"_s + at + u"\tunconfirmed\tno reply within 20 seconds"_s,
                           u"1\tOakes\tx@example.test\t"_s + at + u"\tchanged since sent\t250 OK queued"_s}));
    // One text line a row, a reply of two lines too; each outcome in a colour of its own.
    auto* grid = log.findChild<QTableView*>(u"sendLogGrid"_s);
    EXPECT_EQ(grid->rowHeight(2), grid->fontMetrics().height() + 6);
    QStringList colours;
    for (int r = 0; r < 3; ++r)
        colours.append(grid->model()->index(r, 4).data(Qt::ForegroundRole).value<QBrush>().color().name());
    colours.removeDuplicates();
    EXPECT_EQ(colours.size(), 3) << colours.join(u' ').toStdString();

    // By keyboard: Alt+S to the filter, to its last entry ("changed since sent"), back to the list
    // and copy.
    QApplication::setActiveWindow(&log);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&log));
    QTest::keyClick(&log, Qt::Key_S, Qt::AltModifier);
    auto* filter = log.findChild<QComboBox*>(u"cbOutcome"_s);
    ASSERT_TRUE(filter->hasFocus());
    QTest::keyClick(filter, Qt::Key_End);
    EXPECT_EQ(log.shownRows().size(), 1);
    EXPECT_TRUE(log.shownRows().value(0).startsWith(u"1\tOakes\t"_s));
    grid->setFocus();
    grid->selectRow(0);
    QTest::keySequence(grid, QKeySequence::Copy);
    EXPECT_EQ(QApplication::clipboard()->text(), log.shownRows().first() + u'\n');
    log.close();

    state.CurrentDoctorId = u"3"_s;
    p.detail.show();
    EXPECT_EQ(p.detail.findChild<QLabel*>(u"SendStatus"_s)->text(),
              u"Unconfirmed on "_s + at.left(16) + u": no reply within 20 seconds"_s);
    p.detail.hide();
    state.CurrentDoctorId = u"1"_s;
    p.detail.show();
    EXPECT_EQ(p.detail.findChild<QLabel*>(u"SendStatus"_s)->text(),
              u"Sent to x@example.test on "_s + at.left(16) + u"; changed since sent"_s);
    p.detail.hide();
    EXPECT_EQ(m_prompter.messages.size(), 1);
}

} // namespace
