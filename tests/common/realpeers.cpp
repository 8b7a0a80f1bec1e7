#include "common/realpeers.h"

#include <QDir>
#include <QFile>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>

namespace velmar::test {

namespace {

const char kLockScript[] = R"(
import sqlite3, sys
c = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=10)
c.execute(sys.argv[2])
if sys.argv[3] == "read":
    c.execute("SELECT * FROM sqlite_master").fetchone()
print("locked", flush=True)
sys.stdin.read()
)";

// Past the limit a write fails with EFBIG rather than the signal ending the program.
void limitFileSize(rlim_t limit)
{
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit r{limit, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &r);
}

} // namespace

LockHolder::LockHolder(const QString& dbPath, const QString& begin, bool read)
{
    m_python.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromUtf8(kLockScript), dbPath,
                                                        begin, read ? QStringLiteral("read") : QStringLiteral("-")});
    EXPECT_TRUE(m_python.waitForReadyRead(10000) && m_python.readLine().trimmed() == "locked")
        << m_python.readAllStandardError().toStdString();
}

LockHolder::~LockHolder()
{
    m_python.closeWriteChannel();
    if (!m_python.waitForFinished(10000))
        m_python.kill();
}

FullDisk::FullDisk() : m_folder(m_dir.filePath(QStringLiteral("disk")))
{
    QDir().mkpath(m_folder);
    m_mounted = mount("tmpfs", QFile::encodeName(m_folder).constData(), "tmpfs", 0, "size=128k") == 0;
    if (!m_mounted)
        std::fprintf(stderr, "FullDisk: no tmpfs can be mounted here; limiting the file size instead\n");
}

FullDisk::~FullDisk()
{
    if (m_mounted)
        umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
}

QString FullDisk::filePath(const QString& name) const
{
    return QDir(m_folder).filePath(name);
}

void FullDisk::fill(qint64 room)
{
    m_room = room;
    QFile filler(filePath(QStringLiteral("filler")));
    if (!m_mounted || !filler.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    struct statvfs fs;
    ASSERT_EQ(statvfs(QFile::encodeName(m_folder).constData(), &fs), 0);
    const qint64 size = qint64(fs.f_bavail) * qint64(fs.f_bsize) - room;
    if (size > 0) {
        ASSERT_EQ(filler.write(QByteArray(size, '\0')), size);
    }
}

QString FullDisk::reason() const
{
    return m_mounted ? QStringLiteral("No space left on device") : QStringLiteral("File too large");
}

CliRun FullDisk::runCli(const QString& ini, const QString& db, const QStringList& args) const
{
    const rlim_t limit = rlim_t(m_room);
    return test::runCli(
        ini, db, args, QString(), m_mounted ? std::function<void()>() : [limit] { limitFileSize(limit); });
}

std::function<void()> FullDisk::limitWrites() const
{
    if (m_mounted)
        return [] {};
    rlimit previous{};
    getrlimit(RLIMIT_FSIZE, &previous);
    limitFileSize(rlim_t(m_room));
    return [previous] { setrlimit(RLIMIT_FSIZE, &previous); };
}

} // namespace velmar::test
