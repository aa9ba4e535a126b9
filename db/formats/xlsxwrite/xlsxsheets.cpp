#include "db/formats/xlsxwrite/xlsxsheets.h"

#include "db/formats/xls/biffwrite.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <xlsxwriter.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <list>

namespace formats::xlsxwrite {

namespace {

const QString kMainNs = QStringLiteral("http://schemas.openxmlformats.org/spreadsheetml/2006/main");
const QString kRelNs =
    QStringLiteral("http://schemas.openxmlformats.org/officeDocument/2006/relationships");
const QString kPackageRelNs =
    QStringLiteral("http://schemas.openxmlformats.org/package/2006/relationships");
const QString kWorksheetType = kRelNs + QStringLiteral("/worksheet");
const QString kWorksheetContent =
    QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml");

QString refusal(const QString& path, const QString& why) {
    return QStringLiteral("不能向Excel文件“%1”添加工作表：%2文件未作改动。")
        .arg(QDir::toNativeSeparators(path), why);
}

QString damaged(const QString& path) {
    return refusal(path, QStringLiteral("它不是完整有效的Excel 2007及以上版本的工作簿（.xlsx）。"));
}

// Text for XML: markup characters as entities, a carriage return as a character reference
// (so that no parser turns CR LF into LF), other control characters in Excel's _xHHHH_ form,
// and a literal "_xHHHH_" protected so that it does not read as one.
QString xmlText(const QString& s, bool attribute) {
    QString out;
    out.reserve(s.size() + 16);
    for (qsizetype i = 0; i < s.size(); ++i) {
        const QChar c = s[i];
        switch (c.unicode()) {
        case '&':
            out += QLatin1String("&amp;");
            continue;
        case '<':
            out += QLatin1String("&lt;");
            continue;
        case '>':
            out += QLatin1String("&gt;");
            continue;
        case '"':
            out += attribute ? QLatin1String("&quot;") : QLatin1String("\"");
            continue;
        case '\r':
            out += QLatin1String("&#13;");
            continue;
        case '\n':
        case '\t':
            if (attribute)
                out += QStringLiteral("&#%1;").arg(int(c.unicode()));
            else
                out += c;
            continue;
        case '_': {
            static const QRegularExpression escapeLike(QStringLiteral("^_x[0-9A-Fa-f]{4}_$"));
            if (!attribute && escapeLike.match(s.mid(i, 7)).hasMatch()) {
                out += QLatin1String("_x005F_"); // the underscore itself
                continue;
            }
            break;
        }
        default:
            break;
        }
        if (c.unicode() < 0x20 || c.unicode() == 0xFFFE || c.unicode() == 0xFFFF) {
            out += QLatin1String("_x") +
                   QString::number(c.unicode(), 16).toUpper().rightJustified(4, QLatin1Char('0')) +
                   QLatin1Char('_');
            continue;
        }
        out += c;
    }
    return out;
}

QString columnName(int c) {
    QString s;
    for (++c; c > 0; c = (c - 1) / 26)
        s.prepend(QChar(u'A' + (c - 1) % 26));
    return s;
}

QByteArray numberText(double v) {
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return QByteArray(buf, int(r.ptr - buf));
}

int textWidth(const QString& s) {
    int w = 0;
    for (QChar c : s)
        w += c.unicode() >= 0x1100 ? 2 : 1;
    return w;
}

// A part name as the zip holds it: no leading slash, "." and ".." resolved.
QString resolvePart(const QString& baseDir, const QString& target) {
    QString t = target;
    if (t.startsWith(QLatin1Char('/'))) return QDir::cleanPath(t.mid(1));
    return QDir::cleanPath(baseDir.isEmpty() ? t : baseDir + QLatin1Char('/') + t);
}

QString dirOf(const QString& part) {
    const qsizetype slash = part.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : part.left(slash);
}

// The span of one token in a document read by QXmlStreamReader from a QString.
struct Span {
    qsizetype begin = -1, end = -1;
};

struct NewSheet {
    QString name;
    QByteArray rows; // <row> elements
    int rowCount = 0;
    int columns = 0;
    std::vector<int> widths;
    lxw_worksheet* lxw = nullptr;
};

} // namespace

struct SheetWriter::Impl {
    ~Impl() {
        if (zip) zip_discard(zip);
        if (source) zip_source_free(source);
        if (book) lxw_workbook_free(book);
    }

