#include "common/realpeers.h"
#include "common/testsupport.h"

#include "core/appsettings.h"
#include "core/appstate.h"
#include "core/clock.h"
#include "core/textformat.h"
#include "db/database.h"
#include "db/dialect.h"
#include "import/payimport.h"
#include "payments/datasets.h"

#include <QCryptographicHash>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <algorithm>
#include <memory>
#include <vector>

using namespace velmar;
using namespace velmar::test;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kHead = "A,\"March Run\"\nB,03_2005\n";
const QByteArray kDoctor = "H,7,Dr,John,Smith,\"1 High St\",,Town,County,\"AB1 2CD\",5,j@example.org,AB1,N1,"
                           "\"North PCT\",N,N\n";
const QByteArray kShift = "D,7,01/03/2005,Base,Evening,18-23,30,150,90,20,Y,\"note\",150,0\n";

QByteArray fileHash(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QByteArray sampleContent()
{
    QFile sample(sourcePath(u"samples/sample.pay"_s));
    EXPECT_TRUE(sample.open(QIODevice::ReadOnly));
    return sample.readAll();
}

} // namespace

class Import : public DatabaseTest
{
protected:
    bool import(const QByteArray& content)
    {
        return ImportPaymentFile(writeFile(QStringLiteral("run.pay"), content), settings, state, m_db, m_prompter,
                                 &result);
    }
    int count(const char* table)
    {
        return scalar(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))).toInt();
    }

    // Every stored row, to show that nothing changed.
    QStringList everything()
    {
        QStringList all;
        for (const QString& table : TableNames()) {
            const QStringList columns = TableColumns(table);
            all += rows(u"SELECT %1 FROM %2 ORDER BY %1"_s.arg(columns.join(u", "), table));
        }
        return all;
    }

    AppSettings settings;
    AppState state;
    ImportResult result;
};
VELMAR_ON_EACH_STORE(Import);
// What only a database file, or the program run on one, can show.
using ImportToFile = Import;

TEST_P(Import, StoresDoctorsShiftsAndLabel)
{
    const FixedClock clock(QDateTime(QDate(2025, 6, 5), QTime(13, 3, 9), Qt::UTC));
    ASSERT_TRUE(import(kHead + kDoctor + kShift + "X,ignored,line\n" + kShift));
    EXPECT_TRUE(m_prompter.messages.isEmpty()) << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(state.CurrentDataSet, QStringLiteral("03_2005"));
    EXPECT_EQ(state.CurrentDataSetLabel, QStringLiteral("March Run"));
    EXPECT_EQ(result.doctors, 1);
    EXPECT_EQ(result.shifts, 2);
    EXPECT_EQ(rows(QStringLiteral("SELECT DataSet, Label, Imported FROM FileNames")),
              QStringList{QStringLiteral("03_2005|March Run|2025-06-05T13:03:09Z")});
    EXPECT_EQ(rows(u"SELECT %1 FROM Headers"_s.arg(TableColumns(u"Headers"_s).join(u", "))),
              QStringList{QStringLiteral(
                  "03_2005|7|Dr|John|Smith|1 High St| |Town|County|AB1 2CD|5|j@example.org|AB1|N1|North PCT|N|N")});
    EXPECT_EQ(rows(QStringLiteral("SELECT * FROM Details ORDER BY recno")),
              (QStringList{QStringLiteral("1|03_2005|7|2005-03-01|Base|Evening|18-23|30|150|90|20|1|note|150|0"),
                           QStringLiteral("2|03_2005|7|2005-03-01|Base|Evening|18-23|30|150|90|20|1|note|150|0")}));
    EXPECT_EQ(DoctorListEntries(m_db, state.CurrentDataSet, m_prompter), QStringList{QStringLiteral("Smith,J (7)")});
}

TEST_P(Import, ReportsTheShareOfTheFileReadFromStartToEnd)
{
    QByteArray content = kHead + kDoctor;
    for (int i = 0; i < 2000; ++i)
        content += kShift;
    const QString file = writeFile(QStringLiteral("long.pay"), content);
    QList<qint64> read;
    ASSERT_TRUE(ImportPaymentFile(file, settings, state, m_db, m_prompter, &result, [&](qint64 done, qint64 size) {
        read.append(done);
        EXPECT_EQ(size, content.size());
    }));
    ASSERT_GE(read.size(), 4); // the start, every 512 lines, the end
    EXPECT_TRUE(std::is_sorted(read.begin(), read.end()));
    EXPECT_LT(read.first(), content.size() / 100);
    EXPECT_EQ(read.last(), content.size());
}

