#include "smtpserverprocess.h"

#include "common/testsupport.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace velmar::test {

namespace {
// Debian's Python packages belong to this interpreter, whatever else is first on PATH.
const QString python = QStringLiteral("/usr/bin/python3");
} // namespace

bool SmtpServerProcess::start(const QString& outDir, const QString& login, const QString& password)
{
    return start(outDir, Options{.login = login, .password = password});
}

bool SmtpServerProcess::makeCertificate(const QString& folder, const QString& commonName, const QString& altNames)
{
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    maker.start(QStringLiteral("/bin/sh"),
                {sourcePath(QStringLiteral("tests/mail/make_certificate.sh")), folder, commonName, altNames});
    return maker.waitForFinished(30000) && maker.exitStatus() == QProcess::NormalExit && maker.exitCode() == 0;
}

bool SmtpServerProcess::start(const QString& outDir, const Options& options)
{
    m_outDir = outDir;
    QStringList args{sourcePath(QStringLiteral("tests/mail/smtp_server.py")), QStringLiteral("--outdir"), outDir};
    if (!options.login.isEmpty())
        args << QStringLiteral("--login") << options.login << QStringLiteral("--password") << options.password;
    if (!options.token.isEmpty())
        args << QStringLiteral("--token") << options.token;
    for (const auto& [flag, folder] :
         {std::pair{QStringLiteral("--starttls"), options.startTls}, std::pair{QStringLiteral("--tls"), options.tls}})
        if (!folder.isEmpty())
            args << flag << folder + QStringLiteral("/cert.pem") << folder + QStringLiteral("/key.pem");
    if (options.delaySeconds > 0)
        args << QStringLiteral("--delay") << QString::number(options.delaySeconds);
    for (const QString& address : options.refuse)
        args << QStringLiteral("--refuse") << address;
    if (!options.hostile.isEmpty())
        args << QStringLiteral("--hostile") << options.hostile;
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_process.start(python, args);
    if (!m_process.waitForStarted(5000))
        return false;
    const QDeadlineTimer deadline(15000);
    QByteArray output;
    while (!output.contains('\n') && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
            break;
        output.append(m_process.readAll());
    }
    if (!output.startsWith("READY "))
        return false;
    m_port = output.mid(6).trimmed().toInt();
    return m_port > 0;
}

void SmtpServerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel(); // the server's signal to stop
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

QStringList SmtpServerProcess::messageFiles() const
{
    QStringList files;
    const QDir dir(m_outDir);
    for (const QString& name : dir.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name))
        files.append(dir.filePath(name));
    return files;
}

QJsonObject SmtpServerProcess::parse(const QString& emlPath)
{
    QProcess reader;
    reader.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    reader.start(python, {sourcePath(QStringLiteral("tests/mail/read_message.py")), emlPath});
    if (!reader.waitForFinished(15000) || reader.exitCode() != 0)
        return QJsonObject();
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

QJsonObject SmtpServerProcess::envelope(const QString& emlPath)
{
    QFile file(emlPath.chopped(4) + QStringLiteral(".json"));
    if (!file.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(file.readAll()).object();
}

QStringList SmtpServerProcess::recipients() const
{
    QStringList result;
    for (const QString& eml : messageFiles())
        result += envelope(eml).value(QStringLiteral("rcpt_tos")).toArray().first().toString();
    return result;
}

QStringList SmtpServerProcess::commands() const
{
    QFile file(QDir(m_outDir).filePath(QStringLiteral("commands.log")));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
}

} // namespace velmar::test
