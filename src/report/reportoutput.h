#pragma once

#include <QString>
#include <QStringList>

#include <memory>

namespace velmar {

class Report;

// What the documents do with a filled report: show it in a preview window or send it to the
// report's printer. The program previews on screen and prints on paper; the command line and the
// batch tools print into PDF files.
class ReportOutput
{
public:
    virtual ~ReportOutput() = default;
    virtual bool preview(Report& report, QString* error) = 0;
    virtual bool print(Report& report, QString* error) = 0;
};

// Every report printed or previewed becomes the one PDF file (the last replaces the earlier).
class PdfFileOutput : public ReportOutput
{
public:
    explicit PdfFileOutput(const QString& path) : m_path(path) {}
    bool preview(Report& report, QString* error) override { return print(report, error); }
    bool print(Report& report, QString* error) override;
    int written() const { return m_written; }

private:
    QString m_path;
    int m_written = 0;
};

// Each report printed becomes a PDF file of its own in a folder, named after the report's document
// name; a name used earlier in the same run gets a number, so no document replaces another.
//
// With more than one thread the report is laid out at once and its file written in the background:
// print() then only fails for the layout, and finish() (which waits for every file) reports files
// that could not be written.
class PdfFolderOutput : public ReportOutput
{
public:
    explicit PdfFolderOutput(const QString& folder, int threads = 1);
    ~PdfFolderOutput() override;
    bool preview(Report& report, QString* error) override { return print(report, error); }
    bool print(Report& report, QString* error) override;
    // Waits for the files being written; false with a message per file that failed.
    bool finish(QStringList* errors);
    // Names of the files, in the order printed.
    QStringList files() const { return m_files; }

    // A document name as a file name: no folder separators or control characters.
    static QString safeFileName(const QString& name);

private:
    struct Background;
    QString m_folder;
    QStringList m_files;
    std::unique_ptr<Background> m_background;
};

} // namespace velmar