TEST_P(Import, LabelAndNameOnlyCreatesAnEmptyDataSet)
{
    ASSERT_TRUE(import(kHead));
    EXPECT_EQ(count("FileNames"), 1);
    EXPECT_EQ(count("Headers"), 0);
    EXPECT_TRUE(DoctorListEntries(m_db, state.CurrentDataSet, m_prompter).isEmpty());
}

TEST_P(Import, RefusedFilesChangeNothing)
{
    const QString kNotAPayFile = QStringLiteral("a pay file starts with an A line, then a B line");
    // The open data set and its label stay what they were.
    state.CurrentDataSet = QStringLiteral("01_2005");
    state.CurrentDataSetLabel = QStringLiteral("January");
    EXPECT_FALSE(ImportPaymentFile(path(QStringLiteral("missing.pay")), settings, state, m_db, m_prompter));
    EXPECT_FALSE(import(""));
    EXPECT_FALSE(import(kDoctor + kHead));
    EXPECT_FALSE(import("A,label\n" + kDoctor));
    EXPECT_FALSE(import("A\nB,x\n"));
    EXPECT_FALSE(import("\nB,x\n"));
    EXPECT_FALSE(import(kHead + kDoctor + "H,8\n"));
    EXPECT_FALSE(import("A,x\nB,\n" + kDoctor));
    EXPECT_EQ(m_prompter.messages, (QStringList{QStringLiteral("error: Error opening %1: No such file or directory")
                                                    .arg(path(QStringLiteral("missing.pay"))),
                                                QStringLiteral("error: Corrupt import file (line 1): ") + kNotAPayFile,
                                                QStringLiteral("error: Corrupt import file (line 1): ") + kNotAPayFile,
                                                QStringLiteral("error: Corrupt import file (line 2): ") + kNotAPayFile,
                                                QStringLiteral("error: List index out of bounds (1) (line 1)"),
                                                QStringLiteral("error: List index out of bounds (0) (line 1)"),
                                                QStringLiteral("error: List index out of bounds (10) (line 4)"),
                                                QStringLiteral("error: The data set has no name (line 2)")}));
    EXPECT_EQ(count("FileNames") + count("Headers") + count("Details"), 0);
    EXPECT_EQ(state.CurrentDataSet, QStringLiteral("01_2005"));
    EXPECT_EQ(state.CurrentDataSetLabel, QStringLiteral("January"));
}

