#include "documents/batchprint.h"

#include "core/appstate.h"
#include "core/prompter.h"
#include "db/database.h"
#include "db/nameorder.h"
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

    int done = 0;
    m_doctorsInRun = 0;
    const auto endRun = [&](int result) {
        if (sending && Disconnect)
            Disconnect();
        m_progress.hideProgress();
        return result;
    };

    const QString doctorsStatement =
        QStringLiteral("SELECT * FROM Headers WHERE DataSet = '%1' ORDER by %2, rowid")
            .arg(QuoteForSql(m_state.CurrentDataSet), OrderByName(QStringLiteral("sname")));
    QList<QSqlRecord> doctors;
    if (!QueryRecords(m_db, doctorsStatement, &doctors)) {
        m_prompter.error(QStringLiteral("Database error: %1").arg(StatementText({doctorsStatement})));
        return endRun(-1);
    }
    if (sending && Wanted)
        doctors.removeIf([this](const QSqlRecord& doctor) { return !Wanted(doctor); });
    m_doctorsInRun = int(doctors.size());
    m_progress.SetProgressRange(0, int(doctors.size()));
    m_progress.showProgress();
    for (int i = 0; i < doctors.size(); ++i) {
        if (sending && StopRequested && StopRequested())
            break;
        m_progress.SetProgressPosition(i);
        const QSqlRecord& doctor = doctors.at(i);
        const QString statement =
            ShiftRowsStatement(m_state.CurrentDataSet, doctor.value(QStringLiteral("id")).toString());
        QList<QSqlRecord> shiftRows;
        if (!QueryRecords(m_db, statement, &shiftRows)) {
            m_prompter.error(QStringLiteral("Database error: %1").arg(StatementText({statement})));
            return endRun(-1);
        }
        if (m_documents.ProduceInvoice(doctor, shiftRows, statement, false))
            ++done;
    }
    return endRun(done);
}

} // namespace velmar
