#include "db/vtab/xls/xls_vtab.h"

#include "db/formats/xlsx/xlsx.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace vtab {

namespace {

// An .xlsx workbook's sheets become their tables as they are read; an .xls workbook is read
// whole first.
bool readXls(const QString& path, formats::xls::Workbook* book,
             std::vector<std::optional<formats::xls::Table>>*, QString* error) {
    return formats::xls::readWorkbookFile(path, book, error);
}

template <bool (*read)(const QString&, formats::xls::Workbook*,
                       std::vector<std::optional<formats::xls::Table>>*, QString*)>
bool loadWorkbook(const QString& path, const QString&, std::vector<SheetPart>* parts,
                  QString* error) {
    formats::xls::Workbook book;
    std::vector<std::optional<formats::xls::Table>> made;
    try {
        if (!read(path, &book, &made, error)) return false;
        *parts = workbookParts(std::move(book), std::move(made));
    } catch (const std::exception&) { // no memory for the tables, or more text than they hold
        parts->clear();
        if (error)
            *error = QStringLiteral("Excel文件太大，无法读入内存：%1")
                         .arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

bool attachWorkbook(sqlite3* db, const SheetKind& kind, const QString& path,
                    std::vector<SheetSchemaRow>* schema, QString* skipped, QString* error) {
    if (schema) schema->clear();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    std::vector<SheetPart> parts;
    if (!kind.load(absolute, {}, &parts, error)) return false;
    return attachSheets(db, kind, absolute, {}, std::move(parts), schema, skipped, error);
}

} // namespace

bool attachXlsWorkbook(sqlite3* db, const QString& path, std::vector<SheetSchemaRow>* schema,
                       QString* error) {
    static const SheetKind xls{QStringLiteral("xls"), QStringLiteral("Excel文件"),
                               QStringLiteral("Excel工作表"), loadWorkbook<readXls>};
    return attachWorkbook(db, xls, path, schema, nullptr, error);
}

bool attachXlsxWorkbook(sqlite3* db, const QString& path, std::vector<SheetSchemaRow>* schema,
                        QString* skipped, QString* error) {
    static const SheetKind xlsx{QStringLiteral("xlsx"), QStringLiteral("Excel文件"),
                                QStringLiteral("Excel工作表"),
                                loadWorkbook<formats::xlsx::readWorkbookTablesFile>};
    if (skipped) skipped->clear();
    return attachWorkbook(db, xlsx, path, schema, skipped, error);
}

} // namespace vtab
