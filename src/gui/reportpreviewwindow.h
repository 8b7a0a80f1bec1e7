#pragma once

#include <QDialog>

#include <memory>

class QAction;
class QLabel;
class QPrintPreviewWidget;
class QPrinter;
class QToolBar;

namespace velmar {

class Report;

// The report preview: pages of a report on screen, paged through and zoomed, printed from here or
// saved as PDF (and, for the summaries, as a CSV spreadsheet of the report's lines).
class ReportPreviewWindow : public QDialog
{
    Q_OBJECT
public:
    // printer: the report's own printer, used by Print.
    ReportPreviewWindow(Report& report, QPrinter& printer, QWidget* parent = nullptr);
    ~ReportPreviewWindow() override;

    // Lays the report out for the preview; false with the report's error.
    bool render(QString* error);

    int pageCount() const;
    int currentPage() const;
    QPrintPreviewWidget* previewWidget() const { return m_preview; }

public slots:
    void firstPage();
    void previousPage();
    void nextPage();
    void lastPage();
    void zoomIn();
    void zoomOut();
    void fitWidth();
    void fitPage();
    void printReport();
    void saveReport();

private:
    void paintPreview(QPrinter* printer);
    void updatePageInfo();
    QAction* addTool(const char* name, const QString& text, const QKeySequence& key,
                     void (ReportPreviewWindow::*slot)());

    Report& m_report;
    QPrinter& m_printer;
    std::unique_ptr<QPrinter> m_previewPrinter;
    QPrintPreviewWidget* m_preview;
    QLabel* m_pageInfo;
    QToolBar* m_toolBar;
    QString m_error;
};

} // namespace velmar
