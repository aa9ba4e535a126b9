#pragma once
// "恢复备份": the backups the separation and the merge left of the check table's file, newest
// first (time, step, records, size), and one of them put back after the user confirms. The file
// as it is now is backed up first, so a restore can itself be undone; the file is closed for the
// restore and opened again after it.
#include <QDialog>

class QTableWidget;

namespace check {

class restoreFm : public QDialog {
    Q_OBJECT
public:
    // The backups of file, in a dialog.
    explicit restoreFm(const QString& file, QWidget* parent = nullptr);
    // The dialog for the check table's file, modal; the user is told instead when no file is
    // open, the table lives in the working database (imported) or has no backup yet.
    static void showRestore();

private:
    void fill();
    void restoreChosen();

    QString file_;
    QTableWidget* list_ = nullptr;
};

} // namespace check
