#pragma once
// The code page of a dBase table that declares none (language-driver byte 0, no .cpg file):
// what the program guesses from its text, what the user chose for the file before, and a
// preview of its values in each code page offered. "打开DBF数据" and "导入DBF数据" let the user
// confirm or change it (import/commands.cpp); the runner takes --encoding, else the choice
// remembered for the file, else the guess (openDbf in sources.h does that when SourceCodePage
// is empty).
//
// Code pages are named as SourceCodePage and the connection strings carry them: "936" (GBK),
// "950" (Big5), "UTF-8", "1252", "850", ...
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace sources {

struct DbfCodePageInfo {
    // The table declares no code page and holds text above ASCII: the code page matters.
    // (A table of plain ASCII reads alike in every one; it stays GBK, as ever.)
    bool undeclared = false;
    QString guessed;                 // the guessed code page's name
    QString remembered;              // the user's earlier choice for this file; empty: none
    std::vector<QByteArray> samples; // the raw text the guess read: names, then values
};

// Reads the table's header and the start of its records. A table that cannot be read is not
// undeclared (its open says what is wrong with it).
DbfCodePageInfo inspectDbfCodePage(const QString& path);

// The code pages the user is offered, by name, in order.
QStringList dbfCodePageNames();
// The name as the list shows it: "GBK（简体中文，936）", "UTF-8（Unicode）", ...
QString dbfCodePageLabel(const QString& name);
// Up to count different texts of the samples as the code page reads them.
QStringList previewInCodePage(const std::vector<QByteArray>& samples, const QString& name,
                              int count = 6);

// The choice the user made for a table: kept per user in the settings store (application
// "DbfCodePage"), per absolute file path, with the file's size and a digest of its start. A
// file found under no path it was chosen for, but with the same size and start (the runner's
// private copy of it), takes the choice too. Empty when there is none.
QString rememberedDbfCodePage(const QString& path);
// False when the settings store cannot be written.
bool rememberDbfCodePage(const QString& path, const QString& name);

} // namespace sources
