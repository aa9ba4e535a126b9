#include "db/vtab/csv/csv_vtab.h"

#include "db/vtab/sheet/sheet_vtab.h"

#include <QFileInfo>

namespace vtab {

namespace {

// The file's one table, and the encoding and delimiter found (format may be null); codePage: the
// one chosen (empty: found from the bytes).
bool readText(const QString& path, const QString& codePage, std::vector<SheetPart>* parts,
              formats::csv::Format* format, QString* error) {
    SheetPart part{textTableName(path), false, {}};
    if (!formats::csv::readFile(path, codePage, &part.table, format, error)) return false;
    parts->push_back(std::move(part));
    return true;
}

bool loadText(const QString& path, const QString& codePage, std::vector<SheetPart>* parts,
              QString* error) {
    return readText(path, codePage, parts, nullptr, error);
}

} // namespace

QString textTableName(const QString& path) {
    const QString name = QFileInfo(path).completeBaseName();
    return name.isEmpty() ? QFileInfo(path).fileName() : name;
}

bool attachTextFile(sqlite3* db, const QString& path, const QString& codePage, QString* tableName,
                    formats::csv::Format* format, QString* error) {
    static const SheetKind text{QStringLiteral("csv"), QStringLiteral("文本文件"),
                                QStringLiteral("文本文件的表"), loadText};
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const QString name = textTableName(absolute);
    std::vector<SheetPart> parts;
    formats::csv::Format found;
    if (!readText(absolute, codePage, &parts, &found, error)) return false;
    if (!attachSheets(db, text, absolute, codePage, std::move(parts), nullptr, nullptr, error))
        return false;
    if (tableName) *tableName = name;
    if (format) *format = found;
    return true;
}

} // namespace vtab
