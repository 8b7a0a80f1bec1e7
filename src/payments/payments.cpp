#include "payments/payments.h"

#include "core/appsettings.h"
#include "core/inifile.h"
#include "core/prompter.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/dialect.h"
#include "db/nameorder.h"
#include "db/reading.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace velmar {

double RoundMoney(double value)
{
    return RoundedToPence(value);
}

QString FormatAddressLines(const QString& text)
{
    // QString::replace makes one left-to-right pass and never looks at what it put in, so of two
    // single-space parts in a row one survives.
    QString lines = text;
    lines.replace(QStringLiteral("| |"), QStringLiteral("|"));
    lines.replace(u'|', u'\r');
    return lines;
}

QString DoctorFullName(const QSqlRecord& doctor)
{
    const auto text = [&doctor](const char* column) { return doctor.value(QString::fromUtf8(column)).toString(); };
    return text("title") + u' ' + text("fname") + u' ' + text("sname");
}

QString DoctorStatement(const QString& dataSet, const QString& doctorId)
{
    return QStringLiteral("SELECT * FROM Headers WHERE DataSet = '%1' AND id = '%2'")
        .arg(QuoteForSql(dataSet), QuoteForSql(doctorId));
}

namespace {

// The shift-rows select list up to FROM, with the data set's column and the whole row named as given.
QString shiftColumns(const QString& dataSet, const QString& everyColumn)
{
    // 60.0, not 60: SQLite divides integers without a remainder. Each derived column is written out
    // in full because a select list cannot refer to an alias defined earlier in it.
    const QString gap(29, u' ');
    return QStringLiteral("SELECT recno, %1, Shift_Date, Location, Shift, Times,").arg(dataSet) + gap +
           QStringLiteral("Rate, Total, AdjustmentTime / 60.0 as Adj_Time, AdjustmentRate,") + gap +
           QStringLiteral("(Extra * AdjustmentRate * AdjustmentTime / 60.0) as Adjustment,") + gap +
           QStringLiteral("Total + (Extra * AdjustmentRate * AdjustmentTime / 60.0) as Net,") + gap +
           QStringLiteral("Notes, ") + everyColumn;
}

QString doctorsStatement(const QString& dataSet, Dialect dialect, const QString& columns = QStringLiteral("*"))
{
    // Surname order as the doctor list shows it; rowid keeps equal surnames in a stable order.
    return QStringLiteral("SELECT %1 FROM Headers WHERE DataSet = '%2' ORDER by %3, rowid")
        .arg(columns, QuoteForSql(dataSet), OrderByName(QStringLiteral("sname"), dialect));
}

} // namespace

QString ShiftRowsStatement(const QString& dataSet, const QString& doctorId)
{
    return shiftColumns(QStringLiteral("DataSet"), QStringLiteral("*")) +
           QStringLiteral(" FROM Details WHERE DataSet = '%1' AND id = '%2' ORDER BY recno")
               .arg(QuoteForSql(dataSet), QuoteForSql(doctorId));
}

DataSetReader::DataSetReader(const QSqlDatabase& db, const QString& dataSet, bool readsBetween)
    : m_db(db), m_dataSet(dataSet), m_doctorsStatement(doctorsStatement(dataSet, DialectOf(db))),
      m_perDoctor(readsBetween && DialectOf(db) == Dialect::PostgreSQL)
{
}

DataSetReader::~DataSetReader() = default;

bool DataSetReader::readDoctors(QList<QSqlRecord>* doctors)
{
    m_statement = m_doctorsStatement;
    if (!QueryRecords(m_db, m_doctorsStatement, &m_doctors, nullptr, &m_trouble))
        return false;
    *doctors = m_doctors;
    return true;
}

bool DataSetReader::shiftRows(int index, QList<QSqlRecord>* rows)
{
    if (m_perDoctor) {
        m_statement = ShiftRowsStatement(m_dataSet, m_doctors.value(index).value(QStringLiteral("id")).toString());
        return QueryRecords(m_db, m_statement, rows, nullptr, &m_trouble);
    }
    if (!m_rows) {
        // Each doctor's rows in a run of their own, the runs in the order of the doctor list; the
        // Headers row last, to tell apart doctors stored twice under one id.
        m_statement = shiftColumns(QStringLiteral("Details.DataSet AS DataSet"), QStringLiteral("Details.*")) +
                      QStringLiteral(", Headers.rowid") +
                      QStringLiteral(" FROM Details INNER JOIN Headers ON Details.DataSet = Headers.DataSet AND "
                                     "Details.id = Headers.id WHERE Details.DataSet = '%1' ORDER BY %2, Headers.rowid, "
                                     "Details.recno")
                          .arg(QuoteForSql(m_dataSet), OrderByName(QStringLiteral("Headers.sname"), DialectOf(m_db)));
        m_rows = std::make_unique<ReadQuery>(m_db, m_statement);
        m_layout = m_rows->query().record();
        m_layout.clearValues();
        m_layout.remove(m_layout.count() - 1);
        SpellColumnsAsWritten(&m_layout, m_statement);
        m_pending = m_rows->next();
    }
    const int idColumn = m_layout.indexOf(QStringLiteral("id"));
    const int doctorColumn = m_layout.count();
    for (; m_next <= index && m_next < m_doctors.size(); ++m_next) {
        QList<QSqlRecord> run;
        const QString id = m_doctors.at(m_next).value(QStringLiteral("id")).toString();
        if (m_pending && m_rows->query().value(idColumn).toString() == id) {
            const qint64 doctor = m_rows->query().value(doctorColumn).toLongLong();
            do {
                QSqlRecord row = m_layout;
                for (int i = 0; i < doctorColumn; ++i)
                    row.setValue(i, m_rows->query().value(i));
                run.append(row);
            } while ((m_pending = m_rows->next()) && m_rows->query().value(doctorColumn).toLongLong() == doctor);
        }
        if (m_next == index)
            *rows = run;
    }
    if (!m_rows->isActive()) {
        m_trouble = m_rows->trouble();
        return false;
    }
    return true;
}

