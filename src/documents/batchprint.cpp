#include "documents/batchprint.h"

#include "core/appstate.h"
#include "core/prompter.h"
#include "db/database.h"
#include "db/reading.h"
#include "documents/documents.h"
#include "payments/payments.h"

namespace velmar {

QString ProgressPercentText(int low, int high, int position)
{
    const int percent = high == low ? 0 : (position - low) * 100 / (high - low);
    return QString::number(percent) + u'%';
}

BatchPrint::BatchPrint(Documents& documents, AppState& state, const QSqlDatabase& db, Prompter& prompter,
                       ProgressDisplay& progress)
    : m_documents(documents), m_state(state), m_db(db), m_prompter(prompter), m_progress(progress)
{
}

int BatchPrint::PrintAll1Click(bool dataSetOpen)
{
    if (!dataSetOpen) {
        m_prompter.information(QStringLiteral("Please open a file before printing"));
        return -1;
    }
    const bool sending = m_state.SendingMode;
    if (sending) {
        const QString result =
            SmtpLogin ? SmtpLogin() : QStringLiteral("E-mail is not available logging into email server");
        if (!result.isEmpty()) {
            m_prompter.error(result);
            return -1;
        }
    }

    m_run = Outcome();
    // The data set, its label and its doctors are those of the start, whatever opens meanwhile.
    const DataSetPin pin(m_documents);
    const QString dataSet = m_documents.dataSet();
    m_running = true;
    const auto endRun = [&](int result) {
        if (sending && Disconnect)
            Disconnect();
        m_progress.hideProgress();
        m_running = false;
        return result;
    };

    // Every doctor as one moment left him: another clerk's re-import during the run is seen wholly or
    // not at all.
    const ReadSnapshot snapshot(m_db);
    if (!snapshot.isActive()) {
        m_prompter.error(snapshot.trouble());
        return endRun(-1);
    }
    const auto failed = [this](const QString& trouble, const QString& statement) {
        m_prompter.error(trouble.isEmpty() ? QStringLiteral("Database error: %1").arg(StatementText({statement}))
                                           : trouble);
    };
    // The documents read on their own between doctors.
    DataSetReader reader(m_db, dataSet, true);
    QList<QSqlRecord> listed;
    if (!reader.readDoctors(&listed)) {
        failed(reader.trouble(), reader.statement());
        return endRun(-1);
    }
    // Each doctor of the run with his place in the list, where his shift rows are found.
    QList<QSqlRecord> doctors;
    QList<int> places;
    for (int i = 0; i < listed.size(); ++i) {
        if (sending && Wanted && !Wanted(listed.at(i)))
            continue;
        doctors.append(listed.at(i));
        places.append(i);
    }
    m_run.doctors = int(doctors.size());
    m_progress.SetProgressRange(0, int(doctors.size()));
    m_progress.setRunName(sending ? QStringLiteral("Sending") : QStringLiteral("Printing"));
    m_progress.showProgress();
    int i = 0;
    for (; i < doctors.size(); ++i) {
        if (StopRequested && StopRequested())
            break;
        const QSqlRecord& doctor = doctors.at(i);
        const QString name = DoctorFullName(doctor);
        // Named before the position moves: the window repaints there.
        m_progress.setProgressText(name);
        m_progress.SetProgressPosition(i);
        const QString statement = ShiftRowsStatement(dataSet, doctor.value(QStringLiteral("id")).toString());
        QList<QSqlRecord> shiftRows;
        if (!reader.shiftRows(places.at(i), &shiftRows)) {
            failed(reader.trouble(), reader.statement());
            m_run.untried = m_run.doctors - i;
            return endRun(-1);
        }
        if (m_documents.ProduceInvoice(doctor, shiftRows, statement, false)) {
            ++m_run.done;
            continue;
        }
        m_run.failed.append(name);
        if (!sending && m_documents.lastFailure() == Documents::Failure::Output) {
            m_run.outputFailed = true;
            ++i;
            break;
        }
    }
    m_run.untried = m_run.doctors - i;
    // The bar ends where the run did: full when every doctor was done.
    if (i > 0)
        m_progress.SetProgressPosition(i);
    return endRun(m_run.done);
}

} // namespace velmar
