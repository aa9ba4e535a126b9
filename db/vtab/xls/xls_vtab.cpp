#include "db/vtab/xls/xls_vtab.h"

#include "db/formats/xlsx/xlsx.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace vtab {

namespace {

template <bool (*read)(const QString&, formats::xls::Workbook*, QString*)>
bool loadWorkbook(const QString& path, const QString&, std::vector<SheetPart>* parts,
                  QString* error) {
    formats::xls::Workbook book;
    if (!read(path, &book, error)) return false;
    try {
        *parts = workbookParts(std::move(book));
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
                               QStringLiteral("Excel工作表"),
                               loadWorkbook<formats::xls::readWorkbookFile>};
    return attachWorkbook(db, xls, path, schema, nullptr, error);
}

bool attachXlsxWorkbook(sqlite3* db, const QString& path, std::vector<SheetSchemaRow>* schema,
                        QString* skipped, QString* error) {
    static const SheetKind xlsx{QStringLiteral("xlsx"), QStringLiteral("Excel文件"),
                                QStringLiteral("Excel工作表"),
                                loadWorkbook<formats::xlsx::readWorkbookFile>};
    if (skipped) skipped->clear();
    return attachWorkbook(db, xlsx, path, schema, skipped, error);
}

} // namespace vtab
