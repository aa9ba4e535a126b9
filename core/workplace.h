#pragma once
// Where the program finds the files it ships and where it keeps its working database.
//
// Run from its build folder, or from any folder it was copied to that its user can write, the
// working database is the one beside the program, as it always was. Installed (the program in
// .../bin, what it ships in .../share/chachong) or run from a folder that cannot be written,
// every user works on an own copy of the shipped database in their data folder: made on the
// first start, brought up to the schema of a newer shipped database when the program is
// updated. The shipped files themselves are never written.
#include <QString>

namespace core {

// The folder of the shipped files (the working database as shipped and the user guide): the
// program's folder when the database is in it, else ../share/chachong beside it when it is
// there (the installed layout), else the program's folder.
QString shippedDir(const QString& programDir);

struct WorkDbPlace {
    QString path;         // the working database to open
    QString shipped;      // the folder of the shipped files
    bool ownCopy = false; // path is the user's own copy, not the shipped file
    QString error; // why no working database can be made ready (for the user), empty when fine
};

// Decides which working database this run uses and makes it ready: the one beside the program
// when that folder can be written, else userDataDir's copy (made from the shipped one when it
// is missing, upgraded when the shipped one has a newer schema). An upgrade keeps the tables
// and rows the user's work left and sets the old file aside as MorlayBankCC.mdb.v<N>.bak.
WorkDbPlace placeWorkDatabase(const QString& programDir, const QString& userDataDir);

// The schema version a working database carries (SQLite's user_version); -1 when the file
// cannot be read as a database.
int workDbSchemaVersion(const QString& path);

} // namespace core