    QString path;
    QStringList names;
    std::vector<NewSheet> sheets;

    // A new workbook: libxlsxwriter writes it into a temporary folder.
    lxw_workbook* book = nullptr;
    std::unique_ptr<QTemporaryDir> tmp;
    QString tmpFile;
    QByteArray tmpFileName;

    // An existing package.
    QByteArray file;
    zip_source_t* source = nullptr;
    zip_t* zip = nullptr;
    QString workbookPart, workbookRelsPart, appPart;
    QString workbookXml, relsXml, typesXml, appXml;
    qsizetype sheetsEnd = -1, relsEnd = -1, typesEnd = -1;
    QString sheetPrefix; // "x:" where the workbook writes its elements with a prefix
    QString relPrefix;   // the prefix bound to the relationships namespace, or empty
    int nextSheetId = 1;
    QStringList relIds;
    QStringList entries;        // every part name, lower case
    std::list<QByteArray> keep; // data of the zip sources until the archive is written

    bool read(const QString& name, QString* out) const;
    bool parseExisting(QString* error);
    QByteArray sheetXml(const NewSheet& s) const;
    QString updatedApp() const;
    bool finishNew(QByteArray* out, QString* error);
    bool finishExisting(QByteArray* out, QString* error);
};

SheetWriter::SheetWriter() : d(std::make_unique<Impl>()) {}
SheetWriter::~SheetWriter() = default;

bool SheetWriter::Impl::read(const QString& name, QString* out) const {
    const QByteArray n = name.toUtf8();
    const zip_int64_t index = zip_name_locate(zip, n.constData(), ZIP_FL_NOCASE);
    if (index < 0) return false;
    zip_stat_t st;
    if (zip_stat_index(zip, zip_uint64_t(index), 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) ||
        st.size > 256u * 1024 * 1024)
        return false;
    zip_file_t* f = zip_fopen_index(zip, zip_uint64_t(index), 0);
    if (!f) return false;
    QByteArray data(qsizetype(st.size), Qt::Uninitialized);
    const zip_int64_t got = zip_fread(f, data.data(), st.size);
    zip_fclose(f);
    if (got != zip_int64_t(st.size)) return false;
    // Every part of a package the program changes is UTF-8 (UTF-16 ones are left alone).
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *out = utf8.decode(data);
    return !utf8.hasError() && out->toUtf8() == data;
}

bool SheetWriter::openExisting(const QByteArray& file, const QString& path, QString* error) {
    d = std::make_unique<Impl>();
    d->path = path;
    if (!file.startsWith("PK\x03\x04")) {
        if (file.startsWith("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1")) {
            *error = file.contains(QByteArray("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e", 31))
                         ? refusal(path, QStringLiteral("它已加密（设有打开密码）。"))
                         : refusal(path, QStringLiteral("它的内容是Excel 97-2003的工作簿（.xls），"
                                                        "与文件名的.xlsx不符。"));
        } else {
            *error = refusal(path, QStringLiteral("它不是Excel 2007及以上版本的工作簿（.xlsx）。"));
        }
        return false;
    }
    d->file = file;
    zip_error_t ze;
    zip_error_init(&ze);
    d->source = zip_source_buffer_create(d->file.constData(), zip_uint64_t(d->file.size()), 0, &ze);
    if (d->source) d->zip = zip_open_from_source(d->source, ZIP_CHECKCONS, &ze);
    zip_error_fini(&ze);
    if (!d->zip) {
        *error = damaged(path);
        return false;
    }
    zip_source_keep(d->source); // the archive is written back into it
    return d->parseExisting(error);
}

bool SheetWriter::Impl::parseExisting(QString* error) {
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < count; ++i)
        if (const char* n = zip_get_name(zip, zip_uint64_t(i), 0))
            entries << QString::fromUtf8(n).toLower();

