#pragma once

#include "common/testsupport.h"

#include <QProcess>
#include <QTemporaryDir>

namespace velmar::test {

// Another program holding the database until the object goes: Python's sqlite3 module in a
// transaction begun with `begin`, after a read when `read` (a reader that keeps a commit waiting).
class LockHolder
{
public:
    LockHolder(const QString& dbPath, const QString& begin, bool read = false);
    ~LockHolder();

private:
    QProcess m_python;
};

// A folder out of space: a 40 KB tmpfs where the machine lets us mount one (root), else a limit on
// the size of files written (RLIMIT_FSIZE). Either way the system itself refuses the writes.
class FullDisk
{
public:
    FullDisk();
    ~FullDisk();

    QString filePath(const QString& name) const;
    bool isMounted() const { return m_mounted; }
    // Leaves `room` bytes free; call it once the files that should survive are written.
    void fill(qint64 room = 0);
    // The system's reason for a refused write.
    QString reason() const;
    CliRun runCli(const QString& ini, const QString& db, const QStringList& args) const;
    // Limits the writes of this process; call what it returns to lift the limit.
    std::function<void()> limitWrites() const;

private:
    QTemporaryDir m_dir;
    QString m_folder;
    bool m_mounted = false;
    qint64 m_room = 0;
};

} // namespace velmar::test
