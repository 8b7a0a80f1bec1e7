#include "core/appsettings.h"

#include "core/inifile.h"

#include <QDir>
#include <QFileInfo>

#include <cmath>

namespace velmar {

namespace {

// A rate is a percentage: anything else (150, -5, 1e400) is refused for the default.
double readRate(const IniFile& ini, const QString& key, const QString& defaultValue, QStringList* refused)
{
    const QString section = QStringLiteral("DEFAULTS");
    const double value = ini.readNumber(section, key, defaultValue);
    if (std::isfinite(value) && value >= 0 && value <= 100)
        return value;
    refused->append(QStringLiteral("Setting %1=%2 is out of range; %3 is used")
                        .arg(key, ini.readString(section, key, defaultValue), defaultValue));
    return StrToNumber(defaultValue);
}

} // namespace

QString DatabaseSettings::describe() const
{
    return QStringLiteral("%1 on %2").arg(Name, Host.isEmpty() ? QStringLiteral("localhost") : Host);
}

AppSettings AppSettings::fromIni(const IniFile& ini)
{
    AppSettings s;
    const QString layout = QStringLiteral("LAYOUT");
    const QString defaults = QStringLiteral("DEFAULTS");
    const QString email = QStringLiteral("EMail");

    s.Name = ini.readString(layout, QStringLiteral("Name"), QString());
    s.Address = ini.readString(layout, QStringLiteral("Address"), QString());
    s.Telephone = ini.readString(layout, QStringLiteral("Telephone"), QString());

    s.Superannuation = readRate(ini, QStringLiteral("Superannuation"), QStringLiteral("0"), &s.refused);
    s.Employerannuation = readRate(ini, QStringLiteral("Employerannuation"), QStringLiteral("14"), &s.refused);
    s.NoSuperannuation = s.Superannuation < 0.1;

    s.ProForma = ini.readFlag(defaults, QStringLiteral("ProForma"), false);
    s.PartSuperannuation = ini.readFlag(defaults, QStringLiteral("PartSuperannuation"), false);
    if (s.ProForma) {
        const QString section = QStringLiteral("ProForma");
        s.Add1 = ini.readString(section, QStringLiteral("Add1"), QString());
        s.Add2 = ini.readString(section, QStringLiteral("Add2"), QString());
        s.Add3 = ini.readString(section, QStringLiteral("Add3"), QString());
        s.Add4 = ini.readString(section, QStringLiteral("Add4"), QString());
        s.Add5 = ini.readString(section, QStringLiteral("Add5"), QString());
        s.Add6 = ini.readString(section, QStringLiteral("Add6"), QString());
    }

    s.EMailText = ini.sectionValues(QStringLiteral("EMailText"));

    s.FromAddress = ini.readString(email, QStringLiteral("FromAddress"), QString());
    s.FromName = ini.readString(email, QStringLiteral("FromName"), QString());
    s.Server = ini.readString(email, QStringLiteral("Server"), QString());
    s.Login = ini.readString(email, QStringLiteral("Login"), QString());
    s.Password = ini.readString(email, QStringLiteral("Password"), QString());
    s.TEST = ini.readString(email, QStringLiteral("TEST"), QString());
    s.SMTPPort = ini.readInteger(email, QStringLiteral("SMTPPort"), 25);
    s.Security = ini.readString(email, QStringLiteral("Security"), QString());
    s.TrustFile = ini.readString(email, QStringLiteral("TrustFile"), QString());
    s.AuthMethod = ini.readString(email, QStringLiteral("AuthMethod"), QString());
    s.PasswordCommand = ini.readString(email, QStringLiteral("PasswordCommand"), QString());

    s.Solo = ini.readFlag(defaults, QStringLiteral("Solo"), false);
    if (s.Solo) {
        const QString section = QStringLiteral("Solo");
        s.NHSPSAuthority = ini.readString(section, QStringLiteral("NHSPSAuthority"), QString());
        s.NHSEACode = ini.readString(section, QStringLiteral("NHSEACode"), QString());
    }

    const QString database = QStringLiteral("Database");
    DatabaseSettings& d = s.Database;
    d.Driver = ini.readString(database, QStringLiteral("Driver"), QString());
    d.Host = ini.readString(database, QStringLiteral("Host"), QString());
    d.Port = ini.readInteger(database, QStringLiteral("Port"), 5432);
    d.Name = ini.readString(database, QStringLiteral("Name"), QString());
    d.User = ini.readString(database, QStringLiteral("User"), QString());
    d.Password = ini.readString(database, QStringLiteral("Password"), QString());
    d.PasswordCommand = ini.readString(database, QStringLiteral("PasswordCommand"), QString());
    d.SslMode = ini.readString(database, QStringLiteral("SslMode"), QString());
    return s;
}

AppSettings AppSettings::load(const QString& iniPath)
{
    AppSettings s = fromIni(IniFile(iniPath));
    // A certificate kept beside the settings is named without a folder.
    if (!s.TrustFile.isEmpty() && QDir::isRelativePath(s.TrustFile))
        s.TrustFile = QFileInfo(iniPath).dir().filePath(s.TrustFile);
    return s;
}

} // namespace velmar
