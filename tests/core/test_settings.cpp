#include "core/appsettings.h"
#include "core/inifile.h"
#include "core/textformat.h"

#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <limits>

using namespace velmar;

namespace {
AppSettings settingsFrom(const char* text)
{
    return AppSettings::fromIni(IniFile::fromText(QString::fromUtf8(text)));
}
// The settings of a velmarpay.ini in dir holding these bytes.
AppSettings settingsOfFile(const QTemporaryDir& dir, const QByteArray& bytes)
{
    QFile ini(dir.filePath(QStringLiteral("velmarpay.ini")));
    EXPECT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate) && ini.write(bytes) == bytes.size());
    ini.close();
    return AppSettings::load(ini.fileName());
}
} // namespace

TEST(Settings, MissingFileGivesDefaults)
{
    const AppSettings s = AppSettings::load(QStringLiteral("/nonexistent/velmarpay.ini"));
    EXPECT_EQ(s.Superannuation, 0);
    EXPECT_TRUE(s.NoSuperannuation);
    EXPECT_EQ(s.Employerannuation, 14);
    EXPECT_EQ(s.SMTPPort, 25);
    EXPECT_FALSE(s.ProForma);
    EXPECT_FALSE(s.PartSuperannuation);
    EXPECT_FALSE(s.Solo);
    EXPECT_TRUE(s.EMailText.isEmpty());
    EXPECT_TRUE(s.Name.isEmpty());
}

TEST(Settings, NumbersReadLikeStrtod)
{
    EXPECT_EQ(settingsFrom("[DEFAULTS]\nSuperannuation=12.5%\n").Superannuation, 12.5);
    EXPECT_EQ(settingsFrom("[DEFAULTS]\nSuperannuation=  7\n").Superannuation, 7);
    EXPECT_EQ(settingsFrom("[DEFAULTS]\nSuperannuation=abc\n").Superannuation, 0);
    EXPECT_EQ(StrToNumber(QStringLiteral("-1.5e1x")), -15);
    EXPECT_EQ(settingsFrom("[DEFAULTS]\nSuperannuation=\"6.5\"\n").Superannuation, 6.5);
    // Present but empty is 0, not the default of 14.
    EXPECT_EQ(settingsFrom("[DEFAULTS]\nEmployerannuation=\n").Employerannuation, 0);
    EXPECT_EQ(StrToNumber(QStringLiteral(".5")), 0.5);
    EXPECT_EQ(StrToNumber(QStringLiteral("3.")), 3);
    EXPECT_EQ(StrToNumber(QStringLiteral("1e")), 1);
    EXPECT_EQ(StrToNumber(QStringLiteral("-")), 0);
}

TEST(Settings, NoSuperannuationBelowOneTenth)
{
    EXPECT_FALSE(settingsFrom("[DEFAULTS]\nSuperannuation=0.1\n").NoSuperannuation);
    EXPECT_TRUE(settingsFrom("[DEFAULTS]\nSuperannuation=0.09\n").NoSuperannuation);
}

TEST(Settings, IntegersAndFlags)
{
    EXPECT_EQ(settingsFrom("[EMail]\nSMTPPort=0x1D\n").SMTPPort, 29);
    EXPECT_EQ(settingsFrom("[EMail]\nSMTPPort=$1D\n").SMTPPort, 29);
    EXPECT_EQ(settingsFrom("[EMail]\nSMTPPort=abc\n").SMTPPort, 25);
    EXPECT_EQ(settingsFrom("[EMail]\nSMTPPort=0x\n").SMTPPort, 25);
    EXPECT_EQ(settingsFrom("[EMail]\nSMTPPort=587\n").SMTPPort, 587);
    EXPECT_EQ(settingsFrom("[EMail]\nSMTPPort=58 7\n").SMTPPort, 25);
    EXPECT_FALSE(settingsFrom("[DEFAULTS]\nProForma=yes\n").ProForma);
    EXPECT_FALSE(settingsFrom("[DEFAULTS]\nProForma=true\n").ProForma);
    EXPECT_TRUE(settingsFrom("[DEFAULTS]\nProForma=2\n").ProForma);
    EXPECT_TRUE(settingsFrom("[DEFAULTS]\nSolo=1\n").Solo);
    EXPECT_FALSE(settingsFrom("[DEFAULTS]\nSolo=0\n").Solo);
}

