#pragma once
// The exact check: records of the check table that agree on every check field form a group;
// every group is copied into ClienttableCC (group number on its first row, a running number on
// every row), the copied records are separated out of the check table, and ClienttableDD takes a
// backup of ClienttableCC.
//
// The engine needs no window: it reads AppState, reports through a CheckSink and asks its
// questions through the dialog service. It keeps the check's meaning and mends its faults:
//  - a group counts as recorded only when ClienttableCC holds a row equal to the seed on every
//    check field (not on the first field alone);
//  - values with apostrophes are compared like any other;
//  - group numbers are 32-bit;
//  - the separation compares whole records column by column and backs up the user's file first.
// Per seed, the engine first asks whether the seed's group is already recorded (an index look-up
// in ClienttableCC) and only then filters the check table (an index look-up too), so a run costs
// about one look-up per record.
#include "app/appstate.h"
#include "check/checksink.h"

namespace check {

struct ExactCheckResult {
    bool ran = false; // false: stopped before the scan (error says why)
    int groups = 0;
    int duplicateRows = 0; // rows written to ClienttableCC
    int separated = 0;
    int remaining = 0;
    bool maintenance = false; // the user chose to go on with maintenance
    QString backupPath;
    QString error;
};

class ExactCheck {
public:
    ExactCheck(app::AppState& state, CheckSink& sink) : state_(state), sink_(sink) {}

    // The whole check: the scan from position start to end (1-based, as the main window's
    // boxes give them), the closing dialogue and the backup into ClienttableDD.
    ExactCheckResult wholeCheck(const QString& startText, const QString& endText);

private:
    void check1(const QString& startText, const QString& endText, ExactCheckResult* result);
    app::AppState& state_;
    CheckSink& sink_;
};

// "Drop Table ClienttableDD" and "Select * Into ClienttableDD From ClienttableCC".
bool backupDuplicates(app::AppState& state, QString* error);

} // namespace check
