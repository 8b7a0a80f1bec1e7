#pragma once

#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

namespace velmar::test {

// The words of a PDF with their boxes, read back with pdftotext -bbox-layout, in millimetres from
// the top left of the page.
struct PdfWord
{
    int page = 0; // from 1
    QString text;
    QRectF box;
};

class PdfText
{
public:
    // Reads the file; false (with a test failure) when pdftotext cannot.
    bool load(const QString& path);

    int pageCount() const { return m_pages; }
    // Page size in millimetres.
    QSizeF pageSize(int page) const { return m_sizes.value(page - 1); }
    QString text(int page = 0) const; // 0: all pages
    bool contains(const QString& phrase, int page = 0) const { return !find(phrase, page).isEmpty(); }
    // Every place where the words of the phrase follow each other on one line; each as the union box.
    QList<PdfWord> find(const QString& phrase, int page = 0) const;
    // The single place of a phrase; fails the test unless there is exactly one.
    PdfWord only(const QString& phrase, int page = 0) const;
    // Words of the line whose top lies within 0.5 mm of y on that page, left to right.
    QStringList wordsAt(double top, int page = 1) const;
    QList<QList<PdfWord>> lines() const { return m_lines; }

private:
    QList<QList<PdfWord>> m_lines;
    int m_pages = 0;
    QList<QSizeF> m_sizes;
};

// qpdf --check passes.
bool PdfIsSound(const QString& path);

// Converting the report's layout to positions on the page.
constexpr double kPointsToMm = 25.4 / 72.0;

} // namespace velmar::test
