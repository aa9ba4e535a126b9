#include "core/run.h"

namespace core {

ProgressSink::~ProgressSink() = default;

Status busyRefusal(const AppState& st) {
    if (st.RunningWork.isEmpty()) return {};
    return QStringLiteral("正在进行“%1”，请等它结束后再操作。").arg(st.RunningWork);
}

CheckMode checkModeOf(const AppState& st) {
    return st.CheckMode == 2   ? CheckMode::Fuzzy
           : st.CheckMode == 3 ? CheckMode::Smart
                               : CheckMode::Exact;
}

void setCheckMode(AppState& st, CheckMode mode) {
    st.CheckMode = mode == CheckMode::Fuzzy ? 2 : mode == CheckMode::Smart ? 3 : 1;
}

PostcodeMode postcodeModeOf(const AppState& st) {
    // Any value but 1 means a postcode field is used.
    return st.PostcodeMode == 1 ? PostcodeMode::Off : PostcodeMode::Field;
}

void setPostcodeMode(AppState& st, PostcodeMode mode) {
    st.PostcodeMode = mode == PostcodeMode::Field ? 2 : 1;
}

SourceKind sourceKindOf(const AppState& st) {
    if (st.SourceType == QLatin1String("mdb")) return SourceKind::Access;
    if (st.SourceType == QLatin1String("dbf")) return SourceKind::Dbase;
    if (st.SourceType == QLatin1String("xls")) return SourceKind::Imported;
    return SourceKind::None;
}

void setSourceKind(AppState& st, SourceKind kind) {
    switch (kind) {
    case SourceKind::Access:
        st.SourceType = QStringLiteral("mdb");
        break;
    case SourceKind::Dbase:
        st.SourceType = QStringLiteral("dbf");
        break;
    case SourceKind::Imported:
        st.SourceType = QStringLiteral("xls");
        break;
    case SourceKind::None:
        st.SourceType.clear();
        break;
    }
}

RunOptions runOptionsOf(const AppState& st, int start, int end) {
    RunOptions o;
    o.mode = checkModeOf(st);
    const int count = std::clamp<int>(st.CheckFieldCount, 0, 5);
    for (int k = 0; k < count; ++k)
        o.fields << st.CheckFields[k];
    o.start = start;
    o.end = end;
    o.postcode = postcodeModeOf(st);
    o.postcodeField = st.PostcodeField;
    o.postcodeDigits = st.PostcodeDigits;
    return o;
}

int parsePosition(const QString& text) {
    qsizetype b = 0, e = text.size();
    while (b < e && text.at(b) == QLatin1Char(' '))
        ++b;
    while (e > b && text.at(e - 1) == QLatin1Char(' '))
        --e;
    if (b == e) return -1;
    qint64 value = 0;
    for (qsizetype i = b; i < e; ++i) {
        const char16_t c = text.at(i).unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (c >= u'０' && c <= u'９') // full-width digits, as a Chinese input method types
            digit = c - u'０';
        else
            return -1;
        value = value * 10 + digit;
        if (value > std::numeric_limits<int>::max()) return -1;
    }
    return int(value);
}

Status checkRange(const QString& startText, const QString& endText, int count, int* start,
                  int* end) {
    const int s = parsePosition(startText);
    const int e = parsePosition(endText);
    if (s < 1)
        return QStringLiteral("查重开始位置“%1”不正确：请输入 1 到 %2 之间的记录号。")
            .arg(startText)
            .arg(count);
    if (e < 1)
        return QStringLiteral("查重终止位置“%1”不正确：请输入 1 到 %2 之间的记录号。")
            .arg(endText)
            .arg(count);
    if (s > count) return QStringLiteral("查重开始位置 %1 超过了记录数 %2。").arg(s).arg(count);
    if (s > e)
        return QStringLiteral("查重开始位置 %1 大于终止位置 %2，没有可查的记录。").arg(s).arg(e);
    *start = s;
    *end = std::min(e, count);
    return {};
}

} // namespace core
