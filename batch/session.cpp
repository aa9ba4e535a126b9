#include "batch/session.h"

#include "app/appstate.h"
#include "app/windowdirectory.h"
#include "app/workdb.h"
#include "check/separation.h"
#include "import/mainfm5.h"
#include "import/opensource.h"
#include "ui/dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <optional>

namespace batch {

namespace {

// The dialogs of the commands, answered from the command line: the open dialog with the file
// given, every question the cautious way ("现在开始数据维护吗？" with Cancel), every message noted.
class BatchDialogs : public ui::DialogService {
public:
    std::optional<ui::FileChoice> file;
    QStringList warnings; // messages shown with a warning or error icon
    QString last;         // the last message of any kind
    // Messages name the user's folder where the commands saw the private copy's.
    QString copyDir, userDir;

    ui::Answer message(const QString& shown, const QString&, ui::Icon icon,
                       ui::Buttons buttons) override {
        QString text = shown;
        if (!copyDir.isEmpty()) {
            text.replace(copyDir, userDir);
            text.replace(QDir::toNativeSeparators(copyDir), QDir::toNativeSeparators(userDir));
        }
        last = text;
        if (icon == ui::Icon::Warning || icon == ui::Icon::Critical) warnings << text;
        switch (buttons) {
        case ui::Buttons::Ok:
            return ui::Answer::Ok;
        case ui::Buttons::YesNo:
            return ui::Answer::No;
        default:
            return ui::Answer::Cancel;
        }
    }
    std::optional<ui::FileChoice> openFile(const ui::FileDialogOptions&) override {
        return std::exchange(file, std::nullopt);
    }
    std::optional<ui::FileChoice> saveFile(const ui::FileDialogOptions&) override { return {}; }
    std::optional<QString> input(const QString&, const QString&, const QString&) override {
        return {};
    }
};

// The table chooser and the import window, answered from the command line.
class BatchWindows : public app::WindowDirectory {
public:
    QString wanted;        // the table asked for; empty: the only one
    bool listOnly = false; // "tables": the chooser's list is all that is wanted
    bool import = false;   // run the import of an Excel sheet
    QStringList offered;
    int code = Success; // set when the choice failed
    QString reason;
    bool imported = false;
    sources::ImportResult importResult;

    bool showTableChooser() override {
        offered = sources::chooserTables(app::appState(), &reason);
        if (!reason.isEmpty()) return fail(Failure, reason);
        if (listOnly) return true;
        if (offered.isEmpty()) return fail(Failure, QStringLiteral("文件中没有可以打开的表"));
        QString name;
        if (wanted.isEmpty()) {
            if (offered.size() > 1)
                return fail(Usage, QStringLiteral("文件中有 %1 个表，请指定表名：%2")
                                       .arg(offered.size())
                                       .arg(offered.join(QStringLiteral("、"))));
            name = offered.first();
        } else {
            name = match(wanted);
            if (name.isEmpty())
                return fail(Failure, QStringLiteral("文件中没有表“%1”。可以打开的表：%2")
                                         .arg(wanted, offered.join(QStringLiteral("、"))));
        }
        sources::openChosenTable(name);
        return true;
    }

