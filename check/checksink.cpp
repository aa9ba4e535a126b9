#include "check/checksink.h"

namespace check {

CheckSink::~CheckSink() = default;

QString positionCounter(int position, int count) {
    if (count <= 0) return QStringLiteral("0/0");
    return QString::number(position) + QLatin1Char('/') + QString::number(count);
}

} // namespace check
