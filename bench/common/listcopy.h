#pragma once
// A generated list checked the way the program checks a user's file, on copies: a fresh copy of
// the list and of the working database in dir, the list opened as "打开DBF数据" opens it.
#include "core/workdb.h"
#include "import/engine/sources.h"

#include <QDir>
#include <QFile>

namespace bench {

inline bool openCopy(core::AppState& st, const QString& original, const QString& dir) {
    QDir(dir).removeRecursively();
    QDir().mkpath(dir);
    const QString file = dir + QStringLiteral("/客户.dbf");
    const QString db = dir + QStringLiteral("/MorlayBankCC.mdb");
    if (!QFile::copy(original, file) ||
        !QFile::copy(QStringLiteral(CHACHONG_PROGRAM_DIR "/MorlayBankCC.mdb"), db))
        return false;
    for (const QString& f : {file, db})
        QFile::setPermissions(f, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    st = core::AppState{};
    st.AppDir = dir;
    st.WorkDbPath = db;
    st.ScratchDir = dir; // a copy: no backup before the separation
    return core::openWorkDatabase(st, db).ok() &&
           sources::openDbf(st, file, QStringLiteral("客户.dbf")).ok();
}

} // namespace bench
