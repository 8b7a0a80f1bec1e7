#include "common/testsupport.h"
#include "import/payimport.h"

#include <QBuffer>

#include <gtest/gtest.h>

using namespace velmar;

namespace {
QStringList split(const char* line)
{
    return SplitPayLine(QString::fromUtf8(line));
}
QStringList list(std::initializer_list<const char*> items)
{
    QStringList result;
    for (const char* i : items)
        result.append(QString::fromUtf8(i));
    return result;
}
} // namespace

TEST(SplitPayLine, CommasBlanksAndEmptyFields)
{
    EXPECT_EQ(split("a,,b"), list({"a", "", "b"}));
    EXPECT_EQ(split("a,"), list({"a", ""}));
    EXPECT_EQ(split("x y"), list({"x", "y"}));
    EXPECT_EQ(split("  a ,  b\t,c  "), list({"a", "b", "c"}));
    // Only a comma that ends the line adds an empty field; one followed by blanks does not.
    EXPECT_EQ(split("a, "), list({"a"}));
    EXPECT_EQ(split("a,\x01\x1f"
                    "b"),
              list({"a", "b"}));
    EXPECT_TRUE(split("").isEmpty());
    EXPECT_TRUE(split("   \t ").isEmpty());
}

TEST(SplitPayLine, QuotedFields)
{
    EXPECT_EQ(split("A,\"February 2005 Pay Run\""), list({"A", "February 2005 Pay Run"}));
    EXPECT_EQ(split("A,February 2005"), list({"A", "February", "2005"}));
    EXPECT_EQ(split("\"say \"\"hi\"\"\",x"), list({"say \"hi\"", "x"}));
    EXPECT_EQ(split("\"\",x"), list({"", "x"}));
    EXPECT_EQ(split("a,\"\""), list({"a", ""}));
    EXPECT_EQ(split("\"a,b\",c"), list({"a,b", "c"}));
    // An unclosed quote runs to the end of the line.
    EXPECT_EQ(split("x,\"open to the end"), list({"x", "open to the end"}));
    EXPECT_EQ(split("\"O'Brien's, Surgery\""), list({"O'Brien's, Surgery"}));
}

TEST(ReadPayLine, WholeLinesAndLineEnds)
{
    QByteArray longField(5000, 'z');
    // A CR alone ends its line too, so no record hides in another's fields.
    // CRs before the LF end the line, however many pieces they take to read; CRs before text end a
    // line each.
    QByteArray content = "A,one\r\nB,two\n" + longField + ",end\rC,three\r\r\n" + QByteArray(511, 'x') +
                         QByteArray(600, '\r') + "\n" + QByteArray(510, 'y') + "\r\r\rD,four";
    QBuffer buffer(&content);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    EXPECT_EQ(ReadPayLine(buffer).fields, list({"A", "one"}));
    EXPECT_EQ(ReadPayLine(buffer).fields, list({"B", "two"}));
    const PayLine longLine = ReadPayLine(buffer);
    ASSERT_EQ(longLine.fields.size(), 2);
    EXPECT_EQ(longLine.fields[0].size(), 5000);
    EXPECT_EQ(ReadPayLine(buffer).fields, list({"C", "three"}));
    EXPECT_EQ(ReadPayLine(buffer).fields, QStringList{QString(511, u'x')});
    EXPECT_EQ(ReadPayLine(buffer).fields, QStringList{QString(510, u'y')});
    EXPECT_TRUE(ReadPayLine(buffer).fields.isEmpty());
    EXPECT_TRUE(ReadPayLine(buffer).fields.isEmpty());
    EXPECT_EQ(ReadPayLine(buffer).fields, list({"D", "four"}));
    EXPECT_EQ(ReadPayLine(buffer).status, PayLine::EndOfFile);
}

TEST(ReadPayLine, NulStartIsCorruptAndEndIsEmpty)
{
    QByteArray content("D,1\n", 4);
    content.append('\0');
    content.append("x,y\nlast", 8);
    QBuffer buffer(&content);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    EXPECT_EQ(ReadPayLine(buffer).status, PayLine::Record);
    EXPECT_EQ(ReadPayLine(buffer).status, PayLine::Corrupt);
    const PayLine last = ReadPayLine(buffer);
    EXPECT_EQ(last.fields, list({"last"}));
    const PayLine end = ReadPayLine(buffer);
    EXPECT_EQ(end.status, PayLine::EndOfFile);
    EXPECT_TRUE(end.kind().isEmpty());
}

TEST(ReadPayLine, Windows1252AndUtf8Text)
{
    QByteArray content("H,Zo\xeb\nH,Zo\xc3\xab\n");
    QBuffer buffer(&content);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    EXPECT_EQ(ReadPayLine(buffer).fields.value(1), QString::fromUtf8("Zo\xc3\xab"));
    EXPECT_EQ(ReadPayLine(buffer).fields.value(1), QString::fromUtf8("Zo\xc3\xab"));
}

TEST(PayDate, AcceptedFormsBecomeIso)
{
    EXPECT_EQ(PayDateToIso(QStringLiteral("05/02/2005")), QStringLiteral("2005-02-05"));
    EXPECT_EQ(PayDateToIso(QStringLiteral("5/2/05")), QStringLiteral("2005-02-05"));
    EXPECT_EQ(PayDateToIso(QStringLiteral("31/12/99")), QStringLiteral("1999-12-31"));
    EXPECT_EQ(PayDateToIso(QStringLiteral("5 Feb 2005")), QStringLiteral("2005-02-05"));
    EXPECT_EQ(PayDateToIso(QStringLiteral("2005-02-05")), QStringLiteral("2005-02-05"));
    EXPECT_TRUE(PayDateToIso(QStringLiteral("31/02/2005")).isEmpty());
    EXPECT_TRUE(PayDateToIso(QStringLiteral("02/31/2005")).isEmpty());
    EXPECT_TRUE(PayDateToIso(QStringLiteral("yesterday")).isEmpty());
    EXPECT_TRUE(PayDateToIso(QStringLiteral(" ")).isEmpty());
}
