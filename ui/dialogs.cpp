#include "ui/dialogs.h"

#include "ui/qtdialogs.h"

namespace ui {

DialogService::~DialogService() = default;

std::optional<int> DialogService::choose(const ChoiceOptions& options) {
    return options.current;
}

namespace {
DialogService*& installed() {
    static DialogService* service = nullptr;
    return service;
}
} // namespace

DialogService& dialogs() {
    if (DialogService* s = installed()) return *s;
    static QtDialogs qt;
    return qt;
}

DialogService* setDialogs(DialogService* service) {
    DialogService* before = installed();
    installed() = service;
    return before;
}

void inform(const QString& text, const QString& title, Icon icon) {
    dialogs().message(text, title, icon, Buttons::Ok);
}

bool confirm(const QString& text, const QString& title) {
    return dialogs().message(text, title, Icon::Question, Buttons::OkCancel) != Answer::Cancel;
}

QList<FilterEntry> parseFilter(const QString& filter) {
    QList<FilterEntry> entries;
    const QStringList parts = filter.split(QLatin1Char('|'));
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        FilterEntry e;
        e.description = parts.at(i).trimmed();
        for (const QString& p : parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QString glob = p.trimmed();
            if (!glob.isEmpty()) e.patterns << glob;
        }
        if (e.patterns.isEmpty()) e.patterns << QStringLiteral("*");
        entries << e;
    }
    return entries;
}

} // namespace ui