TEST(Settings, SectionsOnlyReadInTheirMode)
{
    const char* sections = "[ProForma]\nAdd1=Velmar Services\nAdd6=PO1 1AA\n[Solo]\nNHSPSAuthority=Authority\n"
                           "NHSEACode=E123\n";
    const AppSettings off = settingsFrom(sections);
    EXPECT_TRUE(off.Add1.isEmpty());
    EXPECT_TRUE(off.Add6.isEmpty());
    EXPECT_TRUE(off.NHSPSAuthority.isEmpty());
    const AppSettings on = settingsFrom((QByteArray("[DEFAULTS]\nProForma=1\nSolo=1\n") + sections).constData());
    EXPECT_EQ(on.Add1, QStringLiteral("Velmar Services"));
    EXPECT_EQ(on.Add6, QStringLiteral("PO1 1AA"));
    EXPECT_EQ(on.NHSPSAuthority, QStringLiteral("Authority"));
    EXPECT_EQ(on.NHSEACode, QStringLiteral("E123"));
}

TEST(Settings, TextValuesTrimmedUnquotedAndCut)
{
    const AppSettings s = settingsFrom("[layout]\nname =   \"  Velmar  OOH \"  \naddress='1 High St'\r\n"
                                       "[EMail]\nServer=mail.example.org\nServer=second.example.org\n");
    EXPECT_EQ(s.Name, QStringLiteral("  Velmar  OOH "));
    EXPECT_EQ(s.Address, QStringLiteral("1 High St"));
    EXPECT_EQ(s.Server, QStringLiteral("mail.example.org"));
    const QString longValue(3000, u'x');
    const AppSettings l = AppSettings::fromIni(IniFile::fromText(QStringLiteral("[LAYOUT]\nName=") + longValue));
    EXPECT_EQ(l.Name.size(), 2047);
}

TEST(Settings, EMailTextInFileOrder)
{
    const AppSettings s = settingsFrom("[EMailText]\nLine2=World\nLine1=Hello\nLine3=a=b\n; comment\n[EMail]\n");
    EXPECT_EQ(s.EMailText, (QStringList{QStringLiteral("World"), QStringLiteral("Hello"), QStringLiteral("a=b")}));
}

TEST(Settings, TrustFileWithoutAFolderIsBesideTheIni)
{
    QTemporaryDir dir;
    EXPECT_EQ(settingsOfFile(dir, "[EMail]\nTrustFile=ca.pem\n").TrustFile, dir.filePath(QStringLiteral("ca.pem")));
}

TEST(Settings, MoneyFormatIgnoresLocale)
{
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(FormatMoney(12.5), QStringLiteral("12.50"));
    EXPECT_EQ(StrToNumber(QStringLiteral("12.5")), 12.5);
    std::setlocale(LC_NUMERIC, "C");
}

TEST(Settings, MoneyFormatRoundsLikeTheCLibrary)
{
    EXPECT_EQ(FormatMoney(0.125), QStringLiteral("0.12"));
    EXPECT_EQ(FormatMoney(0.375), QStringLiteral("0.38"));
    EXPECT_EQ(FormatMoney(-2.5), QStringLiteral("-2.50"));
    EXPECT_EQ(FormatMoney(1e300).size(), 304);
}