    // The package's relationships lead to the workbook and its extended properties.
    QString rootRels;
    if (!read(QStringLiteral("_rels/.rels"), &rootRels) ||
        !read(QStringLiteral("[Content_Types].xml"), &typesXml)) {
        *error = damaged(path);
        return false;
    }
    {
        QXmlStreamReader x(rootRels);
        while (!x.atEnd()) {
            x.readNext();
            if (!x.isStartElement() || x.name() != QLatin1String("Relationship")) continue;
            const QString type = x.attributes().value(QLatin1String("Type")).toString();
            const QString target = x.attributes().value(QLatin1String("Target")).toString();
            if (type.endsWith(QLatin1String("/officeDocument"))) {
                if (type.startsWith(QLatin1String("http://purl.oclc.org/"))) {
                    *error =
                        refusal(path, QStringLiteral("它是“Strict Open XML”格式的工作簿，"
                                                     "请先在Excel中另存为普通的.xlsx工作簿。"));
                    return false;
                }
                workbookPart = resolvePart(QString(), target);
            } else if (type.endsWith(QLatin1String("/extended-properties"))) {
                appPart = resolvePart(QString(), target);
            }
        }
        if (x.hasError() || workbookPart.isEmpty()) {
            *error = damaged(path);
            return false;
        }
    }
    workbookRelsPart = dirOf(workbookPart) + QStringLiteral("/_rels/") +
                       workbookPart.section(QLatin1Char('/'), -1) + QStringLiteral(".rels");
    if (workbookRelsPart.startsWith(QLatin1Char('/'))) workbookRelsPart.remove(0, 1);
    if (!read(workbookPart, &workbookXml) || !read(workbookRelsPart, &relsXml)) {
        *error = damaged(path);
        return false;
    }
    if (!appPart.isEmpty() && !read(appPart, &appXml)) appXml.clear();

    // The workbook: its sheets, where the list ends, and whether its structure is locked.
    {
        QXmlStreamReader x(workbookXml);
        while (!x.atEnd()) {
            x.readNext();
            if (x.isStartElement()) {
                if (x.name() == QLatin1String("workbook") && x.namespaceUri() != kMainNs) {
                    *error = refusal(path, QStringLiteral("它的工作簿部分不是可识别的格式。"));
                    return false;
                }
                for (const auto& ns : x.namespaceDeclarations())
                    if (ns.namespaceUri() == kRelNs) relPrefix = ns.prefix().toString();
                if (x.name() == QLatin1String("sheets")) {
                    const QString q = x.qualifiedName().toString();
                    sheetPrefix = q.contains(QLatin1Char(':'))
                                      ? q.section(QLatin1Char(':'), 0, 0) + QLatin1Char(':')
                                      : QString();
                } else if (x.name() == QLatin1String("sheet")) {
                    names << x.attributes().value(QLatin1String("name")).toString();
                    nextSheetId = std::max(
                        nextSheetId, x.attributes().value(QLatin1String("sheetId")).toInt() + 1);
                } else if (x.name() == QLatin1String("workbookProtection")) {
                    const auto lock = x.attributes().value(QLatin1String("lockStructure"));
                    if (lock == QLatin1String("1") || lock == QLatin1String("true")) {
                        *error = refusal(path, QStringLiteral("它的工作簿结构受保护，请先在Excel"
                                                              "中撤销对工作簿的保护。"));
                        return false;
                    }
                }
            } else if (x.isEndElement() && x.name() == QLatin1String("sheets")) {
                sheetsEnd = workbookXml.lastIndexOf(QLatin1String("</"), x.characterOffset() - 1);
            }
        }
        if (x.hasError() || sheetsEnd < 0) {
            *error = damaged(path);
            return false;
        }
    }
    const auto endOf = [](const QString& xml, const QString& element, QStringList* ids) {
        QXmlStreamReader x(xml);
        qsizetype end = -1;
        while (!x.atEnd()) {
            x.readNext();
            if (x.isStartElement() && ids && x.name() == QLatin1String("Relationship"))
                *ids << x.attributes().value(QLatin1String("Id")).toString();
            if (x.isEndElement() && x.name() == element)
                end = xml.lastIndexOf(QLatin1String("</"), x.characterOffset() - 1);
        }
        return x.hasError() ? qsizetype(-1) : end;
    };
    relsEnd = endOf(relsXml, QStringLiteral("Relationships"), &relIds);
    typesEnd = endOf(typesXml, QStringLiteral("Types"), nullptr);
    if (relsEnd < 0 || typesEnd < 0) {
        *error = damaged(path);
        return false;
    }
    return true;
}

