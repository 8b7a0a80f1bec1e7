#include "core/passwordcommand.h"

#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <csignal>
#include <unistd.h>

namespace velmar {

bool RunPasswordCommand(const QString& command, int timeoutMs, QString* secret, QString* error)
{
    QProcess process;
    // A group of its own, so that a time-out also ends whatever the shell started.
    process.setChildProcessModifier([] { ::setpgid(0, 0); });
    process.setStandardInputFile(QProcess::nullDevice());
    // What it prints there is never shown: a helper may print the secret on it.
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
    if (!process.waitForStarted(timeoutMs)) {
        *error = process.errorString();
        return false;
    }
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    limit.start(timeoutMs);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    if (process.state() != QProcess::NotRunning) {
        ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.waitForFinished(1000);
        *error = QStringLiteral("it did not finish within %1 seconds").arg(timeoutMs / 1000.0);
        return false;
    }
    if (process.exitStatus() != QProcess::NormalExit) {
        *error = QStringLiteral("it crashed");
        return false;
    }
    if (process.exitCode() != 0) {
        *error = QStringLiteral("exit status %1").arg(process.exitCode());
        return false;
    }
    QByteArray first = process.readAllStandardOutput();
    first.truncate(first.indexOf('\n') < 0 ? first.size() : first.indexOf('\n'));
    if (first.endsWith('\r'))
        first.chop(1);
    if (first.isEmpty()) {
        *error = QStringLiteral("it printed nothing");
        return false;
    }
    *secret = QString::fromUtf8(first);
    return true;
}

} // namespace velmar
