#include "app/windowdirectory.h"

namespace app {

WindowDirectory::~WindowDirectory() = default;

namespace {
WindowDirectory*& registered() {
    static WindowDirectory* directory = nullptr;
    return directory;
}
} // namespace

WindowDirectory& windows() {
    if (WindowDirectory* d = registered()) return *d;
    static WindowDirectory none;
    return none;
}

void setWindows(WindowDirectory* directory) {
    registered() = directory;
}

} // namespace app