TEST_P(Import, BadLinesRollBackEverything)
{
    // A stored copy that a failed replacement must not lose.
    ASSERT_TRUE(import(kHead + kDoctor + kShift));
    const QByteArray before = fileHash(m_dbPath);
    const QStringList stored = everything();
    const struct
    {
        QByteArray line;
        const char* message;
    } cases[] = {
        {"H,8,Dr,Ann\n", "error: List index out of bounds (10) (line 6)"},
        {"H,8,Dr,Ann,Lee,a,b,c,d,e,5,f\n", "error: List index out of bounds (12) (line 6)"},
        {"D,7,01/03/2005,Base\n", "error: List index out of bounds (10) (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,2,3,4,Y,n,5\n", "error: List index out of bounds (13) (line 6)"},
        // An empty line with records after it.
        {"\n", "error: List index out of bounds (0) (line 6)"},
        {"   \t\r\n\n", "error: List index out of bounds (0) (line 6)"},
        {QByteArray("\0D,7\n", 5), "error: Corrupt import file (line 6)"},
        {"D,7,30/02/2005,Base,S,T,1,2,3,4,Y,n,5,6\n",
         "error: SQL Error: INSERT into Details\nVALUES(3, '03_2005', '7','30/02/2005','Base','S','T','1.00','2.00', "
         "3, '4.00', 1, 'n', '5.00', '6.00')\n (line 6)"},
        // Numbers that are no pay figures: not finite, or beyond 1e9 (money, rates), 1e7 (minutes).
        {"D,7,01/03/2005,Base,S,T,1,1e400,3,4,Y,n,5,6\n", "error: Number out of range: 1e400 (line 6)"},
        {"D,7,01/03/2005,Base,S,T,-1000000000.5,2,3,4,Y,n,5,6\n", "error: Number out of range: -1000000000.5 (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,2," + QByteArray(30, '9') + ",4,Y,n,5,6\n",
         "error: Number out of range: 999999999999999999999999999999 (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,2,-10000001,4,Y,n,5,6\n", "error: Number out of range: -10000001 (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,2,3,4,Y,n,5,2e9\n", "error: Number out of range: 2e9 (line 6)"},
        {"H,8,Dr,Ann,Lee,a,b,c,d,e,1e10,f,g,h,i,j,k\n", "error: Number out of range: 1e10 (line 6)"},
        // Damage that would change money unseen: a doctor paid twice, a number read only as far as it goes,
        // a line cut at a NUL. A "%1" in the file stays as written.
        {"H,7,Dr,Jo,Smith,a,b,c,d,e,5,f,g,h,i,j,k\n", "error: Doctor 7 appears twice (lines 3 and 6)"},
        {"D,7,01/03/2005,Base,S,T,1,\"1,234.56\",3,4,Y,n,5,6\n", "error: Not a number: 1,234.56 (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,2,3,4,Y,n,NaN,6\n", "error: Not a number: NaN (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,.,3,4,Y,n,5,6\n", "error: Not a number: . (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,2.5.1,3,4,Y,n,5,6\n", "error: Not a number: 2.5.1 (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,2,12.5,4,Y,n,5,6\n", "error: Not a whole number of minutes: 12.5 (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,2,3,4,Y,n,2" + QByteArray(1, '\0') + ",0.00\n",
         "error: Corrupt import file (line 6)"},
        {"D,7,01/03/2005,Base,S,T,1,1e400%1,3,4,Y,n,5,6\n", "error: Not a number: 1e400%1 (line 6)"},
    };
    m_prompter.answers = QList<bool>(std::size(cases), true);
    for (const auto& c : cases) {
        m_prompter.messages.clear();
        EXPECT_FALSE(import(kHead + kDoctor + kShift + kShift + c.line + kShift));
        ASSERT_EQ(m_prompter.messages.size(), 2) << c.message;
        EXPECT_EQ(m_prompter.messages[1], QString::fromUtf8(c.message));
        EXPECT_EQ(fileHash(m_dbPath), before) << c.message;
        EXPECT_EQ(everything(), stored) << c.message;
    }
    EXPECT_EQ(count("Details"), 1);
    EXPECT_EQ(count("Headers"), 1);
    EXPECT_EQ(count("FileNames"), 1);
}

// A record refused megabytes of rows into the import, by a check of ours or (a rule of the site's) by a
// server long after the COPY started: the message names its line, and the stored copy and the
// connection stay as they were.
TEST_P(Import, LateRefusalNamesItsLineAndKeepsTheStoredCopy)
{
    ASSERT_TRUE(import(kHead + kDoctor + kShift));
    const QStringList stored = everything();
    if (onServer())
        exec(u"ALTER TABLE Details ADD CONSTRAINT NoRefused CHECK (Notes <> 'refused')"_s);
    const struct
    {
        QByteArray line;
        QString message;
        bool serverOnly;
    } cases[] = {
        {"D,7,01/03/2005,Base,S,T,1,2,3,4,Y,n,5,6x\n", u"error: Not a number: 6x (line 30004)"_s, false},
        {"D,7,01/03/2005,Base,S,T,1,2,3,4,Y,refused,5,6\n", u"error: SQL Error: "_s, true},
    };
    for (const auto& c : cases) {
        if (c.serverOnly && !onServer())
            continue;
        m_prompter.messages.clear();
        m_prompter.answers = {true};
        EXPECT_FALSE(import(kHead + kDoctor + kShift.repeated(30000) + c.line + kShift.repeated(10)));
        ASSERT_EQ(m_prompter.messages.size(), 2);
        EXPECT_TRUE(m_prompter.messages[1].startsWith(c.message)) << m_prompter.messages[1].toStdString();
        EXPECT_TRUE(m_prompter.messages[1].endsWith(u" (line 30004)"_s)) << m_prompter.messages[1].toStdString();
        EXPECT_EQ(everything(), stored);
    }
    if (onServer())
        exec(u"ALTER TABLE Details DROP CONSTRAINT NoRefused"_s);
}

