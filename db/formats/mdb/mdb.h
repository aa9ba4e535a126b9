#pragma once
// Access (Jet 3/4, ACE) databases read through mdbtools, in a child process of their own. mdbtools
// cannot write them, so the program reads a whole file into a private SQLite database and works
// on that copy (db/mdbcopy.h).
#include <QString>
#include <QStringList>

namespace mdb {

namespace detail {
class Sink;
}

// True when the file starts like a Jet or ACE database.
bool isAccessFile(const QString& path);

// The user tables of the file in the engine's catalogue order, "MSys" names left out.
// False with a Chinese error text when the file cannot be read.
bool listTables(const QString& path, QStringList* tables, QString* error);

// Streams every user table of the file into sink: each table with its columns, then its rows,
// values as text the way Access showed them (mdbreader.h). False with a Chinese error text when
// the file cannot be read; false with an empty one when the sink stopped the reading (the sink
// knows why).
bool readTables(const QString& path, detail::Sink& sink, QString* error);

} // namespace mdb
