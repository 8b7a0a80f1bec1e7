// Sends many pro-forma messages, each with two PDF attachments, on one connection to a local
// SMTP server (tests/mail/smtp_server.py), first in plain text, then after STARTTLS (with a
// throw-away certificate from tests/mail/make_certificate.sh), and reports the rate and the
// client's CPU time of each.
//
//   bench_mail [--messages N] [--size BYTES] [--server-script PATH]
#include "core/appsettings.h"
#include "mail/mailstatus.h"
#include "mail/paymentmail.h"
#include "mail/smtpsession.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <sys/resource.h>

#include <clocale>

namespace {

// Stands in for the status bar: keeps the last text, as the window would show it.
class LastLineStatus : public velmar::MailStatus
{
public:
    void showStatus(const QString& text) override
    {
        m_last = text;
        ++count;
    }
    qint64 count = 0;

private:
    QString m_last;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

QString writePdf(const QTemporaryDir& dir, const QString& name, int size, quint32 seed)
{
    QByteArray data("%PDF-1.4\n");
    QRandomGenerator random(seed);
    while (data.size() < size)
        data.append(static_cast<char>(random.bounded(256)));
    QFile file(dir.filePath(name));
    if (file.open(QIODevice::WriteOnly))
        file.write(data);
    return file.fileName();
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    std::setlocale(LC_NUMERIC, "C");
    QTextStream out(stdout);
    QTextStream err(stderr);

    int messages = 500;
    int size = 50 * 1024;
    QString script =
        QFileInfo(QStringLiteral(__FILE__)).absolutePath() + QStringLiteral("/../tests/mail/smtp_server.py");
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args.at(i) == u"--messages")
            messages = args.at(i + 1).toInt();
        else if (args.at(i) == u"--size")
            size = args.at(i + 1).toInt();
        else if (args.at(i) == u"--server-script")
            script = args.at(i + 1);
    }

    QTemporaryDir dir;
    const QString cert = dir.filePath(QStringLiteral("cert.pem"));
    QProcess maker;
    maker.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    maker.start(QStringLiteral("/bin/sh"), {QFileInfo(script).dir().filePath(QStringLiteral("make_certificate.sh")),
                                            dir.path(), QStringLiteral("127.0.0.1"), QStringLiteral("IP:127.0.0.1")});
    if (!maker.waitForFinished(30000) || maker.exitCode() != 0) {
        err << "could not make a certificate with " << maker.arguments().first() << Qt::endl;
        return 1;
    }

    velmar::AppSettings settings;
    settings.Server = QStringLiteral("127.0.0.1");
    settings.FromAddress = QStringLiteral("pay@velmar.test");
    settings.FromName = QStringLiteral("Velmar Pay");
    settings.EMailText = {QStringLiteral("Please find attached your payment details for this month."),
                          QStringLiteral("Regards"), QStringLiteral("Payments Office")};
    velmar::PaymentMail mail;
    mail.pdfPath = writePdf(dir, QStringLiteral("payment.pdf"), size, 1);
    mail.soloPdfPath = writePdf(dir, QStringLiteral("solo.pdf"), size, 2);
    mail.pensionFormWanted = true;
    mail.salutationName = QStringLiteral("Dr Jones");
    mail.proFormaPdfName = QStringLiteral("Jones_0625.pdf");
    mail.soloPdfName = QStringLiteral("Jones_Solo_0625.pdf");

    out << QString::asprintf("%d messages each, two attachments of %d bytes each, one connection\n", messages, size);
    double plainRate = 0;
    for (const bool tls : {false, true}) {
        QStringList serverArgs{script};
        if (tls)
            serverArgs << QStringLiteral("--starttls") << cert << dir.filePath(QStringLiteral("key.pem"));
        QProcess server;
        server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        server.start(QStringLiteral("/usr/bin/python3"), serverArgs);
        QByteArray ready;
        const QDeadlineTimer deadline(15000);
        while (!ready.contains('\n') && !deadline.hasExpired() && server.waitForReadyRead(1000))
            ready.append(server.readAll());
        if (!ready.startsWith("READY ")) {
            err << "the SMTP server did not start: " << script << Qt::endl;
            return 1;
        }
        settings.SMTPPort = ready.mid(6).trimmed().toInt();
        settings.Security = tls ? QStringLiteral("STARTTLS") : QStringLiteral("None");
        settings.TrustFile = tls ? cert : QString();

        LastLineStatus status;
        velmar::SmtpSession session(&status);
        const velmar::MailResult login = session.SmtpLogin(settings);
        if (!login.ok()) {
            err << login.text << Qt::endl;
            return 1;
        }
        QElapsedTimer wall;
        const double cpuStart = cpuSeconds();
        wall.start();
        for (int i = 0; i < messages; ++i) {
            mail.recipient = QStringLiteral("doctor%1@example.test").arg(i);
            const velmar::MailResult sent = velmar::SendPaymentMail(session, settings, mail);
            if (!sent.ok()) {
                err << "message " << i << ": " << sent.text << Qt::endl;
                return 1;
            }
        }
        const double seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        const double cpu = cpuSeconds() - cpuStart;
        session.Disconnect();
        server.closeWriteChannel();
        if (!server.waitForFinished(10000))
            server.kill();

        const double rate = messages / seconds;
        out << QString::asprintf("%-9s wall %.2f s (%.1f messages/s), client CPU %.2f s (%.2f ms per message), "
                                 "%lld lines traced\n",
                                 tls ? "STARTTLS:" : "plain:", seconds, rate, cpu, cpu * 1000.0 / messages,
                                 status.count);
        if (tls)
            out << QString::asprintf("TLS costs %.1f %% of the plain rate\n", (1.0 - rate / plainRate) * 100.0);
        else
            plainRate = rate;
    }
    return 0;
}
