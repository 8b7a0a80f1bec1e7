#include "core/filelocations.h"

#include "core/inifile.h"
#include "samplesettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace velmar {

namespace {

const QString kFolder = QStringLiteral("/velmarpay/");

// Unset, empty or relative values are ignored, as the XDG base directory rules ask.
QString baseDir(const QString& value, const QString& home, const QString& usual)
{
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(home + u'/' + usual);
}

// [Database] Path of a settings file: "~/" is the home folder, a relative path is taken from
// the settings file's folder, so a shared ini can name a database beside it.
QString databaseSetting(const QString& iniPath, const QString& home)
{
    const QString value = IniFile(iniPath).readString(QStringLiteral("Database"), QStringLiteral("Path"), QString());
    if (value.isEmpty())
        return QString();
    if (value == u"~" || value.startsWith(u"~/"))
        return QDir::cleanPath(home + value.mid(1));
    return QDir::cleanPath(QFileInfo(iniPath).absoluteDir().absoluteFilePath(value));
}

} // namespace

LocationInputs LocationInputs::fromEnvironment(const QString& programBase)
{
    LocationInputs in;
    in.programBase = programBase;
    in.home = QDir::homePath();
    in.configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    in.dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    return in;
}

FileLocations LocateFiles(const LocationInputs& in, const QString& iniOverride, const QString& dbOverride)
{
    FileLocations f;
    const QString portableIni = in.programBase + QStringLiteral(".ini");
    f.userIniPath =
        baseDir(in.configHome, in.home, QStringLiteral(".config")) + kFolder + QStringLiteral("velmarpay.ini");
    f.iniSearched.append(portableIni);
    if (QFileInfo(portableIni).isFile()) {
        f.iniPath = portableIni;
        f.dbPath = in.programBase + QStringLiteral(".mdb");
    } else {
        f.iniSearched.append(f.userIniPath);
        f.iniSearched.append(QDir::cleanPath(in.systemConfigDir) + kFolder + QStringLiteral("velmarpay.ini"));
        for (qsizetype i = 1; i < f.iniSearched.size() && f.iniPath.isEmpty(); ++i) {
            if (QFileInfo(f.iniSearched.at(i)).isFile())
                f.iniPath = f.iniSearched.at(i);
        }
        f.dbPath =
            baseDir(in.dataHome, in.home, QStringLiteral(".local/share")) + kFolder + QStringLiteral("velmarpay.mdb");
    }
    if (!iniOverride.isEmpty()) {
        f.iniPath = iniOverride;
        f.iniSearched = QStringList{iniOverride};
    }
    if (!f.iniPath.isEmpty()) {
        const QString chosen = databaseSetting(f.iniPath, in.home);
        if (!chosen.isEmpty()) {
            f.dbPath = chosen;
            f.dbChosenBy = f.iniPath;
        }
    }
    if (!dbOverride.isEmpty()) {
        f.dbPath = dbOverride;
        f.dbChosenBy.clear();
        f.dbNamedOnCommandLine = true;
    }
    return f;
}

AppSettings LoadSettings(const FileLocations& files)
{
    AppSettings s = files.iniPath.isEmpty() ? AppSettings() : AppSettings::load(files.iniPath);
    s.iniSearched = files.iniSearched;
    s.userIniPath = files.userIniPath;
    // As ssh does for a key: a password in a file that others can read is worth a word.
    const QFileInfo info(files.iniPath);
    const bool othersRead = info.permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (!files.iniPath.isEmpty() && othersRead && (!s.Password.isEmpty() || !s.Database.Password.isEmpty()))
        s.problems.append(
            QStringLiteral("%1 holds a password and other users can read it: chmod 600 %1").arg(files.iniPath));
    return s;
}

QString SettingsFileError(const QString& iniPath)
{
    if (iniPath.isEmpty())
        return QString();
    const QString reason = IniFile(iniPath).error();
    return reason.isEmpty() ? QString() : QStringLiteral("Cannot read the settings %1: %2").arg(iniPath, reason);
}

bool UsesServer(const FileLocations& files, const DatabaseSettings& database)
{
    return database.isServer() && !files.dbNamedOnCommandLine;
}

QString DescribeFileLocations(const FileLocations& files, const DatabaseSettings& database)
{
    QString settings;
    if (files.iniPath.isEmpty())
        settings = QStringLiteral("none, the defaults apply (looked for %1)")
                       .arg(files.iniSearched.join(QStringLiteral(", ")));
    else if (!QFileInfo(files.iniPath).isFile())
        settings = files.iniPath + QStringLiteral(" (not found, the defaults apply)");
    else
        settings = files.iniPath;
    QString store = files.dbPath;
    if (UsesServer(files, database))
        store = database.describe() + QStringLiteral(" (PostgreSQL)");
    else if (!QFileInfo::exists(files.dbPath))
        store += QStringLiteral(" (not found)");
    return QStringLiteral("Settings: %1\nDatabase: %2").arg(settings, store);
}

QByteArray SampleSettings()
{
    return QByteArray(kSampleSettings);
}

QString UneditedSampleMessage(const QString& iniPath)
{
    QFile file(iniPath);
    if (iniPath.isEmpty() || file.size() != qint64(sizeof(kSampleSettings) - 1) || !file.open(QIODevice::ReadOnly) ||
        file.readAll() != SampleSettings())
        return QString();
    return QStringLiteral("Settings are the sample's: edit %1 for your service").arg(iniPath);
}

QString MissingDatabaseMessage(const FileLocations& files)
{
    const QString where = files.dbChosenBy.isEmpty()
                              ? files.dbPath
                              : QStringLiteral("%1 (the [Database] Path of %2)").arg(files.dbPath, files.dbChosenBy);
    return QStringLiteral("No database found at %1.\n\"velmarpay-cli init-db\" creates it there.").arg(where);
}

} // namespace velmar