// A database made by a later version, with columns of its own in every table, takes pay runs too.
TEST_P(Import, LaterColumnsTakeTheImportAndNamesDifferingInCaseListAlike)
{
    for (const char* table : {"Headers", "Details", "FileNames"})
        exec(u"ALTER TABLE %1 ADD COLUMN added TEXT"_s.arg(QLatin1String(table)));
    // Stored in an order unlike the list's, which is by the names' characters on every store.
    for (const char* name : {"jan", "JAN", "Jan"})
        ASSERT_TRUE(import("A,x\nB," + QByteArray(name) + "\n" + kDoctor + kShift))
            << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(count("Details"), 3);
    EXPECT_EQ(StoredDataSets(m_db, m_prompter), (QStringList{u"JAN"_s, u"Jan"_s, u"jan"_s}));
}

TEST_P(Import, OverwriteAskedAndAnswered)
{
    ASSERT_TRUE(import(kHead + kDoctor + kShift));
    m_prompter.answers = {false};
    EXPECT_FALSE(import(kHead + kDoctor + kShift + kShift));
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("question: 03_2005 already exist - Overwrite?")});
    EXPECT_EQ(count("Details"), 1);

    m_prompter.answers = {true};
    EXPECT_TRUE(import(kHead + kDoctor + kShift + kShift));
    EXPECT_EQ(count("Headers"), 1);
    EXPECT_EQ(count("FileNames"), 1);
    // The old rows are gone before numbering starts.
    EXPECT_EQ(rows(QStringLiteral("SELECT recno FROM Details ORDER BY recno")),
              (QStringList{QStringLiteral("1"), QStringLiteral("2")}));

    // A stored copy that cannot be removed stops the import: the new rows were once kept beside it.
    if (onServer()) {
        exec(u"CREATE FUNCTION keep() RETURNS trigger AS 'BEGIN RAISE EXCEPTION ''kept''; END' LANGUAGE plpgsql"_s);
        exec(u"CREATE TRIGGER keep BEFORE DELETE ON Details FOR EACH ROW EXECUTE FUNCTION keep()"_s);
    } else {
        exec(u"CREATE TRIGGER keep BEFORE DELETE ON Details BEGIN SELECT RAISE(ABORT, 'kept'); END"_s);
    }
    m_prompter.answers = {true};
    m_prompter.messages.clear();
    EXPECT_FALSE(import(kHead + kDoctor + kShift));
    EXPECT_TRUE(m_prompter.messages.value(1).startsWith(u"error: SQL Error: DELETE FROM Details WHERE DataSet"_s))
        << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(count("Details"), 2);
    EXPECT_EQ(count("Headers"), 1);
}

TEST_P(Import, NumbersAtTheLimitsAreStored)
{
    const QByteArray tiny = "0." + QByteArray(400, '0') + "1";
    // "-0.00", or what rounds to it, is stored as 0, not as a negative zero shown as "-0.00".
    ASSERT_TRUE(import(kHead + "D,7,01/03/2005,Base,S,T,1000000000,-" + tiny + ",10000000,-1e9,Y,n,-0.00,-0\n"))
        << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(rows(QStringLiteral("SELECT Rate, Total, AdjustmentTime, AdjustmentRate FROM Details")),
              QStringList{QStringLiteral("1e+09|0|10000000|-1e+09")});
    for (const char* column : {"Total", "superfee", "nonsuperfee"})
        EXPECT_EQ(FormatMoney(scalar(u"SELECT %1 FROM Details"_s.arg(QLatin1String(column))).toDouble()), u"0.00"_s)
            << column;
}

// Many exporters end a file with blank lines, a CR LF too many or a Ctrl+Z.
TEST_P(Import, EmptyLinesToTheEndEndTheFile)
{
    for (const QByteArray& ending : {QByteArray("\r\n"), QByteArray("\n\n\n"), QByteArray("  \t\r\n \r\n"),
                                     QByteArray("\x1a"), QByteArray("\r\n\x1a")}) {
        m_prompter.answers = {true};
        EXPECT_TRUE(import(kHead + kDoctor + kShift + ending)) << m_prompter.messages.join(u'\n').toStdString();
        EXPECT_EQ(count("Details"), 1);
    }
}

