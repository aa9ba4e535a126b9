#pragma once
// "恢复备份": the backups the separation, the merge or the export left of the check table's file,
// newest first (time, step, records, size), and one of them put back after the user confirms. The
// file as it is now is backed up first, so a restore can itself be undone; the file is closed for
// the restore and opened again after it.
#include <QDialog>

class QTableWidget;

namespace check {

class restoreFm : public QDialog {
    Q_OBJECT
public:
    // The backups of file, in a dialog; imported: file is a workbook whose data the working
    // database holds, imported again once the backup is back.
    explicit restoreFm(const QString& file, bool imported = false, QWidget* parent = nullptr);
    // The dialog for the check table's file, modal (for an imported workbook, the backups the
    // export made of it); the user is told instead when no file is open, the table lives in the
    // working database (imported) with no backup of its workbook, or has no backup yet.
    static void showRestore();

private:
    void fill();
    void restoreChosen();

    QString file_;
    bool imported_ = false;
    QTableWidget* list_ = nullptr;
};

} // namespace check
