// libFuzzer target for the Access reader: the input is written to a temporary .mdb file, then
// listTables and copyToSqlite run on it into an in-memory SQLite database.
//
// By default the reader runs as the program runs it, in a child process, so a fault inside
// libmdb (not instrumented) becomes an error text and the fuzzer exercises the checks, the stream
// between the processes and the SQLite side. With FUZZ_MDB_IN_PROCESS=1 the reader runs in the
// fuzzer's own process instead, which shows libmdb's own crashes and hangs.
//
//   build-fuzz-mdb/fuzz/fuzz_mdb -max_total_time=60 corpus/ tests/data/mdb/*/
#include "db/formats/mdb/mdb.h"
#include "db/formats/mdb/mdbreader.h"
#include "db/mdbcopy.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

#include <sqlite3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

QString scratchFile() {
    static const QString path = [] {
        const char* tmp = std::getenv("TMPDIR");
        return QString::fromLocal8Bit(tmp && *tmp ? tmp : "/tmp") +
               QStringLiteral("/fuzz_mdb_%1.mdb").arg(::getpid());
    }();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* inProcess = std::getenv("FUZZ_MDB_IN_PROCESS");
    mdb::detail::setIsolated(!(inProcess && *inProcess == '1'));
    mdb::detail::setSilenceTimeout(5000); // a hang shows up as an error within 5 s
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const QString path = scratchFile();
    const QByteArray file = QFile::encodeName(path);
    if (FILE* f = std::fopen(file.constData(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }
    QStringList tables;
    QString error;
    const bool listed = mdb::listTables(path, &tables, &error);
    if (!listed && error.isEmpty()) std::abort(); // a failure must say why

    sqlite3* db = nullptr;
    sqlite3_open(":memory:", &db);
    error.clear();
    const bool copied = mdb::copyToSqlite(path, db, &error);
    if (!copied && error.isEmpty()) std::abort();
    sqlite3_close(db);
    ::unlink(file.constData());
    return 0;
}
