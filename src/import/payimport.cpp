#include "import/payimport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/inifile.h"
#include "core/prompter.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/fastinsert.h"
#include "db/sqltransaction.h"

#include <QDate>
#include <QFile>
#include <QSqlQuery>
#include <QStringDecoder>

namespace velmar {

namespace {

bool isSeparator(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

// Pay files come from Windows systems: UTF-8 when it decodes cleanly, otherwise Windows-1252.
QString decodeLine(const QByteArray& bytes)
{
    const QString text = QString::fromUtf8(bytes);
    static const QByteArray replacement("\xEF\xBF\xBD");
    if (!text.contains(QChar::ReplacementCharacter) || bytes.contains(replacement))
        return text;
    QStringDecoder cp1252("windows-1252");
    return cp1252.isValid() ? QString(cp1252(bytes)) : QString::fromLatin1(bytes);
}

// Raised when a record lacks a field that is read; the message names the position.
struct MissingField
{
    int position;
};

// Fields of a doctor or shift record are read from 10 up, then in order: the first one missing
// is the one named in the message.
void requireFields(const QStringList& fields, int firstRead, int count)
{
    if (fields.size() <= firstRead)
        throw MissingField{firstRead};
    if (fields.size() < count)
        throw MissingField{static_cast<int>(fields.size())};
}

QString field(const QStringList& fields, int position)
{
    if (position >= fields.size())
        throw MissingField{position};
    return fields.at(position);
}

QString quoted(const QString& text)
{
    return QStringLiteral("'") + QuoteForSql(text) + QStringLiteral("'");
}

// The money value as the text statement would store it: two decimals.
double money(const QString& text)
{
    return RoundedToPence(StrToNumber(text));
}

class Importer
{
public:
    Importer(const AppSettings& settings, AppState& state, const QSqlDatabase& db, Prompter& prompter)
        : m_settings(settings), m_state(state), m_db(db), m_prompter(prompter)
    {
    }

    bool run(const QString& path, ImportResult* result);

private:
    bool readHeaderLines(QIODevice& file);
    bool dataSetExists(bool* exists);
    void deleteDataSet();
    bool prepareInserts();
    bool insertDoctor(QStringList fields);
    bool insertShift(QStringList fields, int recno);
    bool fail(const QStringList& statement);

    const AppSettings& m_settings;
    AppState& m_state;
    QSqlDatabase m_db;
    Prompter& m_prompter;
    QString m_name;
    QString m_label;
    FastInsert m_insertHeader;
    FastInsert m_insertDetail;
};

bool Importer::readHeaderLines(QIODevice& file)
{
    const PayLine labelLine = ReadPayLine(file);
    if (labelLine.status == PayLine::Record && labelLine.fields.isEmpty())
        throw MissingField{0};
    if (labelLine.status != PayLine::Record || labelLine.kind() != u"A") {
        m_prompter.error(QStringLiteral("Corrupt import file"));
        return false;
    }
    m_label = field(labelLine.fields, 1);
    m_state.CurrentDataSetLabel = m_label;

    const PayLine nameLine = ReadPayLine(file);
    if (nameLine.status == PayLine::Record && nameLine.fields.isEmpty())
        throw MissingField{0};
    if (nameLine.status != PayLine::Record || nameLine.kind() != u"B") {
        m_prompter.error(QStringLiteral("Corrupt import file"));
        return false;
    }
    m_name = field(nameLine.fields, 1);
    m_state.CurrentDataSet = m_name;
    return true;
}

bool Importer::dataSetExists(bool* exists)
{
    QSqlQuery q(m_db);
    if (!q.exec(QStringLiteral("SELECT DISTINCT DataSet FROM Headers WHERE DataSet = %1").arg(quoted(m_name))))
        return false;
    int rows = 0;
    while (q.next())
        ++rows;
    *exists = rows == 1;
    return true;
}

void Importer::deleteDataSet()
{
    // A failed deletion skips the rest; the import goes on.
    for (const char* table : {"Headers", "Details", "FileNames"}) {
        QSqlQuery q(m_db);
        if (!q.exec(QStringLiteral("DELETE FROM %1 WHERE DataSet = %2").arg(QLatin1String(table), quoted(m_name))))
            return;
    }
}

bool Importer::prepareInserts()
{
    return m_insertHeader.prepare(m_db,
                                  QStringLiteral("INSERT into Headers VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)")) &&
           m_insertDetail.prepare(m_db, QStringLiteral("INSERT into Details VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"));
}

bool Importer::fail(const QStringList& statement)
{
    m_prompter.error(QStringLiteral("SQL Error: %1").arg(StatementText(statement)));
    return false;
}

bool Importer::insertDoctor(QStringList fields)
{
    requireFields(fields, 10, 17);
    if (fields[10] == u"999")
        fields[10] = FormatMoney(m_settings.Solo ? 0.0 : m_settings.Superannuation);
    const QString annuity = FormatMoney(StrToNumber(fields[10]));

    m_insertHeader.bind(0, m_name);
    for (int i = 1; i <= 16; ++i) {
        if (i == 10)
            m_insertHeader.bind(i, StrToNumber(annuity));
        else
            m_insertHeader.bind(i, fields[i]);
    }
    if (m_insertHeader.exec())
        return true;

    QStringList values{quoted(m_name)};
    for (int i = 1; i <= 16; ++i)
        values.append(i == 10 ? QStringLiteral("'%1'").arg(annuity) : quoted(fields[i]));
    return fail({QStringLiteral("INSERT into Headers"), QStringLiteral("VALUES(%1)").arg(values.join(u','))});
}

bool Importer::insertShift(QStringList fields, int recno)
{
    requireFields(fields, 10, 14);
    const int extra = fields[10] == u"Y" ? 1 : fields[10] == u"N" ? -1 : 0;
    const QString isoDate = PayDateToIso(fields[2]);
    const double rate = money(fields[6]);
    const double total = money(fields[7]);
    const long adjustmentTime = StrToLong(fields[8]);
    const double adjustmentRate = money(fields[9]);
    const double superfee = money(fields[12]);
    const double nonsuperfee = money(fields[13]);

    // A text that is no date is refused like any other bad value.
    if (!isoDate.isEmpty()) {
        FastInsert& q = m_insertDetail;
        q.bind(0, qint64(recno));
        q.bind(1, m_name);
        q.bind(2, fields[1]);
        q.bind(3, isoDate);
        q.bind(4, fields[3]);
        q.bind(5, fields[4]);
        q.bind(6, fields[5]);
        q.bind(7, rate);
        q.bind(8, total);
        q.bind(9, qint64(adjustmentTime));
        q.bind(10, adjustmentRate);
        q.bind(11, qint64(extra));
        q.bind(12, fields[11]);
        q.bind(13, superfee);
        q.bind(14, nonsuperfee);
        if (q.exec())
            return true;
    }
    const QString valuesLine =
        QStringLiteral("VALUES(%1, %2, %3,%4,%5,%6,%7,'%8','%9', %10, '%11', %12, %13, '%14', '%15')")
            .arg(QString::number(recno), quoted(m_name), quoted(fields[1]),
                 quoted(isoDate.isEmpty() ? fields[2] : isoDate), quoted(fields[3]), quoted(fields[4]),
                 quoted(fields[5]), FormatMoney(rate), FormatMoney(total))
            .arg(QString::number(adjustmentTime), FormatMoney(adjustmentRate), QString::number(extra),
                 quoted(fields[11]), FormatMoney(superfee), FormatMoney(nonsuperfee));
    return fail({QStringLiteral("INSERT into Details"), valuesLine});
}

bool Importer::run(const QString& path, ImportResult* result)
{
    m_state.CurrentDataSet = path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_prompter.error(QStringLiteral("Error opening %1").arg(path));
        return false;
    }
    try {
        if (!readHeaderLines(file))
            return false;
        bool exists = false;
        if (!dataSetExists(&exists)) {
            m_prompter.error(QStringLiteral("Error reading from database"));
            return false;
        }
        if (exists && !m_prompter.question(QStringLiteral("%1 already exist - Overwrite?").arg(m_name)))
            return false;

        // All or nothing: a bad line leaves neither half a data set nor the loss of the copy it replaced.
        SqlTransaction transaction(m_db);
        if (!transaction.isActive())
            return fail({QStringLiteral("BEGIN IMMEDIATE")});
        if (exists)
            deleteDataSet();
        int recno = NextRecordNumber(m_db, m_prompter);
        {
            QSqlQuery q(m_db);
            q.exec(QStringLiteral("INSERT INTO FileNames VALUES(%1, %2)").arg(quoted(m_name), quoted(m_label)));
        }
        if (!prepareInserts())
            return fail({QStringLiteral("INSERT into Details")});

        int doctors = 0;
        int shifts = 0;
        for (;;) {
            PayLine line = ReadPayLine(file);
            if (line.status == PayLine::EndOfFile)
                break;
            if (line.status == PayLine::Corrupt) {
                m_prompter.error(QStringLiteral("Corrupt import file"));
                return false;
            }
            if (line.fields.isEmpty())
                throw MissingField{0};
            for (QString& f : line.fields)
                if (f.isEmpty())
                    f = QStringLiteral(" ");
            const QString kind = line.kind();
            if (kind == u"H") {
                if (!insertDoctor(line.fields))
                    return false;
                ++doctors;
            } else if (kind == u"D") {
                if (!insertShift(line.fields, recno))
                    return false;
                ++recno;
                ++shifts;
            }
        }
        if (!transaction.commit())
            return fail({QStringLiteral("COMMIT")});
        if (result)
            *result = ImportResult{m_name, m_label, doctors, shifts};
        return true;
    } catch (const MissingField& missing) {
        m_prompter.error(QStringLiteral("List index out of bounds (%1)").arg(missing.position));
        return false;
    }
}

} // namespace

QStringList SplitPayLine(const QString& line)
{
    QStringList fields;
    const int n = line.size();
    int i = 0;
    while (i < n && isSeparator(line.at(i)))
        ++i;
    while (i < n) {
        QString value;
        if (line.at(i) == u'"') {
            ++i;
            while (i < n) {
                if (line.at(i) == u'"') {
                    if (i + 1 < n && line.at(i + 1) == u'"') {
                        value += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += line.at(i++);
            }
        } else {
            const int start = i;
            while (i < n && line.at(i) != u',' && !isSeparator(line.at(i)))
                ++i;
            value = line.mid(start, i - start);
        }
        fields.append(value);
        while (i < n && isSeparator(line.at(i)))
            ++i;
        if (i < n && line.at(i) == u',') {
            if (i == n - 1)
                fields.append(QString());
            ++i;
            while (i < n && isSeparator(line.at(i)))
                ++i;
        }
    }
    return fields;
}

PayLine ReadPayLine(QIODevice& file)
{
    PayLine line;
    if (file.atEnd())
        return line;
    QByteArray bytes = file.readLine();
    if (bytes.isEmpty() && file.atEnd())
        return line;
    if (bytes.startsWith('\0')) {
        line.status = PayLine::Corrupt;
        return line;
    }
    // A NUL ends the text of a line, as it would in a C string.
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    if (bytes.endsWith('\n')) {
        bytes.chop(1);
        if (bytes.endsWith('\r'))
            bytes.chop(1);
    }
    line.status = PayLine::Record;
    line.fields = SplitPayLine(decodeLine(bytes));
    return line;
}

namespace {

// Reads a run of digits at pos; returns how many there were.
int readNumber(const QString& text, int* pos, int* value)
{
    int count = 0;
    *value = 0;
    while (*pos < text.size() && text.at(*pos) >= u'0' && text.at(*pos) <= u'9' && count < 5) {
        *value = *value * 10 + (text.at(*pos).unicode() - '0');
        ++*pos;
        ++count;
    }
    return count;
}

int monthFromName(QStringView name)
{
    static const char* const months[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m)
        if (name.left(3).compare(QLatin1String(months[m]), Qt::CaseInsensitive) == 0)
            return m + 1;
    return 0;
}

} // namespace

QString PayDateToIso(const QString& raw)
{
    const QString text = raw.trimmed();
    int pos = 0;
    int a = 0, b = 0, c = 0;
    const int aDigits = readNumber(text, &pos, &a);
    QDate date;
    if (aDigits == 4 && pos < text.size() && text.at(pos) == u'-') {
        // yyyy-mm-dd
        ++pos;
        const int bDigits = readNumber(text, &pos, &b);
        if (bDigits >= 1 && bDigits <= 2 && pos < text.size() && text.at(pos) == u'-') {
            ++pos;
            const int cDigits = readNumber(text, &pos, &c);
            if (cDigits >= 1 && cDigits <= 2 && pos == text.size())
                date = QDate(a, b, c);
        }
    } else if (aDigits >= 1 && aDigits <= 2 && pos < text.size() && text.at(pos) == u'/') {
        // dd/mm/yyyy or dd/mm/yy
        ++pos;
        const int bDigits = readNumber(text, &pos, &b);
        if (bDigits >= 1 && bDigits <= 2 && pos < text.size() && text.at(pos) == u'/') {
            ++pos;
            const int cDigits = readNumber(text, &pos, &c);
            if ((cDigits == 2 || cDigits == 4) && pos == text.size()) {
                // Two-digit years as Windows reads them: 00-29 this century, 30-99 the last.
                if (cDigits == 2)
                    c += c < 30 ? 2000 : 1900;
                date = QDate(c, b, a);
            }
        }
    } else if (aDigits >= 1 && aDigits <= 2 && pos < text.size() && (text.at(pos) == u' ' || text.at(pos) == u'-')) {
        // d mmm yyyy
        const int nameStart = ++pos;
        while (pos < text.size() && text.at(pos).isLetter())
            ++pos;
        const int month = monthFromName(QStringView(text).mid(nameStart, pos - nameStart));
        if (month > 0 && pos < text.size() && (text.at(pos) == u' ' || text.at(pos) == u'-')) {
            ++pos;
            if (readNumber(text, &pos, &c) == 4 && pos == text.size())
                date = QDate(c, month, a);
        }
    }
    return date.isValid() ? date.toString(Qt::ISODate) : QString();
}

bool ImportPaymentFile(const QString& path, const AppSettings& settings, AppState& state, const QSqlDatabase& db,
                       Prompter& prompter, ImportResult* result)
{
    Importer importer(settings, state, db, prompter);
    return importer.run(path, result);
}

} // namespace velmar
