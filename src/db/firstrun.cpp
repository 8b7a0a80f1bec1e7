#include "db/firstrun.h"

#include "core/appsettings.h"
#include "core/filelocations.h"
#include "core/savefile.h"
#include "db/database.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmar {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

// The folders still to be made for a file, outermost first; false (with *error) when the nearest
// one that exists cannot take them. `what` names the file in the message.
bool plannedFolders(const QString& file, const QString& what, QStringList* missing, QString* error)
{
    QString folder = QFileInfo(file).absolutePath();
    while (!QFileInfo::exists(folder)) {
        missing->prepend(folder);
        folder = QFileInfo(folder).absolutePath();
    }
    if (!QFileInfo(folder).isDir()) {
        *error = QStringLiteral("Cannot create %1 %2: %3 is not a folder").arg(what, file, folder);
        return false;
    }
    if (::access(nativePath(folder).constData(), W_OK | X_OK) != 0) {
        *error = QStringLiteral("Cannot create %1 %2 in %3: %4").arg(what, file, folder, systemReason());
        return false;
    }
    return true;
}

// Undoes what was made so far, newest first.
class Undo
{
public:
    ~Undo()
    {
        if (m_kept)
            return;
        for (auto it = m_files.crbegin(); it != m_files.crend(); ++it)
            QFile::remove(*it);
        for (auto it = m_folders.crbegin(); it != m_folders.crend(); ++it)
            ::rmdir(nativePath(*it).constData());
    }
    void keep() { m_kept = true; }

    bool makeFolders(const QStringList& folders, QString* error)
    {
        for (const QString& folder : folders) {
            // mkdir's mode is cut by the umask, never widened; chmod then sets it whatever the umask.
            if (::mkdir(nativePath(folder).constData(), 0700) != 0) {
                if (errno == EEXIST) // another init-db at the same moment: that one's to keep
                    continue;
                *error = QStringLiteral("Cannot create the folder %1: %2").arg(folder, systemReason());
                return false;
            }
            m_folders.append(folder);
            ::chmod(nativePath(folder).constData(), 0700);
        }
        return true;
    }
    void madeFile(const QString& path) { m_files.append(path); }

private:
    QStringList m_folders;
    QStringList m_files;
    bool m_kept = false;
};

// A new file for its owner only, written whole and flushed to disk.
bool writePrivateFile(const QString& path, const QByteArray& bytes, QString* error)
{
    const int fd = ::open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && ::fchmod(fd, 0600) == 0;
    for (qsizetype written = 0; ok && written < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        ok = n > 0 || (n < 0 && errno == EINTR);
        written += std::max<ssize_t>(n, 0);
    }
    ok = ok && ::fsync(fd) == 0;
    if (!ok)
        *error = CannotWriteMessage(path, systemReason());
    if (fd >= 0 && ::close(fd) != 0 && ok) {
        *error = CannotWriteMessage(path, systemReason());
        ok = false;
    }
    if (!ok && fd >= 0)
        QFile::remove(path);
    return ok;
}

bool initializeServer(const DatabaseSettings& database, QStringList* done, QString* error)
{
    const QString connection = QStringLiteral("velmarpay-init");
    bool ok = false;
    {
        QSqlDatabase db;
        ok = OpenServerDatabase(database, connection, &db, error, false) && CreateServerTables(db, error);
    }
    CloseDatabase(connection);
    if (ok)
        done->append(QStringLiteral("created the tables in %1").arg(database.describe()));
    return ok;
}

} // namespace

bool InitializeDatabase(const FileLocations& files, const DatabaseSettings& database, QStringList* done, QString* error)
{
    if (UsesServer(files, database))
        return initializeServer(database, done, error);
    if (!database.isFile() && !files.dbNamedOnCommandLine) {
        *error = QStringLiteral("Unknown database driver \"%1\" in [Database] Driver of %2: SQLITE or POSTGRESQL")
                     .arg(database.Driver, files.iniPath);
        return false;
    }

    // Everything is checked first, so that a step that cannot be done leaves nothing behind.
    const QString& db = files.dbPath;
    const bool writeSettings = files.iniPath.isEmpty();
    const QString& ini = files.userIniPath;
    if (QFileInfo::exists(db)) {
        *error = QStringLiteral("%1 already exists").arg(db);
        return false;
    }
    QStringList dbFolders;
    QStringList iniFolders;
    if (!plannedFolders(db, QStringLiteral("the database"), &dbFolders, error))
        return false;
    if (writeSettings) {
        if (QFileInfo::exists(ini)) {
            *error = QStringLiteral("Cannot write the settings %1: something else is there").arg(ini);
            return false;
        }
        if (!plannedFolders(ini, QStringLiteral("the settings"), &iniFolders, error))
            return false;
        for (const QString& folder : dbFolders)
            iniFolders.removeAll(folder);
    }

    Undo undo;
    if (!undo.makeFolders(dbFolders, error) || !CreateDatabase(db, error))
        return false;
    undo.madeFile(db);
    if (writeSettings && (!undo.makeFolders(iniFolders, error) || !writePrivateFile(ini, SampleSettings(), error)))
        return false;
    undo.keep();
    done->append(QStringLiteral("created %1").arg(db));
    if (writeSettings)
        done->append(QStringLiteral("created %1 from the sample settings: edit it for your service").arg(ini));
    return true;
}

} // namespace velmar
