#pragma once
// The part of the Access reader that talks to mdbtools, and the guard around it.
//
// mdbtools (libmdb) is C code that trusts the file: a damaged database can make it read out of
// bounds, crash or loop. So mdb.cpp normally runs readAccess() in a forked child process that
// streams what it reads through a pipe; a crash or a hang there becomes an error message in the
// program, never a crash of the program or silently damaged memory. Only the fuzz target turns
// the isolation off, to see libmdb's own faults.
#include <cstdint>
#include <string>
#include <vector>

namespace mdb::detail {

enum class Kind : std::uint8_t {
    Bool,
    Byte,
    Int16,
    Int32,
    Currency,
    Single,
    Double,
    DateTime,
    Text, // size = characters
    Memo,
    Ole,         // long binary, copied as a BLOB
    Binary,      // short binary, copied as a BLOB
    Guid,        // replication id, "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}"
    Decimal,     // precision and scale
    Unsupported, // attachment/multi-value columns and unknown kinds: kept, always NULL
};

struct Column {
    std::string name;
    Kind kind = Kind::Text;
    int size = 0;
    int precision = 0;
    int scale = 0;
};

struct Value {
    enum Type : std::uint8_t { Null, Text, Blob };
    Type type = Null;
    std::string data;
};

// Receives what readAccess() reads; a false return stops the reading.
class Sink {
public:
    virtual ~Sink() = default;
    virtual bool table(const std::string& name, const std::vector<Column>& columns) = 0;
    virtual bool row(const std::vector<Value>& values) = 0;
};

// What readAccess() returns when the sink asked it to stop; the sink knows why.
inline constexpr char kStopped[] = "stopped";

// Checks the start of a file before mdbtools sees it: the Jet/ACE signature, a known version and
// a length that is a whole number of pages. Sets *notAccess when it is no Access file at all.
// Returns an empty string when the file looks sound, else a Chinese error text.
std::string checkFile(const std::string& path, bool* notAccess);

// Reads the user tables of the file through mdbtools in catalogue order; with withRows false
// only the table names and columns. Returns an empty string on success, else a Chinese error
// text. Runs in the current process: call it through the isolation of mdb.cpp.
std::string readAccess(const std::string& path, bool withRows, Sink& sink);

// Whether mdb.cpp runs readAccess() in a child process (the default) or in this process.
void setIsolated(bool isolated);
bool isolated();

// The function the isolation runs: readAccess, unless a test puts in a stand-in that crashes or
// hangs on purpose (nullptr puts readAccess back).
using ReadFunction = std::string (*)(const std::string& path, bool withRows, Sink& sink);
void setReadFunction(ReadFunction f);
ReadFunction readFunction();

// How long the child may stay silent before it counts as hung and is stopped (milliseconds).
void setSilenceTimeout(int ms);
int silenceTimeout();

} // namespace mdb::detail
