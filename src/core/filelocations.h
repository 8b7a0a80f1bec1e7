#pragma once

#include "core/appsettings.h"

#include <QString>
#include <QStringList>

namespace velmar {

// What decides where the settings and the database are: the program's own path and the
// user's environment. Tests fill it in; the program entries take it from the process.
struct LocationInputs
{
    // The executable's path without its extension: "<base>.ini" beside it makes a portable copy.
    QString programBase;
    QString home;
    // $XDG_CONFIG_HOME and $XDG_DATA_HOME as set; empty or relative means the usual folder under home.
    QString configHome;
    QString dataHome;
    QString systemConfigDir = QStringLiteral("/etc");

    static LocationInputs fromEnvironment(const QString& programBase);
};

// The settings file and database a run uses.
struct FileLocations
{
    // Empty when no settings file was found: the defaults apply.
    QString iniPath;
    // Where the settings file was looked for, in order.
    QStringList iniSearched;
    // Where a user's own settings file belongs.
    QString userIniPath;
    QString dbPath;
    // The settings file whose [Database] Path chose the database; empty for the default place.
    QString dbChosenBy;
    // --db named the file: the run works on it whatever [Database] Driver says.
    bool dbNamedOnCommandLine = false;
};

// Portable when "<base>.ini" is beside the program: both files there, as a copy run from a
// folder has always had them. Otherwise the first settings file of the user's config folder
// and the system's, and the database in the user's data folder. [Database] Path of the
// settings file in use overrides the database (relative to that file's folder). A non-empty
// iniOverride or dbOverride (the command line's) takes the place of what was found.
FileLocations LocateFiles(const LocationInputs& in, const QString& iniOverride = QString(),
                          const QString& dbOverride = QString());

// The settings of the file in use, or the defaults when there is none.
AppSettings LoadSettings(const FileLocations& files);

// "Cannot read the settings FILE: reason" for a settings file in use that is missing, a folder or
// unreadable (as one named on the command line may be); empty when it can be read or none is used.
QString SettingsFileError(const QString& iniPath);

// The server of [Database] is used unless the command line named an SQLite file.
bool UsesServer(const FileLocations& files, const DatabaseSettings& database);

// "Settings: ..." and "Database: ..." lines saying which files (or which server) are in use.
QString DescribeFileLocations(const FileLocations& files, const DatabaseSettings& database = DatabaseSettings());

// Where the files are, as both programs' --help tells it.
inline constexpr char kFilesHelp[] =
    "Files:\n"
    "  velmarpay.ini  the settings: beside the program, else $XDG_CONFIG_HOME/velmarpay/ (usually\n"
    "                 ~/.config/velmarpay/), else /etc/velmarpay/; none: the defaults apply\n"
    "  velmarpay.mdb  the database: beside the program when its settings are, else\n"
    "                 $XDG_DATA_HOME/velmarpay/ (usually ~/.local/share/velmarpay/); init-db, or\n"
    "                 the program's first start, creates it\n";

// The sample settings (samples/velmarpay.ini) that a first start copies for the user to edit.
QByteArray SampleSettings();
// "Settings are the sample's: edit FILE for your service" while the file in use is that copy
// unedited; empty otherwise.
QString UneditedSampleMessage(const QString& iniPath);

// The first-start text when the database is missing: where it was looked for and how to create it.
QString MissingDatabaseMessage(const FileLocations& files);

} // namespace velmar