bool SheetWriter::openNew(QString* error) {
    d = std::make_unique<Impl>();
    d->tmp = std::make_unique<QTemporaryDir>();
    if (!d->tmp->isValid()) {
        *error = QStringLiteral("无法创建临时文件夹，不能写入Excel文件。");
        return false;
    }
    d->tmpFile = d->tmp->filePath(QStringLiteral("new.xlsx"));
    d->tmpFileName = QFile::encodeName(d->tmpFile);
    lxw_workbook_options options = {};
    options.constant_memory = LXW_TRUE; // rows go to disk as they are written
    options.use_zip64 = LXW_TRUE;
    d->book = workbook_new_opt(d->tmpFileName.constData(), &options);
    if (!d->book) {
        *error = QStringLiteral("无法创建Excel工作簿。");
        return false;
    }
    return true;
}

QStringList SheetWriter::sheetNames() const {
    return d->names;
}

bool SheetWriter::beginSheet(const QString& name, QString* error) {
    if (const QString problem = formats::xls::biff::sheetNameProblem(name); !problem.isEmpty()) {
        *error = problem;
        return false;
    }
    if (d->names.contains(name, Qt::CaseInsensitive)) {
        *error = QStringLiteral("工作簿中已有名为“%1”的工作表（Excel不区分大小写），"
                                "请换一个名称。")
                     .arg(name);
        return false;
    }
    NewSheet s;
    s.name = name;
    if (d->book) {
        s.lxw = workbook_add_worksheet(d->book, name.toUtf8().constData());
        if (!s.lxw) {
            *error = QStringLiteral("无法添加工作表“%1”。").arg(name);
            return false;
        }
    }
    d->names << name;
    d->sheets.push_back(std::move(s));
    return true;
}

int SheetWriter::rowCount() const {
    return d->sheets.empty() ? 0 : d->sheets.back().rowCount;
}

bool SheetWriter::addRow(const std::vector<Cell>& row, QString* error) {
    if (d->sheets.empty()) {
        *error = QStringLiteral("还没有开始新的工作表。");
        return false;
    }
    NewSheet& s = d->sheets.back();
    *error = formats::xls::biff::rowRefusal(s.name, s.rowCount, kMaxRows, kMaxColumns, row,
                                            QStringLiteral("Excel工作表"));
    if (!error->isEmpty()) return false;
    if (s.widths.size() < row.size()) s.widths.resize(row.size(), 0);
    const int r = s.rowCount;
    if (!s.lxw) s.rows += "<row r=\"" + QByteArray::number(r + 1) + "\">";
    for (size_t c = 0; c < row.size(); ++c) {
        const Cell& cell = row[c];
        using formats::xls::CellKind;
        if (cell.kind == CellKind::Empty) continue;
        const QByteArray ref = (columnName(int(c)) + QString::number(r + 1)).toLatin1();
        if (cell.kind == CellKind::Text) {
            s.widths[c] = std::max(s.widths[c], textWidth(cell.text));
            if (s.lxw) {
                // libxlsxwriter escapes control characters but not a text that reads like
                // such an escape ("_x0041_" would come back as "A"); its underscore is escaped
                // here.
                static const QRegularExpression escapeLike(QStringLiteral("_(?=x[0-9A-Fa-f]{4}_)"));
                QString t = cell.text;
                if (t.contains(QLatin1String("_x")))
                    t.replace(escapeLike, QStringLiteral("_x005F_"));
                const lxw_error e = worksheet_write_string(s.lxw, lxw_row_t(r), lxw_col_t(c),
                                                           t.toUtf8().constData(), nullptr);
                if (e != LXW_NO_ERROR) {
                    *error = QStringLiteral("写入Excel单元格失败：%1").arg(lxw_strerror(e));
                    return false;
                }
                continue;
            }
            const QString t = xmlText(cell.text, false);
            const bool keepSpace =
                !cell.text.isEmpty() && (cell.text.front().isSpace() || cell.text.back().isSpace());
            s.rows += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t" +
                      (keepSpace ? QByteArray(" xml:space=\"preserve\"") : QByteArray()) + ">" +
                      t.toUtf8() + "</t></is></c>";
        } else if (cell.kind == CellKind::Number) {
            s.widths[c] = std::max(s.widths[c], int(numberText(cell.number).size()));
            if (s.lxw) {
                worksheet_write_number(s.lxw, lxw_row_t(r), lxw_col_t(c), cell.number, nullptr);
                continue;
            }
            s.rows += "<c r=\"" + ref + "\"><v>" + numberText(cell.number) + "</v></c>";
        } else if (cell.kind == CellKind::Boolean) {
            if (s.lxw) {
                worksheet_write_boolean(s.lxw, lxw_row_t(r), lxw_col_t(c), cell.number != 0,
                                        nullptr);
                continue;
            }
            s.rows +=
                "<c r=\"" + ref + "\" t=\"b\"><v>" + (cell.number != 0 ? "1" : "0") + "</v></c>";
        }
    }
    if (!s.lxw) s.rows += "</row>";
    s.columns = std::max(s.columns, int(row.size()));
    ++s.rowCount;
    return true;
}