bool QueryRecords(const QSqlDatabase& db, const QString& statement, QList<QSqlRecord>* rows, QSqlRecord* columns,
                  QString* trouble)
{
    ReadQuery read(db, statement);
    QSqlRecord spelled = read.query().record();
    spelled.clearValues();
    SpellColumnsAsWritten(&spelled, statement);
    QList<QSqlRecord> all;
    const bool whole = read.forEachRow([&](const QSqlQuery& q) {
        if (!rows)
            return;
        QSqlRecord row = spelled;
        for (int i = 0; i < row.count(); ++i)
            row.setValue(i, q.value(i));
        all.append(row);
    });
    if (trouble)
        *trouble = read.trouble();
    if (!whole)
        return false;
    if (columns)
        *columns = spelled;
    if (rows)
        *rows = all;
    return true;
}

bool LoadDoctor(const QSqlDatabase& db, const QString& dataSet, const QString& doctorId, QSqlRecord* doctor,
                Prompter& prompter)
{
    const QString statement = DoctorStatement(dataSet, doctorId);
    QList<QSqlRecord> rows;
    QString trouble;
    if (!QueryRecords(db, statement, &rows, nullptr, &trouble)) {
        prompter.error(ReadFailure(trouble, statement));
        return false;
    }
    if (rows.isEmpty()) {
        prompter.error(QStringLiteral("Doctor %1 not found in data set %2").arg(doctorId, dataSet));
        return false;
    }
    *doctor = rows.first();
    return true;
}

bool LoadShiftRows(const QSqlDatabase& db, const QString& dataSet, const QString& doctorId, QList<QSqlRecord>* rows,
                   Prompter& prompter)
{
    const QString statement = ShiftRowsStatement(dataSet, doctorId);
    QString trouble;
    if (!QueryRecords(db, statement, rows, nullptr, &trouble)) {
        prompter.error(ReadFailure(trouble, statement));
        return false;
    }
    return true;
}

QDate ShiftDate(const QVariant& value)
{
    // Stored as ISO text; a date-time written by hand still gives its day.
    const QString text = value.toString().trimmed();
    return QDate::fromString(text.left(10), Qt::ISODate);
}

QString ShiftDateText(const QVariant& value)
{
    const QDate date = ShiftDate(value);
    return date.isValid() ? date.toString(QStringLiteral("dd/MM/yyyy")) : QString();
}

bool ReadRecordNumbers(const QSqlDatabase& db, const QString& dataSet, const QStringList& columns,
                       QHash<QString, std::vector<double>>* numbers, QString* trouble, QString* statement)
{
    // In the index's order, by id: each doctor's few records are put in recno order here rather
    // than the whole data set sorted. On SQLite a recno stored as text sorts after every number:
    // such a recno reads as infinity (texts among themselves keep the order they were stored in).
    // A record without an id belongs to no doctor (not to one whose id is empty).
    const bool sqlite = DialectOf(db) == Dialect::SQLite;
    const QString recno = sqlite ? QStringLiteral("CASE WHEN recno IS NULL OR typeof(recno) IN ('integer', 'real') "
                                                  "THEN recno ELSE 9e999 END")
                                 : QStringLiteral("recno");
    *statement = QStringLiteral("SELECT id, %1, %2 FROM Details WHERE DataSet = '%3' AND id IS NOT NULL ORDER BY id")
                     .arg(recno, columns.join(QStringLiteral(", ")), QuoteForSql(dataSet));
    // Where each store puts a record without a recno.
    const double noRecno = sqlite ? -HUGE_VAL : HUGE_VAL;
    const size_t width = size_t(columns.size());
    struct Record
    {
        double recno;
        size_t at;
    };
    std::vector<Record> run;
    std::vector<double> values;
    QByteArray runKey;
    QHash<QString, std::vector<double>> all;
    const auto endRun = [&] {
        if (run.empty())
            return;
        std::stable_sort(run.begin(), run.end(), [](const Record& a, const Record& b) { return a.recno < b.recno; });
        std::vector<double>& id = all[QString::fromUtf8(runKey)];
        for (const Record& r : run)
            id.insert(id.end(), values.begin() + qsizetype(r.at), values.begin() + qsizetype(r.at + width));
        run.clear();
        values.clear();
    };
    const bool whole = ReadKeyedNumbers(
        db, *statement,
        [&](QByteArrayView key, const double* n) {
            if (key != QByteArrayView(runKey)) {
                endRun();
                runKey = key.toByteArray();
            }
            run.push_back({std::isnan(n[0]) ? noRecno : n[0], values.size()});
            for (size_t i = 1; i <= width; ++i)
                values.push_back(std::isnan(n[i]) ? 0 : n[i]);
        },
        trouble);
    endRun();
    if (!whole)
        return false;
    *numbers = std::move(all);
    return true;
}

