#include "core/filelocations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmar;

namespace {

struct LocationCase
{
    const char* name = "";
    // Settings files to create, "path=content" relative to the root; content may be empty.
    QStringList files = {};
    QString configHome = {}; // absolute under the root when it starts with "/", else taken as it stands
    QString dataHome = {};
    QString iniOverride = {};
    QString dbOverride = {};
    QString ini = {}; // expected, relative to the root; empty for none
    QString db = {};  // "/..." as it stands
};

const QString kUserIni = QStringLiteral("home/.config/velmarpay/velmarpay.ini");
const QString kEtcIni = QStringLiteral("etc/velmarpay/velmarpay.ini");
const QString kUserDb = QStringLiteral("home/.local/share/velmarpay/velmarpay.mdb");

void writeFile(const QTemporaryDir& root, const QString& relative, const QByteArray& content)
{
    const QString path = root.filePath(relative);
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
}

} // namespace

TEST(FileLocations, PortableUserSystemAndDatabasePath)
{
    const QString portableIni = QStringLiteral("bin/velmarpay.ini");
    const QList<LocationCase> cases = {
        {.name = "ini beside the program keeps both files there",
         .files = {portableIni + u'=', kUserIni + u'='},
         .ini = portableIni,
         .db = QStringLiteral("bin/velmarpay.mdb")},
        {.name = "the user's ini comes before the system's",
         .files = {kUserIni + u'=', kEtcIni + u'='},
         .ini = kUserIni,
         .db = kUserDb},
        {.name = "the system's ini", .files = {kEtcIni + u'='}, .ini = kEtcIni, .db = kUserDb},
        {.name = "no ini anywhere", .db = kUserDb},
        {.name = "XDG folders",
         .files = {QStringLiteral("xc/velmarpay/velmarpay.ini=")},
         .configHome = QStringLiteral("/xc"),
         .dataHome = QStringLiteral("/xd"),
         .ini = QStringLiteral("xc/velmarpay/velmarpay.ini"),
         .db = QStringLiteral("xd/velmarpay/velmarpay.mdb")},
        {.name = "relative XDG folders are ignored",
         .files = {kUserIni + u'='},
         .configHome = QStringLiteral("xc"),
         .dataHome = QStringLiteral("xd"),
         .ini = kUserIni,
         .db = kUserDb},
        {.name = "Path relative to the ini's folder",
         .files = {kEtcIni + QStringLiteral("=[Database]\nPath=../data/pay.mdb")},
         .ini = kEtcIni,
         .db = QStringLiteral("etc/data/pay.mdb")},
        {.name = "Path under the home folder",
         .files = {kUserIni + QStringLiteral("=[database]\npath=~/pay/run.mdb")},
         .ini = kUserIni,
         .db = QStringLiteral("home/pay/run.mdb")},
        {.name = "Path of a portable ini",
         .files = {portableIni + QStringLiteral("=[Database]\nPath=shared.mdb")},
         .ini = portableIni,
         .db = QStringLiteral("bin/shared.mdb")},
        {.name = "--ini brings its own Path",
         .files = {kUserIni + u'=', QStringLiteral("other.ini=[Database]\nPath=/srv/x.mdb")},
         .iniOverride = QStringLiteral("other.ini"),
         .ini = QStringLiteral("other.ini"),
         .db = QStringLiteral("/srv/x.mdb")},
        {.name = "--db wins over Path",
         .files = {kUserIni + QStringLiteral("=[Database]\nPath=a.mdb")},
         .dbOverride = QStringLiteral("given.mdb"),
         .ini = kUserIni,
         .db = QStringLiteral("given.mdb")},
    };
    for (const LocationCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        for (const QString& entry : c.files) {
            const int eq = entry.indexOf(u'=');
            writeFile(root, entry.left(eq), entry.mid(eq + 1).toUtf8());
        }
        LocationInputs in;
        in.programBase = root.filePath(QStringLiteral("bin/velmarpay"));
        in.home = root.filePath(QStringLiteral("home"));
        in.systemConfigDir = root.filePath(QStringLiteral("etc"));
        in.configHome = c.configHome.startsWith(u'/') ? root.path() + c.configHome : c.configHome;
        in.dataHome = c.dataHome.startsWith(u'/') ? root.path() + c.dataHome : c.dataHome;
        const QString iniOverride = c.iniOverride.isEmpty() ? QString() : root.filePath(c.iniOverride);
        const QString dbOverride = c.dbOverride.isEmpty() ? QString() : root.filePath(c.dbOverride);

        const FileLocations f = LocateFiles(in, iniOverride, dbOverride);
        EXPECT_EQ(f.iniPath, c.ini.isEmpty() ? QString() : root.filePath(c.ini));
        EXPECT_EQ(f.dbPath, c.db.startsWith(u'/') ? c.db : root.filePath(c.db));
        EXPECT_EQ(f.userIniPath, in.configHome.startsWith(u'/')
                                     ? in.configHome + QStringLiteral("/velmarpay/velmarpay.ini")
                                     : root.filePath(kUserIni));
    }
}

