#pragma once

#include <QString>
#include <QStringList>

namespace velmar {

class IniFile;

// [Database]: which store the run works on. SQLITE (the default) is the file beside the program or
// of [Database] Path; POSTGRESQL a server shared by several clerks, reached through libpq.
struct DatabaseSettings
{
    QString Driver; // SQLITE or POSTGRESQL, any case; empty means SQLITE
    QString Host;   // host name or a Unix-socket folder; empty: libpq's default
    int Port = 5432;
    QString Name; // the database
    QString User;
    QString Password;
    QString PasswordCommand; // its first output line is the password; it wins over Password
    QString SslMode;         // libpq's sslmode (disable, allow, prefer, require, verify-ca, verify-full)

    bool isServer() const { return Driver.compare(QStringLiteral("POSTGRESQL"), Qt::CaseInsensitive) == 0; }
    bool isFile() const
    {
        return Driver.isEmpty() || Driver.compare(QStringLiteral("SQLITE"), Qt::CaseInsensitive) == 0;
    }
    // "velmarpay on db.example.org", as messages name the server's database.
    QString describe() const;
};

// The settings read once at start-up from the initialisation file; read-only afterwards.
struct AppSettings
{
    // LAYOUT
    QString Name;
    QString Address;
    QString Telephone;
    // DEFAULTS
    double Superannuation = 0;
    double Employerannuation = 14;
    bool NoSuperannuation = true; // Superannuation below 0.1
    bool ProForma = false;
    bool PartSuperannuation = false;
    bool Solo = false;
    // ProForma section: read only in pro-forma mode
    QString Add1, Add2, Add3, Add4, Add5, Add6;
    // EMailText section: body lines of the e-mail, in file order
    QStringList EMailText;
    // EMail
    QString FromAddress;
    QString FromName;
    QString Server;
    QString Login;
    QString Password;
    QString TEST;
    int SMTPPort = 25;
    QString Security;        // STARTTLS, TLS, None; empty: TLS on port 465, else STARTTLS when offered
    QString TrustFile;       // PEM certificates trusted besides the system's; relative to the ini
    QString AuthMethod;      // LOGIN (empty), PLAIN or XOAUTH2
    QString PasswordCommand; // its first output line is the password (or the XOAUTH2 token)
    // Solo section: read only in pension-form mode
    QString NHSPSAuthority;
    QString NHSEACode;
    // Database
    DatabaseSettings Database;

    // "Setting %s=%s is out of range; %s is used" for each value refused, to be shown at start-up.
    QStringList refused;

    static AppSettings fromIni(const IniFile& ini);
    static AppSettings load(const QString& iniPath);
};

} // namespace velmar
