#include "check/reportfm.h"

#include "core/appstate.h"
#include "ui/dialogs.h"
#include "ui/toolkit.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

namespace check {

namespace {

// Fonts by pixel size: the same on the screen and, scaled, on the page.
QFont font(double pixels, bool bold = false) {
    QFont f;
    f.setPixelSize(int(pixels));
    f.setBold(bold);
    return f;
}

const QColor ink(0x22, 0x22, 0x22), quiet(0x55, 0x55, 0x55), bar(0x3b, 0x7d, 0xd8),
    rule(0xdd, 0xdd, 0xdd);

constexpr double labelWidth = 150, barWidth = 430, rowHeight = 24, valueGap = 6;

// Paints the drawing, as tall as it is, at the canvas's width.
class Canvas : public QWidget {
public:
    Canvas(const ReportDrawing& drawing, QWidget* parent) : QWidget(parent), drawing_(drawing) {
        setFixedSize(int(ReportDrawing::width), int(drawing.height()) + 1);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white); // a page, whatever the scroll area's colours
        painter.setRenderHint(QPainter::Antialiasing);
        drawing_.paint(painter);
    }

private:
    const ReportDrawing& drawing_;
};

} // namespace

ReportDrawing::ReportDrawing(const CheckReport& report) {
    constexpr double margin = 24, inner = width - 2 * margin;
    const QFont title = font(26, true), heading = font(16, true), text = font(13);

    parts_.push_back({56, [title](QPainter& p) {
                          p.setFont(title);
                          p.setPen(ink);
                          p.drawText(QRectF(margin, 12, inner, 40),
                                     Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("查重报告"));
                      }});
    // The figures, a row each: the label on the left, the value (long paths wrap) beside it.
    const QFontMetricsF metrics(text);
    constexpr double labelColumn = 110;
    for (const auto& [label, value] : figuresOf(report)) {
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;
        const QRectF room(margin + labelColumn, 0, inner - labelColumn, 10000);
        const double h =
            std::max(metrics.height(), metrics.boundingRect(room, flags, value).height());
        parts_.push_back({h + 6, [=](QPainter& p) {
                              p.setFont(text);
                              p.setPen(quiet);
                              p.drawText(QRectF(margin, 3, labelColumn, h), label);
                              p.setPen(ink);
                              p.drawText(QRectF(margin + labelColumn, 3, inner - labelColumn, h),
                                         flags, value);
                          }});
    }
    // The charts: a heading, then a bar a row, the count after it.
    for (const Chart& chart : chartsOf(report)) {
        int most = 1;
        for (const Count& c : chart.bars)
            most = std::max(most, c.value);
        const double h = 44 + rowHeight * double(chart.bars.size()) + 8;
        parts_.push_back(
            {h, [=](QPainter& p) {
                 p.setPen(rule);
                 p.drawLine(QPointF(margin, 14), QPointF(width - margin, 14));
                 p.setFont(heading);
                 p.setPen(ink);
                 p.drawText(QRectF(margin, 18, inner, 24), Qt::AlignLeft | Qt::AlignVCenter,
                            chart.title);
                 p.setFont(text);
                 for (size_t i = 0; i < chart.bars.size(); ++i) {
                     const Count& c = chart.bars[i];
                     const double y = 44 + rowHeight * double(i);
                     const double w = c.value > 0 ? std::max(1.0, c.value * barWidth / most) : 0;
                     p.setPen(ink);
                     p.drawText(QRectF(margin, y, labelWidth - 8, rowHeight),
                                Qt::AlignRight | Qt::AlignVCenter, c.label);
                     p.fillRect(QRectF(margin + labelWidth, y + 3, w, rowHeight - 6), bar);
                     p.drawText(QRectF(margin + labelWidth + w + valueGap, y, 120, rowHeight),
                                Qt::AlignLeft | Qt::AlignVCenter,
                                QStringLiteral("%1 %2").arg(c.value).arg(chart.unit));
                 }
             }});
    }
    parts_.push_back({16, [](QPainter&) {}});
}

double ReportDrawing::height() const {
    double h = 0;
    for (const Part& part : parts_)
        h += part.height;
    return h;
}

void ReportDrawing::paint(QPainter& painter) const {
    paintPages(painter, 0, {});
}

