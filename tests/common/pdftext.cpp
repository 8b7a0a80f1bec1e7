#include "common/pdftext.h"

#include <QProcess>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace velmar::test {

bool PdfText::load(const QString& path)
{
    m_lines.clear();
    m_sizes.clear();
    m_pages = 0;
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-bbox-layout"), path, QStringLiteral("-")});
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        ADD_FAILURE() << "pdftotext failed on " << path.toStdString() << ": " << p.readAllStandardError().toStdString();
        return false;
    }
    QXmlStreamReader xml(p.readAllStandardOutput());
    QList<PdfWord> line;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"page") {
            ++m_pages;
            m_sizes.append(QSizeF(xml.attributes().value(QStringLiteral("width")).toDouble() * kPointsToMm,
                                  xml.attributes().value(QStringLiteral("height")).toDouble() * kPointsToMm));
        } else if (xml.isStartElement() && xml.name() == u"line") {
            line.clear();
        } else if (xml.isEndElement() && xml.name() == u"line") {
            if (!line.isEmpty())
                m_lines.append(line);
        } else if (xml.isStartElement() && xml.name() == u"word") {
            const auto a = xml.attributes();
            const double x0 = a.value(QStringLiteral("xMin")).toDouble() * kPointsToMm;
            const double y0 = a.value(QStringLiteral("yMin")).toDouble() * kPointsToMm;
            const double x1 = a.value(QStringLiteral("xMax")).toDouble() * kPointsToMm;
            const double y1 = a.value(QStringLiteral("yMax")).toDouble() * kPointsToMm;
            line.append(PdfWord{m_pages, xml.readElementText(), QRectF(QPointF(x0, y0), QPointF(x1, y1))});
        }
    }
    if (xml.hasError()) {
        ADD_FAILURE() << "unreadable pdftotext output: " << xml.errorString().toStdString();
        return false;
    }
    return true;
}

QString PdfText::text(int page) const
{
    QStringList out;
    for (const auto& line : m_lines) {
        if (page && line.first().page != page)
            continue;
        QStringList words;
        for (const PdfWord& w : line)
            words.append(w.text);
        out.append(words.join(u' '));
    }
    return out.join(u'\n');
}

QList<PdfWord> PdfText::find(const QString& phrase, int page) const
{
    const QStringList tokens = phrase.split(u' ', Qt::SkipEmptyParts);
    QList<PdfWord> found;
    if (tokens.isEmpty())
        return found;
    for (const auto& line : m_lines) {
        if (page && line.first().page != page)
            continue;
        for (int i = 0; i + tokens.size() <= line.size(); ++i) {
            bool match = true;
            for (int k = 0; k < tokens.size() && match; ++k)
                match = line.at(i + k).text == tokens.at(k);
            if (!match)
                continue;
            QRectF box = line.at(i).box;
            for (int k = 1; k < tokens.size(); ++k)
                box = box.united(line.at(i + k).box);
            found.append(PdfWord{line.at(i).page, phrase, box});
        }
    }
    return found;
}

PdfWord PdfText::only(const QString& phrase, int page) const
{
    const QList<PdfWord> found = find(phrase, page);
    if (found.size() != 1) {
        ADD_FAILURE() << "\"" << phrase.toStdString() << "\" found " << found.size() << " times in:\n"
                      << text(page).toStdString();
        return PdfWord{};
    }
    return found.first();
}

QStringList PdfText::wordsAt(double top, int page) const
{
    QList<PdfWord> found;
    for (const auto& line : m_lines) {
        for (const PdfWord& w : line) {
            if (w.page == page && std::abs(w.box.top() - top) < 0.5)
                found.append(w);
        }
    }
    std::sort(found.begin(), found.end(),
              [](const PdfWord& a, const PdfWord& b) { return a.box.left() < b.box.left(); });
    QStringList words;
    for (const PdfWord& w : found)
        words.append(w.text);
    return words;
}

bool PdfIsSound(const QString& path)
{
    QProcess p;
    p.start(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    return p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace velmar::test