// Random texts, U+FEFF and U+FFFE leading some, are stored byte for byte as the file has them
// (compared as stored: Qt's reading converts a lone U+FFFE).
TEST_P(Import, StoredTextsEqualTheFilesText)
{
    QRandomGenerator random(20050301);
    QByteArray content = kHead;
    QStringList expected;
    for (int i = 0; i < 200; ++i) {
        QString name = i % 3 ? QString(QChar(i % 3 == 1 ? 0xFEFF : 0xFFFE)) : QString();
        while (name.size() < 8) {
            const char32_t c = random.bounded(2) ? random.bounded(33, 0x3000) : random.bounded(0x3000, 0x10FFFF);
            // No quote or comma; surrogates are no characters of their own.
            if (c != u'"' && c != u',' && (c < 0xD800 || c > 0xDFFF))
                name += QString::fromUcs4(&c, 1);
        }
        expected.append(QString::fromLatin1(name.toUtf8().toHex().toUpper()));
        content += "H," + QByteArray::number(i) + ",Dr,\"" + name.toUtf8() + "\",\"" + name.toUtf8() +
                   "\",a,b,c,d,e,5,f,g,h,i,j,k\n";
    }
    ASSERT_TRUE(import(content)) << m_prompter.messages.join(u'\n').toStdString();
    const QString hex = onServer() ? u"upper(encode(convert_to(%1, 'UTF8'), 'hex'))"_s : u"hex(%1)"_s;
    EXPECT_EQ(rows(u"SELECT %1 FROM Headers ORDER BY rowid"_s.arg(hex.arg(u"fname"_s))), expected);
    EXPECT_EQ(rows(u"SELECT %1 FROM Headers ORDER BY rowid"_s.arg(hex.arg(u"sname"_s))), expected);
}

TEST_P(Import, DataSetOnlyInFileNamesCountsAsNew)
{
    exec(QStringLiteral("INSERT INTO FileNames (DataSet, Label) VALUES('03_2005', 'old')"));
    ASSERT_TRUE(import(kHead + kDoctor));
    EXPECT_FALSE(m_prompter.messages.join(u' ').contains(QStringLiteral("question")));
    EXPECT_EQ(count("FileNames"), 2);
}

TEST_P(Import, RecordNumbersContinueAfterTheLargest)
{
    exec(QStringLiteral("INSERT INTO Details (recno, DataSet) VALUES(41, 'other')"));
    ASSERT_TRUE(import(kHead + kShift + kShift));
    EXPECT_EQ(rows(QStringLiteral("SELECT recno FROM Details WHERE DataSet = '03_2005' ORDER BY recno")),
              (QStringList{QStringLiteral("42"), QStringLiteral("43")}));
}

TEST_P(Import, DefaultRateAndValueConversions)
{
    settings.Superannuation = 6.126;
    const QByteArray doctors = "H,1,Dr,A,Aa,,,,,,999,,,,,,\n"
                               "H,2,Dr,B,Bb,,,,,,999.0,,,,,,\n"
                               "H,3,Dr,C,Cc,,,,,,12.5,,,,,,\n";
    // An empty number reads 0; one that is more than a number is refused (BadLinesRollBackEverything).
    const QByteArray shifts = "D,1,01/03/05,L,S,T,30.456,,90,20,Y,,1,2\n"
                              "D,1,01/03/05,L,S,T,1,1,1,1,N,,1,2\n"
                              "D,1,01/03/05,L,S,T,1,1,1,1,y,,1,2\n"
                              "D,1,01/03/05,L,S,T,1,1,1,1,,,,\n";
    ASSERT_TRUE(import(kHead + doctors + shifts)) << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(rows(QStringLiteral("SELECT id, annuity, email FROM Headers ORDER BY id")),
              (QStringList{QStringLiteral("1|6.13| "), QStringLiteral("2|999| "), QStringLiteral("3|12.5| ")}));
    EXPECT_EQ(rows(QStringLiteral("SELECT Rate, Total, AdjustmentTime, Extra, Notes, nonsuperfee FROM Details "
                                  "ORDER BY recno")),
              (QStringList{QStringLiteral("30.46|0|90|1| |2"), QStringLiteral("1|1|1|-1| |2"),
                           QStringLiteral("1|1|1|0| |2"), QStringLiteral("1|1|1|0| |0")}));

    settings.Solo = true;
    m_prompter.answers = {true};
    ASSERT_TRUE(import(kHead + doctors));
    EXPECT_EQ(scalar(QStringLiteral("SELECT annuity FROM Headers WHERE id = '1'")).toDouble(), 0.0);
}