QByteArray SheetWriter::Impl::sheetXml(const NewSheet& s) const {
    QByteArray x = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                   "<worksheet xmlns=\"" +
                   kMainNs.toLatin1() + "\" xmlns:r=\"" + kRelNs.toLatin1() + "\">";
    const QByteArray last =
        s.rowCount > 0 && s.columns > 0
            ? (columnName(s.columns - 1) + QString::number(s.rowCount)).toLatin1()
            : QByteArray("A1");
    x += "<dimension ref=\"A1" + (last == "A1" ? QByteArray() : ":" + last) + "\"/>";
    x += "<sheetViews><sheetView workbookViewId=\"0\"/></sheetViews>";
    x += "<sheetFormatPr defaultRowHeight=\"15\"/>";
    if (!s.widths.empty()) {
        x += "<cols>";
        for (size_t c = 0; c < s.widths.size(); ++c)
            x += "<col min=\"" + QByteArray::number(qulonglong(c + 1)) + "\" max=\"" +
                 QByteArray::number(qulonglong(c + 1)) + "\" width=\"" +
                 QByteArray::number(std::clamp(s.widths[c] + 2, 10, 60)) + "\" customWidth=\"1\"/>";
        x += "</cols>";
    }
    x += "<sheetData>" + s.rows + "</sheetData>";
    x += "<pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
         "footer=\"0.3\"/></worksheet>";
    return x;
}

