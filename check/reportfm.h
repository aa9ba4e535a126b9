#pragma once
// The report of the last check on the screen and on paper: one drawing (ReportDrawing) that the
// window reportFm shows in a scrolled canvas and writeReportPdf lays out on A4 pages. The window
// opens at the end of a run that found duplicates and from the check-control window, and saves
// the report as PDF or as an HTML page.
#include "check/engine/report.h"

#include <QWidget>

#include <functional>
#include <vector>

class QPainter;
class QScrollArea;

namespace check {

class ReportDrawing {
public:
    explicit ReportDrawing(const CheckReport& report);
    // The width the drawing is laid out for, in its own units (pixels on the screen).
    static constexpr double width = 720;
    // The height of all of it, one part below the other.
    double height() const;
    // Draws it all from the top of the painter's space.
    void paint(QPainter& painter) const;
    // Draws it on pages of pageHeight units each (a part never split across two); calls
    // newPage before every page but the first.
    void paintPages(QPainter& painter, double pageHeight,
                    const std::function<void()>& newPage) const;

private:
    struct Part {
        double height;
        std::function<void(QPainter&)> draw; // from the part's top, at y = 0
    };
    std::vector<Part> parts_;
};

// The report as a PDF of A4 pages; fails with a Chinese message when the file cannot be written.
core::Status writeReportPdf(const CheckReport& report, const QString& path);

class reportFm : public QWidget {
    Q_OBJECT
public:
    explicit reportFm(const CheckReport& report, QWidget* parent = nullptr);
    // The report kept in the working database, in a window of its own (modeless); false when
    // there is none (no check has run since the working database was made).
    static bool showLastReport();

    const CheckReport& report() const { return report_; }

private:
    void savePdf();
    void saveHtml();
    // Asks where to save a file of the kind and writes it; the user is told where it went.
    void save(const QString& filter, const QString& extension,
              const std::function<core::Status(const QString&)>& write);

    CheckReport report_;
    ReportDrawing drawing_; // of report_, painted by the window's canvas
};

} // namespace check