TEST_P(Import, ApostrophesEverywhere)
{
    const QByteArray content = "A,\"Bob's March\"\nB,03'05\n"
                               "H,O'1,Dr,Seán,O'Brien,\"1 Quay's End\",,Town,County,PC,5,o'b@example.org,"
                               "NI'1,N'1,\"St Mary's PCT\",N,N\n"
                               "D,O'1,01/03/2005,\"St Mary's\",Shift,T,1,2,3,4,Y,\"O'Brien's Surgery\",1,0\n";
    ASSERT_TRUE(import(content)) << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(rows(QStringLiteral("SELECT DataSet, Label FROM FileNames")),
              QStringList{QStringLiteral("03'05|Bob's March")});
    EXPECT_EQ(scalar(QStringLiteral("SELECT sname FROM Headers WHERE id = 'O''1'")).toString(),
              QStringLiteral("O'Brien"));
    EXPECT_EQ(scalar(QStringLiteral("SELECT Notes FROM Details")).toString(), QStringLiteral("O'Brien's Surgery"));
    EXPECT_EQ(DoctorListEntries(m_db, QStringLiteral("03'05"), m_prompter),
              QStringList{QString::fromUtf8("O'Brien,S (O'1)")});
    m_prompter.answers = {true};
    EXPECT_TRUE(import(content));
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("question: 03'05 already exist - Overwrite?")});
    EXPECT_EQ(count("Details"), 1);
}

// Doubled quotes undone, and what COPY must escape (backslash, tab) inside quotes, in every kind of
// record: stored as written.
TEST_P(Import, QuotesBackslashesAndTabsStoredAsWritten)
{
    ASSERT_TRUE(import(kHead + "H,7,Dr,\"Jo \"\"JJ\"\"\",\"Back\\slash\ttab\",a,b,c,d,e,5,f,g,h,i,j,k\n"
                               "D,7,01/03/2005,\"\"\"Quoted\"\"\",S,T,1,2,3,4,Y,\"a \"\"b\"\" c\\d\",5,6\n"))
        << m_prompter.messages.join(u'\n').toStdString();
    EXPECT_EQ(rows(u"SELECT fname, sname FROM Headers"_s), QStringList{u"Jo \"JJ\"|Back\\slash\ttab"_s});
    EXPECT_EQ(rows(u"SELECT Location, Notes FROM Details"_s), QStringList{u"\"Quoted\"|a \"b\" c\\d"_s});
}

TEST_P(Import, ExistenceCheckFailureIsReported)
{
    exec(QStringLiteral("DROP TABLE Headers"));
    EXPECT_FALSE(import(kHead + kDoctor));
    EXPECT_EQ(m_prompter.messages, QStringList{QStringLiteral("error: Error reading from database")});
    EXPECT_EQ(count("FileNames"), 0);
}

// The command line on the bundled sample: import, refuse, overwrite, list.
TEST_F(ImportToFile, CommandLineOnTheSample)
{
    const QString db = path(QStringLiteral("cli.mdb"));
    auto run = [&](QStringList args, QString* out = nullptr, QString* err = nullptr) {
        const CliRun r = runCli(sourcePath(QStringLiteral("samples/velmarpay.ini")), db, args);
        if (out)
            *out = r.out;
        if (err)
            *err = r.err;
        return r.exitCode;
    };
    const QString sample = sourcePath(QStringLiteral("samples/sample.pay"));
    QString out, err;
    EXPECT_NE(run({QStringLiteral("datasets")}, &out, &err), 0);
    EXPECT_EQ(run({QStringLiteral("init-db")}), 0);
    // What the run script asks before importing: the file's data set, and whether it is stored.
    EXPECT_EQ(run({QStringLiteral("is-stored"), sample}, &out), 1);
    EXPECT_EQ(out, QStringLiteral("02_2005\n"));
    EXPECT_EQ(run({QStringLiteral("import"), sample}), 0);
    EXPECT_EQ(run({QStringLiteral("is-stored"), sample}, &out), 0);
    EXPECT_EQ(run({QStringLiteral("is-stored"), db}, &out, &err), 2); // no pay file
    EXPECT_TRUE(err.startsWith(QStringLiteral("Corrupt import file (line 1)"))) << err.toStdString();
    EXPECT_NE(run({QStringLiteral("import"), sample}, &out, &err), 0);
    EXPECT_TRUE(err.contains(QStringLiteral("02_2005 already exist - Overwrite?"))) << err.toStdString();
    EXPECT_EQ(run({QStringLiteral("import"), sample, QStringLiteral("--overwrite")}), 0);
    EXPECT_EQ(run({QStringLiteral("datasets")}, &out), 0);
    EXPECT_EQ(out, QStringLiteral("02_2005\n"));
    EXPECT_EQ(run({QStringLiteral("doctors")}, &out), 0);
    const QStringList doctors = out.split(u'\n', Qt::SkipEmptyParts);
    EXPECT_EQ(doctors.size(), 12);
    EXPECT_TRUE(doctors.contains(QStringLiteral("O'Connor,B (1002)")));
    QString named;
    EXPECT_EQ(run({QStringLiteral("doctors"), QStringLiteral("--dataset"), QStringLiteral("02_2005")}, &named), 0);
    EXPECT_EQ(named, out);
    EXPECT_EQ(run({QStringLiteral("doctors"), QStringLiteral("--dataset"), QStringLiteral("NO_SUCH")}, &out, &err), 1);
    EXPECT_EQ(err, QStringLiteral("No data set named NO_SUCH (velmarpay-cli datasets lists them)\n"));
    EXPECT_NE(run({QStringLiteral("import"), path(QStringLiteral("none.pay"))}, &out, &err), 0);
    EXPECT_TRUE(err.startsWith(QStringLiteral("Error opening "))) << err.toStdString();
    // A folder named as the pay file: the system's reason would not say what is wrong.
    EXPECT_NE(run({QStringLiteral("import"), m_dir.path()}, &out, &err), 0);
    EXPECT_EQ(err, QStringLiteral("Error opening %1: it is a folder\n").arg(m_dir.path()));
}

