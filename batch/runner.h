#pragma once
// chachong-batch: the program's open commands, import and checks without windows, for large
// lists and scripts.
//
//   chachong-batch tables FILE
//   chachong-batch dump FILE [TABLE]
//   chachong-batch check FILE [--table NAME] --fields F1[,F2,...] [--start N] [--end N]
//                  [--fuzzy [--postcode FIELD --digits N]]
//                  [--smart [--kinds F1=KIND,...] [--level strict|normal|loose]
//                           [--reasons-csv PATH]]
//                  [--dup-csv PATH] [--rest-csv PATH] [--dup-xls PATH] [--rest-xls PATH]
//                  [--sheet NAME] [--merge-back [--keep-by F1,F2,...]]
//                  [--in-place] [--encoding NAME] [--quiet]
//                  [--report PATH.html|PATH.pdf]
//   chachong-batch --help | --version
//
// The runner drives the same shared state and engines as the windows: a file is opened as the
// menu command of its kind opens it, the table chooser is answered by the table named (or the
// only one), the import runs as the import window runs it, and the check runs the engine the
// main window would start. Unless --in-place is given, check works on private copies of the file
// and of the working database in a temporary folder. --merge-back runs the batch delete of the
// check-control window on the duplicates and merges what is left back into the check table, as
// "数据合并" does; the Excel outputs go through the window's export.
#include "batch/session.h"

#include <QStringList>

#include <cstdio>

namespace batch {

// The usage text printed for a usage error.
QString usage();

// Runs one command line (without the program name). Results go to out, reasons to err; the
// return value is the process exit status. programDir holds the working database.
int run(const QStringList& arguments, const QString& programDir, FILE* out, FILE* err);

} // namespace batch
