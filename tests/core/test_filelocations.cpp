#include "core/filelocations.h"
#include "db/firstrun.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace velmar;
using namespace Qt::StringLiterals;

namespace {

const QString kPortableIni = u"bin/velmarpay.ini"_s;
const QString kUserIni = u"home/.config/velmarpay/velmarpay.ini"_s;
const QString kEtcIni = u"etc/velmarpay/velmarpay.ini"_s;
const QString kUserDb = u"home/.local/share/velmarpay/velmarpay.mdb"_s;

// Writes each "path=content" entry (path relative to the root; content may be empty).
void writeFiles(const QTemporaryDir& root, const QStringList& entries)
{
    for (const QString& entry : entries) {
        const QString path = root.filePath(entry.section(u'=', 0, 0));
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(entry.section(u'=', 1).toUtf8());
    }
}

// A program in root/bin, the user's home in root/home, the system's settings in root/etc.
LocationInputs inputsUnder(const QTemporaryDir& root)
{
    LocationInputs in;
    in.programBase = root.filePath(u"bin/velmarpay"_s);
    in.home = root.filePath(u"home"_s);
    in.systemConfigDir = root.filePath(u"etc"_s);
    return in;
}

} // namespace

TEST(FileLocations, PortableUserSystemAndDatabasePath)
{
    const struct
    {
        const char* name;
        QStringList files;       // "path=content", the path relative to the root
        QString configHome = {}; // under the root when it starts with "/", else as it stands
        QString dataHome = {};
        QString iniOverride = {};
        QString dbOverride = {};
        QString ini = {}; // relative to the root
        QString db = {};  // "/..." as it stands
    } cases[] = {
        {.name = "ini beside the program keeps both files there",
         .files = {kPortableIni + u'=', kUserIni + u'='},
         .ini = kPortableIni,
         .db = u"bin/velmarpay.mdb"_s},
        {.name = "the user's ini comes before the system's",
         .files = {kUserIni + u'=', kEtcIni + u'='},
         .ini = kUserIni,
         .db = kUserDb},
        {.name = "the system's ini", .files = {kEtcIni + u'='}, .ini = kEtcIni, .db = kUserDb},
        {.name = "XDG folders",
         .files = {u"xc/velmarpay/velmarpay.ini="_s},
         .configHome = u"/xc"_s,
         .dataHome = u"/xd"_s,
         .ini = u"xc/velmarpay/velmarpay.ini"_s,
         .db = u"xd/velmarpay/velmarpay.mdb"_s},
        {.name = "relative XDG folders are ignored",
         .files = {kUserIni + u'='},
         .configHome = u"xc"_s,
         .dataHome = u"xd"_s,
         .ini = kUserIni,
         .db = kUserDb},
        {.name = "Path relative to the ini's folder",
         .files = {kEtcIni + u"=[Database]\nPath=../data/pay.mdb"_s},
         .ini = kEtcIni,
         .db = u"etc/data/pay.mdb"_s},
        {.name = "Path under the home folder",
         .files = {kUserIni + u"=[database]\npath=~/pay/run.mdb"_s},
         .ini = kUserIni,
         .db = u"home/pay/run.mdb"_s},
        {.name = "--ini brings its own Path",
         .files = {kUserIni + u'=', u"other.ini=[Database]\nPath=/srv/x.mdb"_s},
         .iniOverride = u"other.ini"_s,
         .ini = u"other.ini"_s,
         .db = u"/srv/x.mdb"_s},
        {.name = "--db wins over Path",
         .files = {kUserIni + u"=[Database]\nPath=a.mdb"_s},
         .dbOverride = u"given.mdb"_s,
         .ini = kUserIni,
         .db = u"given.mdb"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        writeFiles(root, c.files);
        LocationInputs in = inputsUnder(root);
        in.configHome = c.configHome.startsWith(u'/') ? root.path() + c.configHome : c.configHome;
        in.dataHome = c.dataHome.startsWith(u'/') ? root.path() + c.dataHome : c.dataHome;
        const auto under = [&](const QString& p) { return p.isEmpty() ? QString() : root.filePath(p); };

        const FileLocations f = LocateFiles(in, under(c.iniOverride), under(c.dbOverride));
        EXPECT_EQ(f.iniPath, under(c.ini));
        EXPECT_EQ(f.dbPath, c.db.startsWith(u'/') ? c.db : root.filePath(c.db));
        EXPECT_EQ(f.userIniPath, in.configHome.startsWith(u'/') ? in.configHome + u"/velmarpay/velmarpay.ini"_s
                                                                : root.filePath(kUserIni));
    }
}

TEST(FileLocations, FirstStartSaysWhereItLooked)
{
    QTemporaryDir root;
    const LocationInputs in = inputsUnder(root);
    const FileLocations none = LocateFiles(in);
    EXPECT_EQ(none.iniSearched,
              (QStringList{in.programBase + u".ini"_s, root.filePath(kUserIni), root.filePath(kEtcIni)}));
    const QString described = DescribeFileLocations(none);
    EXPECT_TRUE(described.contains(root.filePath(kEtcIni))) << described.toStdString();
    EXPECT_TRUE(described.contains(root.filePath(kUserDb) + u" (not found)"_s)) << described.toStdString();
    EXPECT_EQ(MissingDatabaseMessage(none),
              u"No database found at %1.\n\"velmarpay-cli init-db\" creates it there."_s.arg(root.filePath(kUserDb)));

    // A database chosen by the settings names the file that chose it.
    writeFiles(root, {kEtcIni + u"=[DEFAULTS]\nEmployerannuation=13\n[Database]\nPath=/srv/pay/velmarpay.mdb\n"_s});
    const FileLocations chosen = LocateFiles(in);
    EXPECT_EQ(LoadSettings(chosen).Employerannuation, 13);
    EXPECT_TRUE(MissingDatabaseMessage(chosen).contains(
        u"/srv/pay/velmarpay.mdb (the [Database] Path of %1)"_s.arg(root.filePath(kEtcIni))));
}

// [Database] of the settings names a server; --db of the command line still means an SQLite file.
TEST(FileLocations, ServerOfTheSettingsUnlessTheCommandLineNamesAFile)
{
    QTemporaryDir root;
    writeFiles(root, {kUserIni + u"=[Database]\nDriver=postgresql\nHost=db.example.org\nPort=5433\nName=velmarpay\n"
                                 "User=clerk1\nPasswordCommand=pass show velmarpay\nSslMode=verify-full\n"_s});
    const FileLocations files = LocateFiles(inputsUnder(root));
    const DatabaseSettings d = LoadSettings(files).Database;
    EXPECT_EQ(QStringList({d.Host, QString::number(d.Port), d.Name, d.User, d.Password, d.PasswordCommand, d.SslMode}),
              QStringList({u"db.example.org"_s, u"5433"_s, u"velmarpay"_s, u"clerk1"_s, QString(),
                           u"pass show velmarpay"_s, u"verify-full"_s}));
    EXPECT_TRUE(UsesServer(files, d));
    EXPECT_TRUE(DescribeFileLocations(files, d).endsWith(u"\nDatabase: velmarpay on db.example.org (PostgreSQL)"_s));

    const FileLocations named = LocateFiles(inputsUnder(root), QString(), root.filePath(u"mine.mdb"_s));
    EXPECT_FALSE(UsesServer(named, d));
    EXPECT_TRUE(DescribeFileLocations(named, d).contains(root.filePath(u"mine.mdb"_s) + u" (not found)"_s));
}

// Settings that cannot be read are an error, not the defaults; a password others can read is told.
TEST(FileLocations, SettingsInUseAreCheckedBeforeUse)
{
    QTemporaryDir root;
    EXPECT_EQ(SettingsFileError(root.filePath(u"velmarpy.ini"_s)),
              u"Cannot read the settings %1: No such file or directory"_s.arg(root.filePath(u"velmarpy.ini"_s)));
    EXPECT_EQ(SettingsFileError(root.path()), u"Cannot read the settings %1: it is a folder"_s.arg(root.path()));

    writeFiles(root, {kUserIni + u"=[EMail]\nPassword=secret\n"_s});
    const QString ini = root.filePath(kUserIni);
    EXPECT_EQ(SettingsFileError(ini), QString());
    QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    const QString warning = u"%1 holds a password and other users can read it: chmod 600 %1"_s.arg(ini);
    EXPECT_EQ(LoadSettings(LocateFiles(inputsUnder(root))).problems, QStringList{warning});
    QFile::setPermissions(ini, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    EXPECT_EQ(LoadSettings(LocateFiles(inputsUnder(root))).problems, QStringList());

    // The sample as init-db copies it is told apart from the service's own settings.
    EXPECT_EQ(UneditedSampleMessage(ini), QString());
    QFile::remove(ini);
    QFile::copy(QStringLiteral(VELMAR_SOURCE_DIR "/samples/velmarpay.ini"), ini);
    EXPECT_EQ(UneditedSampleMessage(ini), u"Settings are the sample's: edit %1 for your service"_s.arg(ini));
}

// A first start makes the database and the settings or nothing at all, private whatever the umask.
TEST(FileLocations, FirstStartMakesEverythingOrNothing)
{
    QTemporaryDir root;
    // The settings cannot be made: a file stands where their folder would be.
    writeFiles(root, {u"home/.config="_s});
    const FileLocations files = LocateFiles(inputsUnder(root));
    QStringList done;
    QString error;
    EXPECT_FALSE(InitializeDatabase(files, DatabaseSettings(), &done, &error));
    EXPECT_EQ(error, u"Cannot create the settings %1: %2 is not a folder"_s.arg(files.userIniPath,
                                                                                root.filePath(u"home/.config"_s)));
    EXPECT_FALSE(QFileInfo::exists(root.filePath(u"home/.local"_s)));
    EXPECT_TRUE(done.isEmpty());

    QFile::remove(root.filePath(u"home/.config"_s));
    const mode_t umaskWas = ::umask(022);
    EXPECT_TRUE(InitializeDatabase(files, DatabaseSettings(), &done, &error)) << error.toStdString();
    ::umask(umaskWas);
    const auto mode = [](const QString& path) { return QFileInfo(path).permissions() & 0x7077; };
    const auto owner = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    EXPECT_EQ(mode(files.dbPath), owner);
    EXPECT_EQ(mode(files.userIniPath), owner);
    EXPECT_EQ(mode(QFileInfo(files.dbPath).path()), owner | QFileDevice::ExeOwner);
    EXPECT_EQ(mode(QFileInfo(files.userIniPath).path()), owner | QFileDevice::ExeOwner);
    EXPECT_EQ(done.size(), 2);
    EXPECT_FALSE(InitializeDatabase(files, DatabaseSettings(), &done, &error));
    EXPECT_EQ(error, u"%1 already exists"_s.arg(files.dbPath));
}
