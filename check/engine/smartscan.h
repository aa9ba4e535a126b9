#pragma once
// 智能查重 as a step of the check job: the check fields of the records options.start..end read,
// each by its kind (options.kinds), matched at options.level (smart::Matcher), and every group
// copied into ClienttableCC as the exact check copies its groups (group number on its first row,
// the record's columns, a running number on every row), with why each row is there written to
// ClienttableWhy. The separation, the backup into ClienttableDD and the closing messages are the
// job's, as for the other checks.
#include "core/run.h"

namespace check {

// The kind code of each field ("name", "address", ...) as its name and a sample of its values
// in the check table say.
QStringList inferredKinds(const core::AppState& state, const QStringList& fields);

// What refuses the kinds and level of a request: a code that is no kind or level, more kinds
// than fields. Empty when they are good.
QString smartSettingsRefusal(const QStringList& kinds, const QString& level, int fields);

core::RunResult smartScan(core::AppState& state, const core::RunOptions& options,
                          core::ProgressSink& sink);

} // namespace check
