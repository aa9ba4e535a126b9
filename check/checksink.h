#pragma once
// What a check engine tells the window it runs in: progress, counters, and the window moves at
// its end. The check-run window implements it; tests and the batch runner use their own.
#include <QString>

namespace check {

class CheckSink {
public:
    virtual ~CheckSink();

    // Called often (per record); an implementation shows the values and lets the event loop run
    // at most every few tens of milliseconds.
    virtual void scanProgress(int position, int groups) {}
    virtual void separationProgress(int remaining) {}
    // The run window's boxes: Text5, Text7, Text8, Text9, and the main window's Text1.
    virtual void showScanPosition(const QString& text) {}
    virtual void showCheckTableCounter(const QString& text) {}
    virtual void showGroups(int groups) {}
    virtual void showDupCounter(const QString& text) {}
    virtual void showMainCounter(const QString& text) {}
    // The wait panel "正在分离重复记录，请等待...".
    virtual void showSeparationPanel(bool visible) {}
    virtual void setBusy(bool busy) {}
    // Window moves at the end of a run.
    virtual void hideMainWindow() {}
    virtual void showMainWindow() {}
    virtual void closeRunWindow() {}
    virtual bool openMaintenance() { return false; }
};

// "position/count" of a recordset, "0/0" when it is empty.
QString positionCounter(int position, int count);

} // namespace check