// The extended properties with the new sheets counted and named among the worksheets. Left as
// they are (an empty result) when their list of worksheets cannot be told apart.
QString SheetWriter::Impl::updatedApp() const {
    if (appXml.isEmpty()) return {};
    struct Pair {
        QString name;
        int count = 0;
        Span countText;
    };
    std::vector<Pair> pairs;
    Span headingVector, titlesVector;
    std::vector<qsizetype> titleEnds; // where each title element ends
    QString lpstrName, countName;
    QXmlStreamReader x(appXml);
    QString section, last;
    qsizetype before = 0;
    while (!x.atEnd()) {
        before = x.characterOffset();
        x.readNext();
        const qsizetype after = x.characterOffset();
        if (x.isStartElement()) {
            const QString n = x.name().toString();
            if (n == QLatin1String("HeadingPairs") || n == QLatin1String("TitlesOfParts"))
                section = n;
            if (n == QLatin1String("vector")) {
                (section == QLatin1String("HeadingPairs") ? headingVector : titlesVector) = {before,
                                                                                             after};
            }
            last = n;
            if (section == QLatin1String("TitlesOfParts") && n == QLatin1String("lpstr"))
                lpstrName = x.qualifiedName().toString();
        } else if (x.isCharacters() && section == QLatin1String("HeadingPairs")) {
            if (last == QLatin1String("lpstr")) {
                pairs.push_back({x.text().toString(), 0, {}});
            } else if ((last == QLatin1String("i4") || last == QLatin1String("i2") ||
                        last == QLatin1String("int")) &&
                       !pairs.empty()) {
                pairs.back().count = x.text().toInt();
                // The reader has looked at the "<" that ends the text already.
                pairs.back().countText = {before, before + x.text().size()};
            }
        } else if (x.isEndElement()) {
            const QString n = x.name().toString();
            if (section == QLatin1String("TitlesOfParts") && n == QLatin1String("lpstr"))
                titleEnds.push_back(after);
            if (n == QLatin1String("HeadingPairs") || n == QLatin1String("TitlesOfParts"))
                section.clear();
            last.clear();
        }
    }
    if (x.hasError() || headingVector.begin < 0 || titlesVector.begin < 0) return {};
    // The worksheets' pair: by its name where Excel wrote it in a language known here, else
    // the one pair that counts as many parts as the workbook has sheets.
    static const QStringList known{QStringLiteral("Worksheets"),
                                   QStringLiteral("工作表"),
                                   QStringLiteral("Arbeitsblätter"),
                                   QStringLiteral("Feuilles de calcul"),
                                   QStringLiteral("Hojas de cálculo"),
                                   QStringLiteral("Fogli di lavoro"),
                                   QStringLiteral("Листы"),
                                   QStringLiteral("ワークシート")};
    int which = -1;
    for (size_t i = 0; i < pairs.size() && which < 0; ++i)
        if (known.contains(pairs[i].name)) which = int(i);
    if (which < 0) {
        const int existing = int(names.size() - sheets.size());
        for (size_t i = 0; i < pairs.size(); ++i)
            if (pairs[i].count == existing) {
                if (which >= 0) return {}; // two candidates: leave the properties alone
                which = int(i);
            }
    }
    if (which < 0 || pairs[size_t(which)].countText.begin < 0) return {};
    int at = 0; // titles before the worksheets' last one
    for (int i = 0; i <= which; ++i)
        at += pairs[size_t(i)].count;
    if (size_t(at) > titleEnds.size()) return {};
    if (lpstrName.isEmpty()) lpstrName = QStringLiteral("vt:lpstr");
    const int added = int(sheets.size());
    int total = 0;
    for (const Pair& p : pairs)
        total += p.count;

    // Changes from the end of the text backwards, so that earlier positions hold.
    static const QRegularExpression size(QStringLiteral("size\\s*=\\s*([\"'])(\\d+)\\1"));
    const auto resize = [&](QString& doc, Span tag, int newSize) {
        const QString t = doc.mid(tag.begin, tag.end - tag.begin);
        const QRegularExpressionMatch m = size.match(t);
        if (!m.hasMatch()) return false;
        doc.replace(tag.begin + m.capturedStart(2), m.capturedLength(2), QString::number(newSize));
        return true;
    };
    QString doc = appXml;
    QString titles;
    for (const NewSheet& s : sheets)
        titles += QLatin1Char('<') + lpstrName + QLatin1Char('>') + xmlText(s.name, false) +
                  QLatin1String("</") + lpstrName + QLatin1Char('>');
    const qsizetype insertAt = at == 0 ? titlesVector.end : titleEnds[size_t(at - 1)];
    doc.insert(insertAt, titles);
    const QString tag = doc.mid(titlesVector.begin, titlesVector.end - titlesVector.begin);
    const QRegularExpressionMatch m = size.match(tag);
    if (!m.hasMatch() || m.captured(2).toInt() != int(titleEnds.size()) ||
        int(titleEnds.size()) != total)
        return {};
    if (!resize(doc, titlesVector, int(titleEnds.size()) + added)) return {};
    const Span count = pairs[size_t(which)].countText;
    if (titlesVector.begin < count.begin) return {}; // not in the usual order: leave it
    doc.replace(count.begin, count.end - count.begin,
                QString::number(pairs[size_t(which)].count + added));
    return doc;
}

