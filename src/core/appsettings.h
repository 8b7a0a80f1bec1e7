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

    // The settings file read; empty when none was found and the defaults apply.
    QString iniPath;
    // Where a settings file was looked for, and where the user's own belongs.
    QStringList iniSearched;
    QString userIniPath;

    // What is wrong in the settings, a line each, told once at start-up: values refused or not of
    // their key's kind (with the value used instead), unknown sections and keys, lines skipped, a
    // password other users can read.
    QStringList problems;

    // `source` names the file in messages.
    static AppSettings fromIni(const IniFile& ini, const QString& source = QString());
    static AppSettings load(const QString& iniPath);

    // Looked for and none found: the defaults apply (settings made in code looked for none).
    bool noSettingsFile() const { return iniPath.isEmpty() && !iniSearched.isEmpty(); }
    // The rate an "H" record's "999" stands for.
    double defaultDoctorRate() const { return Solo ? 0 : Superannuation; }
    // The file [EMail] Server belongs in: the one read, else the user's own.
    QString settingsFileName() const { return iniPath.isEmpty() ? userIniPath : iniPath; }
};

// "No settings file found (looked for ...): the defaults apply", or empty when one was read.
QString NoSettingsMessage(const AppSettings& settings);

// After an import without a settings file: "; doctors of rate 999 stored at 0.00%"; else empty.
QString DefaultRateNote(const AppSettings& settings);

// "No mail server is set: [EMail] Server in FILE", or empty when one is.
QString MissingMailServerMessage(const AppSettings& settings);

} // namespace velmar
