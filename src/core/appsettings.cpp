#include "core/appsettings.h"

#include "core/inifile.h"
#include "core/textformat.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cmath>

using namespace Qt::StringLiterals;

namespace velmar {

namespace {

const QString kLayout = QStringLiteral("LAYOUT");
const QString kDefaults = QStringLiteral("DEFAULTS");
const QString kEMail = QStringLiteral("EMail");
const QString kDatabase = QStringLiteral("Database");

// Every section and key the program reads; [EMailText] takes any key.
struct KnownSection
{
    QString name;
    QStringList keys;
};
const QList<KnownSection>& knownSections()
{
    static const QList<KnownSection> sections{
        {kLayout, {u"Name"_s, u"Address"_s, u"Telephone"_s}},
        {kDefaults, {u"Superannuation"_s, u"Employerannuation"_s, u"ProForma"_s, u"PartSuperannuation"_s, u"Solo"_s}},
        {u"ProForma"_s, {u"Add1"_s, u"Add2"_s, u"Add3"_s, u"Add4"_s, u"Add5"_s, u"Add6"_s}},
        {u"EMailText"_s, {}},
        {kEMail,
         {u"FromAddress"_s, u"FromName"_s, u"Server"_s, u"Login"_s, u"Password"_s, u"TEST"_s, u"SMTPPort"_s,
          u"Security"_s, u"TrustFile"_s, u"AuthMethod"_s, u"PasswordCommand"_s}},
        {u"Solo"_s, {u"NHSPSAuthority"_s, u"NHSEACode"_s}},
        {kDatabase,
         {u"Path"_s, u"Driver"_s, u"Host"_s, u"Port"_s, u"Name"_s, u"User"_s, u"Password"_s, u"PasswordCommand"_s,
          u"SslMode"_s}},
    };
    return sections;
}

int editDistance(const QString& a, const QString& b)
{
    const QString x = a.toLower();
    const QString y = b.toLower();
    QList<int> row(y.size() + 1);
    for (int j = 0; j <= y.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= x.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= y.size(); ++j) {
            const int above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1, diagonal + (x.at(i - 1) == y.at(j - 1) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

// The known name a mistyped one most likely meant: one or two letters off.
QString nearest(const QString& name, const QStringList& known)
{
    QString best;
    int bestDistance = std::min<int>(2, name.size() / 3);
    for (const QString& candidate : known) {
        const int d = editDistance(name, candidate);
        if (d <= bestDistance && (best.isEmpty() || d < bestDistance)) {
            best = candidate;
            bestDistance = d;
        }
    }
    return best;
}

// Names the program does not know, keys given twice and lines it skips: each would leave a
// setting at its default without a word.
QStringList checkNames(const IniFile& ini, const QString& source)
{
    QStringList problems;
    QStringList sectionNames;
    for (const KnownSection& k : knownSections())
        sectionNames.append(k.name);
    for (const IniFile::Section& section : ini.sections()) {
        const auto known = std::find_if(knownSections().cbegin(), knownSections().cend(), [&](const KnownSection& k) {
            return k.name.compare(section.name, Qt::CaseInsensitive) == 0;
        });
        if (known == knownSections().cend()) {
            const QString guess = nearest(section.name, sectionNames);
            problems.append(u"Unknown section [%1] in %2"_s.arg(section.name, source) +
                            (guess.isEmpty() ? QString() : u" (did you mean [%1]?)"_s.arg(guess)));
            continue;
        }
        QSet<QString> seen;
        for (const IniFile::Entry& entry : section.entries) {
            if (known->keys.isEmpty()) // [EMailText]: any key is a line of the message
                continue;
            if (seen.contains(entry.key.toLower())) {
                problems.append(
                    u"%1 is set twice in [%2] of %3; the first value is used"_s.arg(entry.key, known->name, source));
                continue;
            }
            seen.insert(entry.key.toLower());
            if (known->keys.contains(entry.key, Qt::CaseInsensitive))
                continue;
            QString hint;
            const QString guess = nearest(entry.key, known->keys);
            if (!guess.isEmpty())
                hint = u" (did you mean %1?)"_s.arg(guess);
            for (const KnownSection& other : knownSections())
                if (hint.isEmpty() && other.keys.contains(entry.key, Qt::CaseInsensitive))
                    hint = u" (it belongs in [%1])"_s.arg(other.name);
            problems.append(u"Unknown key %1 in [%2] of %3%4"_s.arg(entry.key, known->name, source, hint));
        }
    }
    for (const IniFile::StrayLine& stray : ini.strayLines()) {
        const bool comment = stray.text.startsWith(u'#');
        problems.append(u"Line %1 of %2 is %3 and is skipped: %4%5"_s.arg(
            QString::number(stray.line), source, stray.text.contains(u'=') ? u"not in a section"_s : u"not a setting"_s,
            stray.text, comment ? u" (a comment starts with ';')"_s : QString()));
    }
    // A file that is no settings file at all (a PDF named by mistake) says so in a few lines.
    constexpr int kShown = 10;
    if (problems.size() > kShown) {
        const qsizetype more = problems.size() - kShown;
        problems.resize(kShown);
        problems.append(u"… and %1 more problems in %2"_s.arg(more).arg(source));
    }
    return problems;
}

// The readers of the kinds of value that are not plain text: each tells when a value is not what
// its key takes, and what is used instead.
class CheckedReader
{
public:
    CheckedReader(const IniFile& ini, QStringList* problems) : m_ini(ini), m_problems(problems) {}

    // A percentage: read like strtod, refused outside 0 to 100 for the default.
    double rate(const QString& key, const QString& defaultValue)
    {
        if (!m_ini.hasKey(kDefaults, key))
            return StrToNumber(defaultValue);
        const QString text = m_ini.readString(kDefaults, key, defaultValue);
        const double value = StrToNumber(text);
        if (!std::isfinite(value) || value < 0 || value > 100) {
            m_problems->append(u"Setting %1=%2 is out of range; %3 is used"_s.arg(key, text, defaultValue));
            return StrToNumber(defaultValue);
        }
        static const QRegularExpression number(u"^[+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?$"_s);
        if (!number.match(text).hasMatch()) {
            const bool comma = text.contains(u',') && value != 0;
            m_problems->append(u"%1=%2 is not a number%3; %4 is used"_s.arg(
                key, text, comma ? u"; the decimal point is '.'"_s : QString(), QString::number(value)));
        }
        return value;
    }

    bool flag(const QString& section, const QString& key, bool defaultValue)
    {
        int value = 0;
        const bool number = StrToIntStrict(m_ini.readString(section, key, QString()), &value);
        const bool result = number ? value != 0 : defaultValue;
        if (m_ini.hasKey(section, key) && !(number && (value == 0 || value == 1)))
            m_problems->append(u"%1=%2 is not 0 or 1; %3 is used"_s.arg(key, m_ini.readString(section, key, QString()),
                                                                        result ? u"1"_s : u"0"_s));
        return result;
    }

    int integer(const QString& section, const QString& key, int defaultValue)
    {
        int value = 0;
        if (!m_ini.hasKey(section, key) || StrToIntStrict(m_ini.readString(section, key, QString()), &value))
            return m_ini.hasKey(section, key) ? value : defaultValue;
        m_problems->append(u"%1=%2 is not a whole number; %3 is used"_s.arg(
            key, m_ini.readString(section, key, QString()), QString::number(defaultValue)));
        return defaultValue;
    }

private:
    const IniFile& m_ini;
    QStringList* m_problems;
};

} // namespace

QString DatabaseSettings::describe() const
{
    return QStringLiteral("%1 on %2").arg(Name, Host.isEmpty() ? QStringLiteral("localhost") : Host);
}

AppSettings AppSettings::fromIni(const IniFile& ini, const QString& source)
{
    AppSettings s;
    s.problems = checkNames(ini, source.isEmpty() ? u"the settings"_s : source);
    CheckedReader checked(ini, &s.problems);
    const QString& layout = kLayout;
    const QString& defaults = kDefaults;
    const QString& email = kEMail;

    s.Name = ini.readString(layout, QStringLiteral("Name"), QString());
    s.Address = ini.readString(layout, QStringLiteral("Address"), QString());
    s.Telephone = ini.readString(layout, QStringLiteral("Telephone"), QString());

    s.Superannuation = checked.rate(u"Superannuation"_s, u"0"_s);
    s.Employerannuation = checked.rate(u"Employerannuation"_s, u"14"_s);
    s.NoSuperannuation = s.Superannuation < 0.1;

    s.ProForma = checked.flag(defaults, u"ProForma"_s, false);
    s.PartSuperannuation = checked.flag(defaults, u"PartSuperannuation"_s, false);
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
    s.SMTPPort = checked.integer(email, u"SMTPPort"_s, 25);
    s.Security = ini.readString(email, QStringLiteral("Security"), QString());
    s.TrustFile = ini.readString(email, QStringLiteral("TrustFile"), QString());
    s.AuthMethod = ini.readString(email, QStringLiteral("AuthMethod"), QString());
    s.PasswordCommand = ini.readString(email, QStringLiteral("PasswordCommand"), QString());

    s.Solo = checked.flag(defaults, u"Solo"_s, false);
    if (s.Solo) {
        const QString section = QStringLiteral("Solo");
        s.NHSPSAuthority = ini.readString(section, QStringLiteral("NHSPSAuthority"), QString());
        s.NHSEACode = ini.readString(section, QStringLiteral("NHSEACode"), QString());
    }

    const QString& database = kDatabase;
    DatabaseSettings& d = s.Database;
    d.Driver = ini.readString(database, QStringLiteral("Driver"), QString());
    d.Host = ini.readString(database, QStringLiteral("Host"), QString());
    d.Port = checked.integer(database, u"Port"_s, 5432);
    d.Name = ini.readString(database, QStringLiteral("Name"), QString());
    d.User = ini.readString(database, QStringLiteral("User"), QString());
    d.Password = ini.readString(database, QStringLiteral("Password"), QString());
    d.PasswordCommand = ini.readString(database, QStringLiteral("PasswordCommand"), QString());
    d.SslMode = ini.readString(database, QStringLiteral("SslMode"), QString());
    // The file's own bytes are in these lines: a terminal shows none of its control characters.
    for (QString& problem : s.problems)
        problem = ShownText(problem);
    return s;
}

AppSettings AppSettings::load(const QString& iniPath)
{
    AppSettings s = fromIni(IniFile(iniPath), iniPath);
    s.iniPath = iniPath;
    // A certificate kept beside the settings is named without a folder.
    if (!s.TrustFile.isEmpty() && QDir::isRelativePath(s.TrustFile))
        s.TrustFile = QFileInfo(iniPath).dir().filePath(s.TrustFile);
    return s;
}

QString NoSettingsMessage(const AppSettings& settings)
{
    if (!settings.noSettingsFile())
        return QString();
    return u"No settings file found (looked for %1): the defaults apply"_s.arg(settings.iniSearched.join(u", "_s));
}

QString DefaultRateNote(const AppSettings& settings)
{
    if (!settings.noSettingsFile())
        return QString();
    return u"; doctors of rate 999 stored at %1%"_s.arg(FormatMoney(settings.defaultDoctorRate()));
}

QString MissingMailServerMessage(const AppSettings& settings)
{
    if (!settings.Server.trimmed().isEmpty())
        return QString();
    return u"No mail server is set: [EMail] Server in %1"_s.arg(settings.settingsFileName());
}

} // namespace velmar
