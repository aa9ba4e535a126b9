#pragma once
// Shared pieces of the tests: the test main, sample files, scratch folders, quick SQL on a
// connection, and (for window tests) finding a window's controls by their object names.
#include "db/connection.h"
#include "db/formats/xls/xls.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

#ifdef QT_WIDGETS_LIB
#include <QApplication>
#endif

namespace testsupport {

// The repository's folder of real sample files made by other people (tests/data). A missing
// folder stops the test program: no test is skipped for want of a sample.
QString testdataDir();
// Full path of a file below the sample folder.
QString sample(const QString& relative);
// The program directory of the build (binaries, working database, user guide).
QString programDir();
// A fresh copy of the generated working database in dir; returns its path.
QString copyWorkDb(const QString& dir);
// Copies a file (and nothing else) into dir; returns the new path.
QString copyInto(const QString& file, const QString& dir);
// Debian's own python3 (not one earlier on PATH), for the independent readers.
QString debianPython();
// Runs a python script with arguments; returns stdout, sets ok.
QByteArray runPython(const QString& script, const QStringList& args, bool* ok,
                     QByteArray* errOut = nullptr);

// Converts files with LibreOffice (headless, a private profile so that runs in parallel do
// not meet) into outDir; format is a --convert-to argument such as "xlsx" or "pdf". True when
// every converted file is there (with filter options, such as a CSV file per sheet, when
// LibreOffice ended without an error: the caller looks for the files).
bool officeConvert(const QStringList& files, const QString& format, const QString& outDir,
                   QByteArray* log = nullptr);
// A workbook as read by xlrd (.xls) or openpyxl (.xlsx): tests/formats/excel_dump.py. Kind
// "xls" or "xlsx"; empty for the file's extension. An empty object when the reader failed.
QJsonObject excelDump(const QString& path, const QString& kind = {});

// Runs SQLite SQL on the connection's handle (not the program's translation); false on failure,
// with the statement and the reason printed.
bool exec(const db::Connection& c, const QString& sql);
// Rows of a table counted by SQLite, -1 when the table does not exist.
int rowsOf(const db::Connection& c, const QString& table);
// Every value of a table as text (null as a null QString), in rowid order, read by SQLite.
QList<QStringList> tableRows(const db::Connection& c, const QString& table);
// One column of it.
QStringList tableColumn(const db::Connection& c, const QString& table, int column);

// A GBK dBase table (FoxPro 2). types gives each field's type, 'C' or 'M' (memo); missing
// letters mean 'C'. widths gives the character fields' widths; missing ones are 40. False when
// it cannot be written.
bool makeDbf(const QString& path, const QStringList& fields, const QList<QStringList>& rows,
             const QString& types = {}, const QList<int>& widths = {});
// The rows of a dBase table as python3-dbf reads them (tests/formats/dbf_dump.py).
QList<QStringList> dbfRows(const QString& path);

// SHA-256 of a file's bytes; empty when it cannot be read.
QByteArray digest(const QString& path);
// The sheet names of a workbook dump (excelDump), in order.
QStringList sheetNames(const QJsonObject& dump);
// The cells a dump must show for rows written to a sheet, [row, col, "s" or "n", value] (empty,
// boolean and error cells left out), and a dumped sheet's cells in that form (its style column
// dropped).
QJsonArray expectedCells(const std::vector<std::vector<formats::xls::Cell>>& rows);
QJsonArray valuesOf(const QJsonObject& sheet);

// Blanks (spaces) off both ends, written for the tests on their own so that an expectation never
// leans on the program's trimming.
QString blankTrimmed(const QString& text);

void setUpEnvironment(); // temporary XDG_CONFIG_HOME, offscreen platform

// A window's control by its object name; the test program stops when it is missing (a control
// that is not there is a failure, never a skipped check).
template <typename T> T* child(const QObject* window, const QString& name) {
    T* found = window->findChild<T*>(name);
    if (!found)
        qFatal("%s has no %s named %s", qPrintable(window->objectName()),
               T::staticMetaObject.className(), qPrintable(name));
    return found;
}

} // namespace testsupport

#ifdef QT_WIDGETS_LIB
#define CHACHONG_TEST_APPLICATION QApplication
#else
#define CHACHONG_TEST_APPLICATION QCoreApplication
#endif

#define CHACHONG_TEST_MAIN(TestObject)                                                             \
    int main(int argc, char** argv) {                                                              \
        testsupport::setUpEnvironment();                                                           \
        CHACHONG_TEST_APPLICATION app(argc, argv);                                                 \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
