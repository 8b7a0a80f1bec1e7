#include "core/versioninfo.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace velmar;

namespace {
QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(content);
    return path;
}
} // namespace

TEST(VersionInfo, BlockIsFoundAmongOtherBytesPastAStrayMarker)
{
    QTemporaryDir dir;
    QByteArray content("\x7f"
                       "ELF junk");
    content.append(QByteArray(5000, '\0'));
    // A marker that leads no block must not stop the search.
    content.append(VersionBlockMarker() + "not a block\n" + QByteArray(1, '\0'));
    content.append(VersionBlockMarker());
    content.append("\\VarFileInfo\\Translation=080904E4 040904B0\n"
                   "\\StringFileInfo\\080904E4\\ProductName=Test Product\n"
                   "\\StringFileInfo\\080904E4\\Comments=a=b\n");
    content.append('\0');
    content.append("more junk");

    VersionInfo info;
    ASSERT_TRUE(info.load(writeFile(dir, QStringLiteral("prog"), content)));
    QString value;
    EXPECT_TRUE(info.query(QStringLiteral("\\stringfileinfo\\080904e4\\productname"), &value));
    EXPECT_EQ(value, QStringLiteral("Test Product"));
    EXPECT_TRUE(info.query(QStringLiteral("\\StringFileInfo\\080904E4\\Comments"), &value));
    EXPECT_EQ(value, QStringLiteral("a=b"));
    EXPECT_FALSE(info.query(QStringLiteral("\\StringFileInfo\\080904E4\\LegalCopyright"), &value));

    const QList<VersionTranslation> t = info.translations();
    ASSERT_EQ(t.size(), 2);
    EXPECT_EQ(t[0].language, 0x0809);
    EXPECT_EQ(t[0].codePage, 0x04E4);
    EXPECT_EQ(t[1].language, 0x0409);
    EXPECT_EQ(t[1].codePage, 0x04B0);
}

TEST(VersionInfo, FilesWithoutABlockHaveNone)
{
    QTemporaryDir dir;
    VersionInfo info;
    EXPECT_FALSE(info.load(writeFile(dir, QStringLiteral("plain"), QByteArray(100000, 'x'))));
    EXPECT_TRUE(info.isEmpty());
    EXPECT_FALSE(info.load(dir.filePath(QStringLiteral("missing"))));
    // An unterminated block is no block.
    EXPECT_FALSE(info.load(writeFile(dir, QStringLiteral("cut"), VersionBlockMarker() + "\\A=b\n")));
    // This test program links the reader but carries no block: the reader must not find itself.
    EXPECT_FALSE(info.load(QCoreApplication::applicationFilePath()));
    EXPECT_TRUE(info.translations().isEmpty());
}

TEST(VersionInfo, ProgramCarriesItsVersion)
{
    VersionInfo info;
    ASSERT_TRUE(info.load(QStringLiteral(VELMAR_BIN_DIR "/velmarpay")));
    const QList<VersionTranslation> t = info.translations();
    ASSERT_FALSE(t.isEmpty());
    EXPECT_EQ(t[0].language, 0x0809);
    EXPECT_EQ(t[0].codePage, 0x04E4);
    // Product name and file version: see the about box tests.
    QString value;
    ASSERT_TRUE(info.query(QStringLiteral("\\StringFileInfo\\080904E4\\ProductVersion"), &value));
    EXPECT_EQ(value, QStringLiteral("1.0.0.0"));
    ASSERT_TRUE(info.query(QStringLiteral("\\FixedFileInfo\\FileVersion"), &value));
    EXPECT_EQ(value, QStringLiteral("1.0.6.1"));
    for (const char* key : {"CompanyName", "LegalCopyright", "Comments"}) {
        EXPECT_TRUE(info.query(QStringLiteral("\\StringFileInfo\\080904E4\\") + QString::fromUtf8(key), &value)) << key;
        EXPECT_FALSE(value.isEmpty()) << key;
    }
}