// What a newcomer's mistakes on the command line are told: what is wrong and what to do.
TEST_F(ImportToFile, CommandLineSaysWhatToDo)
{
    const QString sample = sourcePath(u"samples/velmarpay.ini"_s);
    const QString noServer = writeFile(u"noserver.ini"_s, "[EMail]\nServer=\n");
    ASSERT_EQ(runCli(sample, m_dbPath, {u"import"_s, sourcePath(u"samples/sample.pay"_s)}).exitCode, 0);
    const struct
    {
        QString ini;
        QStringList args;
        int exitCode;
        QString out; // the start of standard output, or of standard error when exitCode is not 0
    } cases[] = {
        {sample, {u"-h"_s}, 0, u"Usage: velmarpay-cli [--ini FILE] [--db FILE] COMMAND [ARGS]\n"_s},
        {sample, {u"help"_s, u"import"_s}, 0, u"Usage: velmarpay-cli [--ini FILE] [--db FILE] import FILE|- "_s},
        {sample, {u"doctors"_s, u"--help"_s}, 0, u"Usage: velmarpay-cli [--ini FILE] [--db FILE] doctors "_s},
        {sample, {u"frob"_s}, 2, u"unknown command: frob (velmarpay-cli --help lists the commands)"_s},
        {path(u"velmarpy.ini"_s),
         {u"datasets"_s},
         2,
         u"Cannot read the settings %1: No such file or directory\n"_s.arg(path(u"velmarpy.ini"_s))},
        {noServer,
         {u"send-test"_s, u"--to"_s, u"a@example.org"_s, u"--pdf"_s, sample},
         1,
         u"No mail server is set: [EMail] Server in %1\n"_s.arg(noServer)},
        // A folder that takes no file is found before any invoice is laid out.
        {sample,
         {u"print-all"_s, u"--dataset"_s, u"02_2005"_s, u"--pdf-dir"_s, u"/proc/self"_s},
         1,
         u"Cannot write into /proc/self: "_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const CliRun r = runCli(c.ini, m_dbPath, c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err.toStdString();
        EXPECT_TRUE((c.exitCode == 0 ? r.out : r.err).startsWith(c.out)) << r.out.toStdString() << r.err.toStdString();
        if (c.exitCode != 0) {
            EXPECT_FALSE(r.out.contains(u"progress"_s));
        }
    }
}

// Two copies of the program importing pay files into one database at the same moment; each
// file's ini names the database (the server's, or the file given by --db).
class ImportRace : public Import
{
protected:
    // Runs velmarpay-cli import on each file at once; how many succeeded.
    int importAtOnce(const QStringList& files, bool overwrite)
    {
        const QString ini = iniForStore();
        std::vector<std::unique_ptr<QProcess>> copies;
        for (const QString& file : files) {
            QStringList args{u"--ini"_s, ini};
            if (!onServer())
                args += QStringList{u"--db"_s, m_dbPath};
            args += QStringList{u"import"_s, file};
            if (overwrite)
                args.append(u"--overwrite"_s);
            copies.push_back(std::make_unique<QProcess>());
            copies.back()->start(QStringLiteral(VELMAR_BIN_DIR "/velmarpay-cli"), args);
        }
        int succeeded = 0;
        for (auto& p : copies) {
            EXPECT_TRUE(p->waitForFinished(30000));
            succeeded += p->exitCode() == 0;
            // The one that came second found the first one's data set.
            if (p->exitCode() != 0) {
                EXPECT_TRUE(p->readAllStandardError().contains("02_2005 already exist - Overwrite? No"));
            }
        }
        return succeeded;
    }
};
VELMAR_ON_EACH_STORE(ImportRace);

// A data set is stored once; recno stays unique over the table, each run's records numbered
// in one block in file order.
TEST_P(ImportRace, ImportsAtOnceStoreEachDataSetOnceAndNumberRecordsApart)
{
    const QString sample = sourcePath(u"samples/sample.pay"_s);
    const QString march = writeFile(u"march.pay"_s, sampleContent().replace("B,02_2005", "B,03_2005"));
    const struct
    {
        QStringList files;
        bool overwrite;
        int succeeded;
        QString counts; // FileNames, Headers, Details, distinct recno, lowest and highest recno
        QStringList blocks;
    } cases[] = {
        {{sample, sample}, false, 1, u"1|12|59|59|1|59"_s, {u"02_2005|58"_s}},
        {{sample, sample}, true, 2, u"1|12|59|59|1|59"_s, {u"02_2005|58"_s}},
        {{sample, march}, false, 2, u"2|24|118|118|1|118"_s, {u"02_2005|58"_s, u"03_2005|58"_s}},
    };
    for (int round = 0; round < 15; ++round) {
        const auto& c = cases[round % 3];
        SCOPED_TRACE(round);
        for (const QString& table : TableNames())
            exec(u"DELETE FROM %1"_s.arg(table));
        EXPECT_EQ(importAtOnce(c.files, c.overwrite), c.succeeded);
        EXPECT_EQ(rows(u"SELECT (SELECT count(*) FROM FileNames), (SELECT count(*) FROM Headers), count(*), "
                       "count(DISTINCT recno), MIN(recno), MAX(recno) FROM Details"_s),
                  QStringList{c.counts});
        EXPECT_EQ(rows(u"SELECT DataSet, MAX(recno) - MIN(recno) FROM Details GROUP BY DataSet ORDER BY DataSet"_s),
                  c.blocks);
    }
}

// A pay file read from a pipe, named "-" or /dev/stdin.
TEST_P(Import, StandardInputIsReadToTheEnd)
{
    const QByteArray content = sampleContent();
    for (const QString& name : {u"-"_s, u"/dev/stdin"_s}) {
        const CliRun r = cli({u"import"_s, name, u"--overwrite"_s}, QString(), &content);
        EXPECT_EQ(r.out, u"Imported 02_2005 (February 2005 Pay Run): 12 doctors, 59 shift records\n"_s)
            << r.err.toStdString();
    }
    EXPECT_EQ(count("Details"), 59);
}

// Another program holding the database, and a full disk: told as what they are, not as a bad line.
TEST_F(ImportToFile, BusyOrFullDatabaseIsToldAsSuch)
{
    const QString inUse =
        u"error: The database %1 is in use by another program. Try again when it has finished."_s.arg(m_dbPath);
    for (const bool reading : {false, true}) {
        // Writing, or reading while the import would commit.
        const LockHolder other(m_dbPath, reading ? u"BEGIN"_s : u"BEGIN IMMEDIATE"_s, reading);
        m_prompter.messages.clear();
        EXPECT_FALSE(import(kHead + kDoctor));
        EXPECT_EQ(m_prompter.messages, QStringList{inUse});
    }
    EXPECT_EQ(count("FileNames") + count("Headers"), 0);

    FullDisk disk;
    QString error;
    QSqlDatabase db;
    ASSERT_TRUE(CreateDatabase(disk.filePath(u"full.mdb"_s), &error) &&
                OpenDatabase(disk.filePath(u"full.mdb"_s), u"full"_s, &db, &error))
        << error.toStdString();
    disk.fill();
    m_prompter.messages.clear();
    const auto undo = disk.limitWrites();
    EXPECT_FALSE(ImportPaymentFile(sourcePath(u"samples/sample.pay"_s), settings, state, db, m_prompter));
    undo();
    EXPECT_TRUE(m_prompter.messages.value(0).startsWith(disk.isMounted() ? u"error: database or disk is full"_s
                                                                         : u"error: disk I/O error"_s))
        << m_prompter.messages.join(u'\n').toStdString();
    db = QSqlDatabase();
    CloseDatabase(u"full"_s);
}