bool ReadFigureDoctors(const QSqlDatabase& db, const QString& dataSet, QList<QSqlRecord>* doctors, QString* trouble,
                       QString* statement)
{
    *statement = doctorsStatement(dataSet, DialectOf(db), QStringLiteral("id, annuity, nosolo, paygross"));
    return QueryRecords(db, *statement, doctors, nullptr, trouble);
}

bool ReadShiftSums(const QSqlDatabase& db, const QString& dataSet, QHash<QString, ShiftSums>* sums, QString* trouble,
                   QString* statement)
{
    QHash<QString, std::vector<double>> numbers;
    if (!ReadRecordNumbers(db, dataSet,
                           {QStringLiteral("Total + (Extra * AdjustmentRate * AdjustmentTime / 60.0)"),
                            QStringLiteral("superfee"), QStringLiteral("nonsuperfee")},
                           &numbers, trouble, statement))
        return false;
    sums->clear();
    for (auto it = numbers.cbegin(); it != numbers.cend(); ++it) {
        ShiftSums& s = (*sums)[it.key()];
        const std::vector<double>& v = it.value();
        for (size_t i = 0; i + 2 < v.size(); i += 3) {
            s.net += v[i];
            s.superfee += v[i + 1];
            s.nonsuperfee += v[i + 2];
        }
    }
    return true;
}

PaymentFigures ComputePaymentFigures(const AppSettings& settings, const QSqlRecord& doctor,
                                     const QList<QSqlRecord>& shiftRows)
{
    // NULL reads 0 through toDouble().
    ShiftSums sums;
    // The rows share one layout: the columns are looked up by name once, not for every row.
    int net = -1, superfee = -1, nonsuperfee = -1;
    const QSqlRecord* layout = nullptr;
    for (const QSqlRecord& row : shiftRows) {
        if (!layout || row.count() != layout->count()) {
            layout = &row;
            net = row.indexOf(QStringLiteral("Net"));
            superfee = row.indexOf(QStringLiteral("superfee"));
            nonsuperfee = row.indexOf(QStringLiteral("nonsuperfee"));
        }
        sums.net += row.value(net).toDouble();
        sums.superfee += row.value(superfee).toDouble();
        sums.nonsuperfee += row.value(nonsuperfee).toDouble();
    }
    return ComputePaymentFigures(settings, doctor, sums);
}

PaymentFigures ComputePaymentFigures(const AppSettings& settings, const QSqlRecord& doctor, const ShiftSums& sums)
{
    PaymentFigures f;
    const double gross = sums.net;
    f.superannuableFees = sums.superfee;
    f.nonSuperannuableFees = sums.nonsuperfee;
    if (!settings.PartSuperannuation) {
        f.superannuableFees = gross;
        f.nonSuperannuableFees = 0;
    }
    const double annuity = doctor.value(QStringLiteral("annuity")).toDouble();

    if (settings.Solo) {
        f.noPension = doctor.value(QStringLiteral("nosolo")).toString() == u"Y";
        f.payGross = doctor.value(QStringLiteral("paygross")).toString() == u"Y";
        f.gross = RoundMoney(gross);
        if (f.noPension) {
            f.netPayment = f.gross;
            return f;
        }
        // Products in this order, the percentage applied as * 0.01: the figures must match the
        // printed documents to the penny.
        f.superannuation = RoundMoney(f.superannuableFees * settings.Superannuation * 0.01);
        f.additionalContribution = RoundMoney(annuity * f.superannuableFees * 0.01);
        f.netPayment = f.gross - f.superannuation - f.additionalContribution;
        f.employerContribution = RoundMoney(settings.Employerannuation * f.superannuableFees * 0.01);
        return f;
    }

    // With PartSuperannuation on, the non-superannuable fees stay out of gross and net in this mode.
    f.gross = RoundMoney(f.superannuableFees);
    f.superannuation = RoundMoney(annuity * f.gross * 0.01);
    f.netPayment = f.gross - f.superannuation;
    return f;
}

double PrintedPayment(const AppSettings& settings, const PaymentFigures& figures)
{
    return settings.Solo && figures.payGross ? figures.gross : figures.netPayment;
}

} // namespace velmar