    bool showImportProgress() override {
        if (!import) return true;
        imported = true;
        importResult = sources::importRows(app::appState());
        sources::finishImport(app::appState(), importResult);
        return true;
    }

private:
    bool fail(int exitCode, const QString& why) {
        code = exitCode;
        reason = why;
        return true;
    }
    // The name as written, else the one name that differs from it in letter case only.
    QString match(const QString& name) const {
        if (offered.contains(name)) return name;
        QString found;
        for (const QString& n : offered)
            if (n.compare(name, Qt::CaseInsensitive) == 0) {
                if (!found.isEmpty()) return {};
                found = n;
            }
        return found;
    }
};

} // namespace

struct Session::Private {
    QString programDir;
    BatchDialogs dialogs;
    BatchWindows windows;
    ui::DialogService* previousDialogs = nullptr;
    std::optional<QTemporaryDir> temp;
    QString kind;
};

Session::Session(const QString& programDir) : d(std::make_unique<Private>()) {
    d->programDir = programDir;
    d->previousDialogs = ui::setDialogs(&d->dialogs);
    app::setWindows(&d->windows);
}

Session::~Session() {
    // Connections into the temporary folder close before it goes.
    app::resetAppState();
    app::setWindows(nullptr);
    ui::setDialogs(d->previousDialogs);
}

QString Session::kind() const {
    return d->kind;
}

QStringList Session::offeredTables() const {
    return d->windows.offered;
}

QStringList Session::takeWarnings() {
    return std::exchange(d->dialogs.warnings, {});
}

QString Session::lastMessage() const {
    return d->dialogs.last;
}

int Session::open(const OpenRequest& request, QString* reason) {
    auto fail = [reason](int code, const QString& why) {
        *reason = why;
        return code;
    };
    const QString path = request.file;
    const bool listOnly = request.listOnly;
    const QFileInfo info(path);
    if (!info.exists())
        return fail(Failure, QStringLiteral("文件不存在：%1").arg(QDir::toNativeSeparators(path)));
    if (!info.isFile())
        return fail(Failure, QStringLiteral("不是文件：%1").arg(QDir::toNativeSeparators(path)));
    const QString suffix = info.suffix().toLower();
    if (suffix == QLatin1String("dbf") || suffix == QLatin1String("xls"))
        d->kind = suffix;
    else if (suffix == QLatin1String("mdb") || suffix == QLatin1String("accdb"))
        d->kind = QStringLiteral("mdb");
    else
        return fail(Failure, QStringLiteral("不认识的文件格式：%1（只能打开 .dbf、.xls、.mdb、"
                                            ".accdb 文件）")
                                 .arg(QDir::toNativeSeparators(path)));

    // A private working database, so no run touches the program's own.
    d->temp.emplace(QDir::tempPath() + QStringLiteral("/chachong-batch-XXXXXX"));
    if (!d->temp->isValid())
        return fail(Failure, QStringLiteral("无法建立临时文件夹：%1").arg(d->temp->errorString()));
    const QDir temp(d->temp->path());
    const QString shipped = QDir(d->programDir).filePath(app::workDbFileName());
    const QString workDb = temp.filePath(app::workDbFileName());
    if (!QFileInfo::exists(shipped))
        return fail(Failure, app::openWorkDatabase(app::appState(), shipped));
    if (!QFile::copy(shipped, workDb))
        return fail(Failure, QStringLiteral("无法复制工作数据库到临时文件夹 %1").arg(temp.path()));
    QFile::setPermissions(workDb, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    app::AppState& st = app::appState();
    if (const QString why = app::openWorkDatabase(st, workDb); !why.isEmpty())
        return fail(Failure, why);
    st.AppDir = temp.path();
    st.WorkDbPath = workDb;
    st.SourceCodePage = request.encoding;

    // The file itself, or a copy of it (and of its memo, index and code-page files).
    QString used = info.absoluteFilePath();
    if (request.privateCopy) {
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
        d->dialogs.copyDir = copyDir.path();
        d->dialogs.userDir = info.absolutePath();
    }

    // The menu command of the file's kind, as the main window runs it.
    d->windows.wanted = request.table;
    d->windows.listOnly = listOnly;
    d->windows.import = request.import;
    d->dialogs.file = ui::FileChoice{QDir::fromNativeSeparators(used), info.fileName()};
    if (d->kind == QLatin1String("dbf"))
        sources::openDbf();
    else if (d->kind == QLatin1String("xls"))
        sources::importExcel();
    else
        sources::openMdb();

    if (d->windows.code != Success) return fail(d->windows.code, d->windows.reason);
    if (listOnly && d->kind != QLatin1String("dbf")) {
        if (!app::isOpen(st.RsSource) && !st.SourceConn.isOpen())
            return fail(Failure, d->dialogs.last.isEmpty() ? QStringLiteral("文件无法打开")
                                                           : d->dialogs.last);
        return Success;
    }
    if (!app::isOpen(st.RsSource)) {
        const QString why =
            !d->dialogs.warnings.isEmpty() ? d->dialogs.warnings.last() : d->dialogs.last;
        return fail(Failure, why.isEmpty() ? QStringLiteral("数据表无法打开") : why);
    }
    if (d->windows.imported && !d->windows.importResult.reopened)
        return fail(Failure, d->dialogs.last);
    return Success;
}

} // namespace batch
