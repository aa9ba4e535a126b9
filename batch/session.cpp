#include "batch/session.h"

#include "check/engine/separation.h"
#include "core/appstate.h"
#include "core/workdb.h"
#include "core/workplace.h"
#include "import/engine/importrows.h"
#include "import/engine/sources.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <optional>

namespace batch {

struct Session::Private {
    QString programDir;
    std::optional<QTemporaryDir> temp;
    QString kind;
    QStringList offered;
    QStringList notes;
    // Messages name the user's folder where the open saw the private copy's.
    QString copyDir, userDir;

    // The table chooser answered by the table asked for, or the only one. Returns the name, or
    // an empty text with *code and *reason set.
    QString choose(const QString& wanted, int* code, QString* reason) const {
        auto fail = [&](int c, const QString& why) {
            *code = c;
            *reason = why;
            return QString();
        };
        if (offered.isEmpty()) return fail(Failure, QStringLiteral("文件中没有可以打开的表"));
        if (wanted.isEmpty()) {
            if (offered.size() > 1)
                return fail(Usage, QStringLiteral("文件中有 %1 个表，请指定表名：%2")
                                       .arg(offered.size())
                                       .arg(offered.join(QStringLiteral("、"))));
            return offered.first();
        }
        // The name as written, else the one name that differs from it in letter case only.
        if (offered.contains(wanted)) return wanted;
        QStringList alike;
        for (const QString& n : offered)
            if (n.compare(wanted, Qt::CaseInsensitive) == 0) alike << n;
        if (alike.size() == 1) return alike.first();
        return fail(Failure, QStringLiteral("文件中没有表“%1”。可以打开的表：%2")
                                 .arg(wanted, offered.join(QStringLiteral("、"))));
    }
};

Session::Session(const QString& programDir) : d(std::make_unique<Private>()) {
    d->programDir = programDir;
}

Session::~Session() {
    // Connections into the temporary folder close before it goes.
    core::resetAppState();
}

QString Session::kind() const {
    return d->kind;
}

QStringList Session::offeredTables() const {
    return d->offered;
}

QString Session::userView(QString text) const {
    if (!d->copyDir.isEmpty()) {
        text.replace(d->copyDir, d->userDir);
        text.replace(QDir::toNativeSeparators(d->copyDir), QDir::toNativeSeparators(d->userDir));
    }
    return text;
}

QStringList Session::takeNotes() {
    QStringList notes;
    for (const QString& n : std::exchange(d->notes, {}))
        notes << userView(n);
    return notes;
}

int Session::open(const OpenRequest& request, QString* reason) {
    auto fail = [&](int code, const QString& why) {
        *reason = userView(why);
        return code;
    };
    const QString path = request.file;
    const QFileInfo info(path);
    if (!info.exists())
        return fail(Failure, QStringLiteral("文件不存在：%1").arg(QDir::toNativeSeparators(path)));
    if (!info.isFile())
        return fail(Failure, QStringLiteral("不是文件：%1").arg(QDir::toNativeSeparators(path)));
    const QString suffix = info.suffix().toLower();
    if (suffix == QLatin1String("dbf"))
        d->kind = suffix;
    else if (suffix == QLatin1String("xls") || suffix == QLatin1String("xlsx"))
        d->kind = QStringLiteral("xls");
    else if (suffix == QLatin1String("csv") || suffix == QLatin1String("txt"))
        d->kind = QStringLiteral("csv");
    else if (suffix == QLatin1String("mdb") || suffix == QLatin1String("accdb"))
        d->kind = QStringLiteral("mdb");
    else
        return fail(Failure, QStringLiteral("不认识的文件格式：%1（只能打开 .dbf、.xls、.xlsx、"
                                            ".csv、.txt、.mdb、.accdb 文件）")
                                 .arg(QDir::toNativeSeparators(path)));

    // A private working database, so no run touches the program's own.
    d->temp.emplace(QDir::tempPath() + QStringLiteral("/chachong-batch-XXXXXX"));
    if (!d->temp->isValid())
        return fail(Failure, QStringLiteral("无法建立临时文件夹：%1").arg(d->temp->errorString()));
    const QDir temp(d->temp->path());
    const QString shippedDir = core::shippedDir(d->programDir);
    const QString shipped = QDir(shippedDir).filePath(core::workDbFileName());
    const QString workDb = temp.filePath(core::workDbFileName());
    core::AppState& st = core::appState();
    if (!QFileInfo::exists(shipped))
        return fail(Failure, core::openWorkDatabase(st, shipped).error);
    if (!QFile::copy(shipped, workDb))
        return fail(Failure, QStringLiteral("无法复制工作数据库到临时文件夹 %1").arg(temp.path()));
    QFile::setPermissions(workDb, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (const core::Status s = core::openWorkDatabase(st, workDb); !s.ok())
        return fail(Failure, s.error);
    st.WorkConn.setScratch(); // the run's own copy, gone when it ends
    st.AppDir = shippedDir;
    st.WorkDbPath = workDb;
    st.SourceCodePage = request.encoding;

    // The file itself, or a copy of it (and of its memo, index and code-page files). A text
    // file or a workbook needs none: it is read once, imported and never written.
    QString used = info.absoluteFilePath();
    const bool importedOnly = d->kind == QLatin1String("csv") || d->kind == QLatin1String("xls");
    if (request.privateCopy && !importedOnly) {
        if (!temp.mkdir(QStringLiteral("source")))
            return fail(Failure, QStringLiteral("无法建立临时文件夹 %1").arg(temp.path()));
        const QDir copyDir(temp.filePath(QStringLiteral("source")));
        for (const QString& name : check::tableFiles(used)) {
            if (!QFile::copy(info.dir().filePath(name), copyDir.filePath(name)))
                return fail(Failure, QStringLiteral("无法复制 %1 到临时文件夹")
                                         .arg(QDir::toNativeSeparators(info.dir().filePath(name))));
            QFile::setPermissions(copyDir.filePath(name),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        }
        used = copyDir.filePath(info.fileName());
        st.ScratchDir = temp.path();
        d->copyDir = copyDir.path();
        d->userDir = info.absolutePath();
    }

    // The open of the file's kind, as the main window's command runs it.
    auto take = [&](const sources::OpenResult& r) {
        d->notes << r.notes;
        return r.ok();
    };
    const QString used_ = QDir::fromNativeSeparators(used);
    if (d->kind == QLatin1String("dbf")) {
        const sources::OpenResult r = sources::openDbf(st, used_, info.fileName());
        return take(r) ? Success : fail(Failure, r.error);
    }
    const sources::OpenResult connected =
        d->kind == QLatin1String("xls")   ? sources::connectExcel(st, used_, info.fileName())
        : d->kind == QLatin1String("csv") ? sources::connectText(st, used_, info.fileName())
                                          : sources::connectAccess(st, used_, info.fileName());
    if (!take(connected)) return fail(Failure, connected.error);
    if (const core::Status s = sources::chooserTables(st, &d->offered); !s.ok())
        return fail(Failure, s.error);
    if (request.listOnly) return Success;
    int code = Success;
    QString why;
    const QString name = d->choose(request.table, &code, &why);
    if (name.isEmpty()) return fail(code, why);
    const bool import = d->kind != QLatin1String("mdb") && request.import;
    const sources::OpenResult opened = sources::openChosenTable(st, name, import);
    if (!take(opened)) return fail(Failure, opened.error);
    if (import) {
        core::ProgressSink quiet;
        sources::ImportResult imported = sources::importRows(st, quiet);
        if (!sources::reopenImported(st, imported))
            return fail(Failure, sources::importProblem(imported));
        // The run reads the working database from here on; the file's own connection (a
        // workbook or a text file read whole into memory) is let go of.
        st.SourceConn = db::Connection();
    }
    return Success;
}

} // namespace batch