void ReportDrawing::paintPages(QPainter& painter, double pageHeight,
                               const std::function<void()>& newPage) const {
    double y = 0;
    for (const Part& part : parts_) {
        // A part that does not fit goes to the next page (one taller than a page is cut there).
        if (pageHeight > 0 && y > 0 && y + part.height > pageHeight) {
            newPage();
            y = 0;
        }
        painter.save();
        painter.translate(0, y);
        part.draw(painter);
        painter.restore();
        y += part.height;
    }
}

core::Status writeReportPdf(const CheckReport& report, const QString& path) {
    const QString file = QDir::toNativeSeparators(path);
    {
        QPdfWriter pdf(path);
        pdf.setPageSize(QPageSize(QPageSize::A4));
        pdf.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
        pdf.setTitle(QStringLiteral("查重报告"));
        pdf.setCreator(QStringLiteral("查重"));
        QPainter painter;
        if (!painter.begin(&pdf))
            return QStringLiteral("无法写入查重报告 %1：文件不能建立").arg(file);
        // The drawing's width across the page's printable width.
        const double scale = pdf.width() / ReportDrawing::width;
        painter.scale(scale, scale);
        const ReportDrawing drawing(report);
        drawing.paintPages(painter, pdf.height() / scale, [&] { pdf.newPage(); });
        if (!painter.end()) return QStringLiteral("无法写入查重报告 %1").arg(file);
    }
    if (QFileInfo(path).size() == 0) return QStringLiteral("无法写入查重报告 %1").arg(file);
    return {};
}

reportFm::reportFm(const CheckReport& report, QWidget* parent)
    : QWidget(parent, Qt::Window), report_(report), drawing_(report_) {
    setObjectName(QStringLiteral("reportFm"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("查重报告"));
    auto* layout = new QVBoxLayout(this);
    auto* scroll = new QScrollArea(this);
    scroll->setObjectName(QStringLiteral("reportView"));
    scroll->setAlignment(Qt::AlignHCenter);
    scroll->setBackgroundRole(QPalette::Dark);
    scroll->setWidget(new Canvas(drawing_, scroll));
    layout->addWidget(scroll, 1);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto add = [&](const QString& name, const QString& caption) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        buttons->addWidget(b);
        return b;
    };
    connect(add(QStringLiteral("SavePdf"), QStringLiteral("保存为PDF")), &QPushButton::clicked,
            this, &reportFm::savePdf);
    connect(add(QStringLiteral("SaveHtml"), QStringLiteral("保存为网页")), &QPushButton::clicked,
            this, &reportFm::saveHtml);
    connect(add(QStringLiteral("CloseReport"), QStringLiteral("关闭")), &QPushButton::clicked, this,
            &QWidget::close);
    layout->addLayout(buttons);
    resize(int(ReportDrawing::width) + 60, 680);
    ui::centreOnScreen(this);
}

bool reportFm::showLastReport() {
    const std::optional<CheckReport> report = lastReport(core::appState().WorkConn);
    if (!report) return false;
    auto* window = new reportFm(*report);
    window->show();
    window->raise();
    return true;
}

void reportFm::save(const QString& filter, const QString& extension,
                    const std::function<core::Status(const QString&)>& write) {
    ui::FileDialogOptions o;
    o.title = QStringLiteral("保存查重报告");
    o.filter = filter;
    o.defaultExtension = extension;
    o.mustExist = false;
    if (!report_.source.isEmpty()) o.directory = QFileInfo(report_.source).absolutePath();
    const std::optional<ui::FileChoice> choice = ui::dialogs().saveFile(o);
    if (!choice || choice->path.isEmpty()) return;
    ui::beginWait();
    const core::Status s = write(choice->path);
    ui::restoreDefaultCursor();
    if (!s.ok())
        ui::inform(s.error, ui::defaultTitle(), ui::Icon::Warning);
    else
        ui::inform(QStringLiteral("查重报告已保存到 ") + QDir::toNativeSeparators(choice->path));
}

void reportFm::savePdf() {
    save(QStringLiteral("PDF文件|*.pdf"), QStringLiteral("pdf"),
         [this](const QString& path) { return writeReportPdf(report_, path); });
}

void reportFm::saveHtml() {
    save(QStringLiteral("网页文件|*.html;*.htm"), QStringLiteral("html"),
         [this](const QString& path) { return writeReportHtml(report_, path); });
}

} // namespace check
