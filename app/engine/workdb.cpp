#include "app/engine/workdb.h"

#include "db/sqltext.h"

#include <QDir>
#include <QFileInfo>

namespace app {

QString openWorkDatabase(AppState& st, const QString& path) {
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("找不到工作数据库文件：\n%1\n\n它应当和本程序放在同一个文件夹中。"
                              "程序无法启动。")
            .arg(shown);
    if (!st.WorkConn.open(db::accessConnectionString(path)))
        return QStringLiteral("工作数据库文件无法打开：\n%1\n\n它不是有效的数据库文件（%2）。"
                              "程序无法启动。")
            .arg(shown, st.WorkConn.errorString());
    QString error;
    if (st.WorkConn.isWorkingCopy()) {
        error = QStringLiteral("工作数据库文件：\n%1\n\n是 Access 原始文件，本程序不能写入它。"
                               "请使用随程序提供的工作数据库。程序无法启动。")
                    .arg(shown);
    } else if (st.WorkConn.isReadOnly() || !info.isWritable() ||
               !QFileInfo(info.absolutePath()).isWritable()) {
        // Every check writes to the working tables: a database that cannot be written would
        // lose the results of the first check.
        error = QStringLiteral("工作数据库文件是只读的，无法写入：\n%1\n\n请把程序复制到可以写入的"
                               "文件夹后再运行（不要在光盘或只读位置上直接运行）。程序无法启动。")
                    .arg(shown);
    } else {
        QStringList missing;
        for (const QString& table : {QStringLiteral("ClienttableDBF"),
                                     QStringLiteral("empty_table"), QStringLiteral("yb_table")})
            if (!st.WorkConn.hasTable(table)) missing << table;
        if (!missing.isEmpty())
            error = QStringLiteral("工作数据库文件已损坏或不完整：\n%1\n\n缺少必需的表：%2。"
                                   "程序无法启动。")
                        .arg(shown, missing.join(QStringLiteral("、")));
    }
    if (!error.isEmpty()) st.WorkConn.close();
    return error;
}

void setCheckFields(AppState& st, const QStringList& checkFields) {
    const int count = int(std::min<qsizetype>(checkFields.size(), 5));
    st.CheckFieldCount = qint16(count);
    for (int k = 0; k < count; ++k)
        st.CheckFields[k] = checkFields[k];
}

QString prepareCheck(AppState& st, CheckMode mode) {
    const QString dupTable = QStringLiteral("ClienttableCC");
    QString error;
    if (!runStatement(st.RsDup, db::sql::deleteAll(dupTable), st.WorkConn, &error))
        return QStringLiteral("无法清空重复数据表 ClienttableCC，查重没有开始。\n原因：%1\n"
                              "请重新打开数据库后再试。")
            .arg(error);
    st.RsDup = std::make_shared<db::Recordset>();
    st.RsDup->setCursorLocation(db::CursorLocation::Client);
    if (!st.RsDup->open(db::sql::selectAll(dupTable), st.WorkConn, db::CursorType::Keyset,
                        db::LockType::BatchOptimistic))
        return QStringLiteral("无法打开重复数据表 ClienttableCC，查重没有开始。\n原因：%1")
            .arg(st.RsDup->errorString());
    setCheckMode(st, mode);
    return {};
}

} // namespace app