TEST(FileLocations, FirstStartSaysWhereItLooked)
{
    QTemporaryDir root;
    LocationInputs in;
    in.programBase = root.filePath(QStringLiteral("bin/velmarpay"));
    in.home = root.filePath(QStringLiteral("home"));
    in.systemConfigDir = root.filePath(QStringLiteral("etc"));

    const FileLocations none = LocateFiles(in);
    EXPECT_EQ(none.iniSearched,
              (QStringList{in.programBase + QStringLiteral(".ini"), root.filePath(kUserIni), root.filePath(kEtcIni)}));
    // No settings file is no error: the defaults apply.
    EXPECT_EQ(LoadSettings(none).Employerannuation, 14);
    const QString described = DescribeFileLocations(none);
    EXPECT_TRUE(described.contains(root.filePath(kEtcIni))) << described.toStdString();
    EXPECT_TRUE(described.contains(root.filePath(kUserDb) + QStringLiteral(" (not found)"))) << described.toStdString();
    EXPECT_EQ(MissingDatabaseMessage(none),
              QStringLiteral("No database found at %1.\n\"velmarpay-cli init-db\" creates it there.")
                  .arg(root.filePath(kUserDb)));

    // A database chosen by the settings names the file that chose it.
    writeFile(root, kEtcIni, "[DEFAULTS]\nEmployerannuation=13\n[Database]\nPath=/srv/pay/velmarpay.mdb\n");
    const FileLocations chosen = LocateFiles(in);
    EXPECT_EQ(LoadSettings(chosen).Employerannuation, 13);
    EXPECT_TRUE(MissingDatabaseMessage(chosen).contains(
        QStringLiteral("/srv/pay/velmarpay.mdb (the [Database] Path of %1)").arg(root.filePath(kEtcIni))));
}

// [Database] of the settings names a server; --db of the command line still means an SQLite file.
TEST(FileLocations, ServerOfTheSettingsUnlessTheCommandLineNamesAFile)
{
    QTemporaryDir root;
    LocationInputs in;
    in.programBase = root.filePath(QStringLiteral("bin/velmarpay"));
    in.home = root.filePath(QStringLiteral("home"));
    writeFile(root, kUserIni,
              "[Database]\nDriver=postgresql\nHost=db.example.org\nPort=5433\nName=velmarpay\nUser=clerk1\n"
              "PasswordCommand=pass show velmarpay\nSslMode=verify-full\n");
    const FileLocations files = LocateFiles(in);
    const DatabaseSettings d = LoadSettings(files).Database;
    EXPECT_EQ(QStringList({d.Host, QString::number(d.Port), d.Name, d.User, d.Password, d.PasswordCommand, d.SslMode}),
              QStringList({QStringLiteral("db.example.org"), QStringLiteral("5433"), QStringLiteral("velmarpay"),
                           QStringLiteral("clerk1"), QString(), QStringLiteral("pass show velmarpay"),
                           QStringLiteral("verify-full")}));
    EXPECT_TRUE(UsesServer(files, d));
    EXPECT_TRUE(DescribeFileLocations(files, d).endsWith(
        QStringLiteral("\nDatabase: velmarpay on db.example.org (PostgreSQL)")));

    const FileLocations named = LocateFiles(in, QString(), root.filePath(QStringLiteral("mine.mdb")));
    EXPECT_FALSE(UsesServer(named, d));
    EXPECT_TRUE(DescribeFileLocations(named, d).contains(root.filePath(QStringLiteral("mine.mdb")) +
                                                         QStringLiteral(" (not found)")));
    // Nothing said: the file, as ever.
    EXPECT_TRUE(DatabaseSettings().isFile());
    EXPECT_FALSE(DatabaseSettings().isServer());
}
