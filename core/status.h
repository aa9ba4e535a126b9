#pragma once
// How every engine says whether something worked: a value that holds, in Chinese, what went
// wrong or why a request is refused, and nothing when it worked. Results that carry more
// (counts, paths, notes) derive from it.
//
//     core::Status s = core::openWorkDatabase(state, path);
//     if (!s.ok()) ui::inform(s.error);
#include <QString>

namespace core {

struct Status {
    Status() = default;
    Status(QString why) : error(std::move(why)) {} // a Status is its text
    QString error;                                 // empty when it worked
    bool ok() const { return error.isEmpty(); }
};

// The status of a failure (an empty why is a failure that says nothing: a fault).
inline Status failure(const QString& why) {
    return {why.isEmpty() ? QStringLiteral("未知错误") : why};
}

} // namespace core
