#include "ui/gridwidths.h"

#include <QSettings>

namespace ui {

QString gridWidthsApplication() {
    return QStringLiteral("GridColWidth");
}

QString settingsName(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'%':
            out += QLatin1String("%25");
            break;
        case u'/':
            out += QLatin1String("%2F");
            break;
        case u'\\':
            out += QLatin1String("%5C");
            break;
        case u'=':
            out += QLatin1String("%3D");
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool saveColumnWidth(core::AppState& st, GridSection grid, const QString& heading, int width) {
    QString& section = grid == GridSection::Source ? st.SourceGridSection : st.WorkGridSection;
    section = grid == GridSection::Source ? st.SourcePath : st.WorkDbPath;
    if (section.isEmpty() || heading.isEmpty()) return false;
    QSettings settings(gridWidthsApplication());
    settings.beginGroup(settingsName(section));
    settings.setValue(settingsName(heading), QString::number(width));
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace ui
