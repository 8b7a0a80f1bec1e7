#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

namespace velmar::test {

// A real SMTP server (Debian's aiosmtpd) on a free port of 127.0.0.1, writing every message it
// receives into a folder. It stops when this object goes, and by itself if the test dies.
class SmtpServerProcess
{
public:
    ~SmtpServerProcess() { stop(); }

    struct Options
    {
        QString login = {}; // AUTH LOGIN and PLAIN offered, only login/password accepted
        QString password = {};
        QString token = {};      // XOAUTH2 accepted for the login with this token
        QString startTls = {};   // a folder made by makeCertificate: STARTTLS required first
        QString tls = {};        // a folder made by makeCertificate: TLS from the connect
        double delaySeconds = 0; // before accepting each message
        QStringList refuse = {}; // recipients answered with 550
        // A misbehaving server of the script's own instead (smtp_server.py --hostile): "plain",
        // "dribble", "flood", "endless" or "stuck".
        QString hostile = {};
    };
    // With a login, AUTH LOGIN is offered on plain TCP and only login/password are accepted.
    bool start(const QString& outDir, const QString& login = QString(), const QString& password = QString());
    bool start(const QString& outDir, const Options& options);
    void stop();
    int port() const { return m_port; }

    // Received messages, oldest first: the .eml files.
    QStringList messageFiles() const;
    // A received message as Python's email package reads it (see read_message.py).
    static QJsonObject parse(const QString& emlPath);
    // The envelope of a received message: mail_from and rcpt_tos.
    static QJsonObject envelope(const QString& emlPath);
    // The first recipient of each received message, oldest first.
    QStringList recipients() const;
    // Every line a hostile server received outside message data, and each final ".".
    QStringList commands() const;
    // A throw-away self-signed certificate for the subject's common name and alternative names
    // ("IP:127.0.0.1"), made with openssl into folder/cert.pem and folder/key.pem
    // (tests/mail/make_certificate.sh).
    static bool makeCertificate(const QString& folder, const QString& commonName, const QString& altNames);

private:
    QProcess m_process;
    QString m_outDir;
    int m_port = 0;
};

} // namespace velmar::test