bool SheetWriter::Impl::finishExisting(QByteArray* out, QString* error) {
    // Part names for the new sheets next to the workbook, and relationship ids, unused so far.
    const QString base = dirOf(workbookPart);
    QString sheetEntries, relEntries, typeEntries;
    int n = 1, r = 1;
    for (const NewSheet& s : sheets) {
        QString part;
        do {
            part = (base.isEmpty() ? QString() : base + QLatin1Char('/')) +
                   QStringLiteral("worksheets/sheet%1.xml").arg(n++);
        } while (entries.contains(part.toLower()));
        entries << part.toLower();
        QString id;
        do {
            id = QStringLiteral("rId%1").arg(r++);
        } while (relIds.contains(id));
        relIds << id;
        const QString relAttr = relPrefix.isEmpty()
                                    ? QStringLiteral("xmlns:r=\"%1\" r:id").arg(kRelNs)
                                    : relPrefix + QStringLiteral(":id");
        sheetEntries += QStringLiteral("<%1sheet name=\"%2\" sheetId=\"%3\" %4=\"%5\"/>")
                            .arg(sheetPrefix, xmlText(s.name, true))
                            .arg(nextSheetId++)
                            .arg(relAttr, id);
        const QString target = base.isEmpty() ? part : part.mid(base.size() + 1);
        relEntries += QStringLiteral("<Relationship Id=\"%1\" Type=\"%2\" Target=\"%3\"/>")
                          .arg(id, kWorksheetType, xmlText(target, true));
        typeEntries += QStringLiteral("<Override PartName=\"/%1\" ContentType=\"%2\"/>")
                           .arg(xmlText(part, true), kWorksheetContent);
        keep.push_back(sheetXml(s));
        const QByteArray name = part.toUtf8();
        zip_source_t* src =
            zip_source_buffer(zip, keep.back().constData(), zip_uint64_t(keep.back().size()), 0);
        if (!src || zip_file_add(zip, name.constData(), src, ZIP_FL_ENC_UTF_8) < 0) {
            if (src) zip_source_free(src);
            *error = QStringLiteral("无法在Excel文件中添加工作表：%1")
                         .arg(QString::fromUtf8(zip_strerror(zip)));
            return false;
        }
    }
    QString workbook = workbookXml, rels = relsXml, types = typesXml;
    workbook.insert(sheetsEnd, sheetEntries);
    rels.insert(relsEnd, relEntries);
    types.insert(typesEnd, typeEntries);
    std::vector<std::pair<QString, QString>> changed{
        {workbookPart, workbook},
        {workbookRelsPart, rels},
        {QStringLiteral("[Content_Types].xml"), types}};
    if (const QString app = updatedApp(); !app.isEmpty()) changed.push_back({appPart, app});
    for (const auto& [part, text] : changed) {
        const zip_int64_t index = zip_name_locate(zip, part.toUtf8().constData(), ZIP_FL_NOCASE);
        keep.push_back(text.toUtf8());
        zip_source_t* src =
            zip_source_buffer(zip, keep.back().constData(), zip_uint64_t(keep.back().size()), 0);
        if (!src || index < 0 || zip_file_replace(zip, zip_uint64_t(index), src, 0) < 0) {
            if (src) zip_source_free(src);
            *error = QStringLiteral("无法修改Excel文件的内容：%1")
                         .arg(QString::fromUtf8(zip_strerror(zip)));
            return false;
        }
    }
    if (zip_close(zip) != 0) {
        *error = QStringLiteral("无法写出Excel文件：%1").arg(QString::fromUtf8(zip_strerror(zip)));
        return false;
    }
    zip = nullptr;
    // The archive now lives in the buffer source.
    zip_stat_t st;
    if (zip_source_open(source) < 0 || zip_source_stat(source, &st) < 0 ||
        !(st.valid & ZIP_STAT_SIZE)) {
        *error = QStringLiteral("无法写出Excel文件。");
        return false;
    }
    out->resize(qsizetype(st.size));
    const zip_int64_t got = zip_source_read(source, out->data(), st.size);
    zip_source_close(source);
    if (got != zip_int64_t(st.size)) {
        *error = QStringLiteral("无法写出Excel文件。");
        return false;
    }
    return true;
}

bool SheetWriter::Impl::finishNew(QByteArray* out, QString* error) {
    for (const NewSheet& s : sheets)
        for (size_t c = 0; c < s.widths.size(); ++c)
            worksheet_set_column(s.lxw, lxw_col_t(c), lxw_col_t(c),
                                 std::clamp(s.widths[c] + 2, 10, 60), nullptr);
    const lxw_error e = workbook_close(book);
    book = nullptr;
    if (e != LXW_NO_ERROR) {
        *error = QStringLiteral("无法写出Excel文件：%1").arg(QString::fromUtf8(lxw_strerror(e)));
        return false;
    }
    QFile f(tmpFile);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("无法读回写好的Excel文件：%1").arg(f.errorString());
        return false;
    }
    *out = f.readAll();
    return true;
}

bool SheetWriter::finish(QByteArray* out, QString* error) {
    if (d->sheets.empty()) {
        *error = QStringLiteral("没有要添加的工作表。");
        return false;
    }
    return d->book ? d->finishNew(out, error) : d->finishExisting(out, error);
}

} // namespace formats::xlsxwrite