// A value that is not what its key takes, or a name the program does not know, would change the
// money without a word: each is told once, with what is used instead.
TEST(Settings, ProblemsAreToldWithWhatIsUsed)
{
    const struct
    {
        const char* ini; // after a [DEFAULTS] line
        double superannuation, employer;
        const char* problem;
        bool partSuperannuation = false;
    } cases[] = {
        {"Superannuation=100\nEmployerannuation=0", 100, 0, nullptr},
        {"Superannuation=150", 0, 14, "Setting Superannuation=150 is out of range; 0 is used"},
        {"Superannuation=-0.5", 0, 14, "Setting Superannuation=-0.5 is out of range; 0 is used"},
        {"Employerannuation=1e400", 0, 14, "Setting Employerannuation=1e400 is out of range; 14 is used"},
        {"Superannuation=6,5", 6, 14, "Superannuation=6,5 is not a number; the decimal point is '.'; 6 is used"},
        {"Employerannuation=", 0, 0, "Employerannuation= is not a number; 0 is used"},
        {"PartSuperannuation=yes", 0, 14, "PartSuperannuation=yes is not 0 or 1; 0 is used"},
        {"PartSuperannuation=2", 0, 14, "PartSuperannuation=2 is not 0 or 1; 1 is used", true},
        {"[DEFAULT]\nSuperannuation=6", 0, 14, "Unknown section [DEFAULT] in the settings (did you mean [DEFAULTS]?)"},
        {"[\x1b[2J]", 0, 14, "Unknown section [?[2J] in the settings"},
        {"Superanuation=6", 0, 14,
         "Unknown key Superanuation in [DEFAULTS] of the settings (did you mean "
         "Superannuation?)"},
        {"SMTPPort=587", 0, 14, "Unknown key SMTPPort in [DEFAULTS] of the settings (it belongs in [EMail])"},
        {"Superannuation=6\nsuperannuation=7", 6, 14,
         "superannuation is set twice in [DEFAULTS] of the settings; "
         "the first value is used"},
        {"Superannuation 6", 0, 14, "Line 2 of the settings is not a setting and is skipped: Superannuation 6"},
        {"[EMail]\nSMTPPort=25x", 0, 14, "SMTPPort=25x is not a whole number; 25 is used"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.ini);
        const AppSettings s = settingsFrom((QByteArray("[DEFAULTS]\n") + c.ini).constData());
        EXPECT_EQ(s.Superannuation, c.superannuation);
        EXPECT_EQ(s.Employerannuation, c.employer);
        EXPECT_EQ(s.PartSuperannuation, c.partSuperannuation);
        EXPECT_EQ(s.problems, c.problem ? QStringList{QString::fromUtf8(c.problem)} : QStringList());
    }
    // The sample names every section and key the program reads, and nothing else.
    EXPECT_EQ(AppSettings::load(QStringLiteral(VELMAR_SOURCE_DIR "/samples/velmarpay.ini")).problems, QStringList());
    // Beyond a long: as strtol has it, never a wrapped value.
    EXPECT_EQ(StrToLong(QString(30, u'9')), std::numeric_limits<long>::max());
}

// The ini as Windows programs write it.
TEST(Settings, IniEncodingsAndLineEnds)
{
    const QString text =
        QString::fromUtf8("[LAYOUT]\r\nName=Médical Services £ Ltd\r\n[DEFAULTS]\r\nSuperannuation=6.5");
    QStringEncoder cp1252("windows-1252");
    QStringEncoder utf16le(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    QStringEncoder utf16be(QStringConverter::Utf16BE, QStringConverter::Flag::WriteBom);
    const QByteArray cases[] = {text.toUtf8(), "\xEF\xBB\xBF" + text.toUtf8(), cp1252(text), utf16le(text),
                                utf16be(text), QString(text).remove(u'\n').toUtf8(),
                                QString(text).remove(u'\r').toUtf8(),
                                // UTF-16 without its byte-order mark, as some editors save it
                                QByteArray(QStringEncoder(QStringConverter::Utf16LE).encode(text)),
                                QByteArray(QStringEncoder(QStringConverter::Utf16BE).encode(text))};
    QTemporaryDir dir;
    for (const QByteArray& bytes : cases) {
        SCOPED_TRACE(bytes.toHex().toStdString());
        const AppSettings s = settingsOfFile(dir, bytes);
        EXPECT_EQ(s.Name, QString::fromUtf8("Médical Services £ Ltd"));
        EXPECT_EQ(s.Superannuation, 6.5);
    }
}
