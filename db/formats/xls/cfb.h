#pragma once
// Compound files (OLE2 structured storage), the container of .xls workbooks: reads the streams
// at the top level of a file held in memory, or its whole tree of storages and streams, and
// writes a file from such a tree (so a workbook can be rewritten with its other streams, macro
// storages and document properties as they were).
//
// The reader checks every sector index against the file and the allocation table and follows
// each chain at most once per sector, so a damaged file ends in an error, never in a loop or a
// read outside the buffer.
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

namespace formats::cfb {

enum class Status {
    Ok,
    NotCompound, // no compound-file signature: some other kind of file
    Truncated,   // a sector the file refers to lies beyond its end
    Corrupt,     // inconsistent tables, chains or directory
    NoStream,    // the stream asked for does not exist
};

struct Node;

class Reader {
public:
    // Checks the header and loads the allocation tables and the directory. The reader keeps a
    // (shared, implicitly copied) reference to data.
    Status open(const QByteArray& data);

    // Names of the streams directly below the root storage, in directory order.
    QStringList streamNames() const;

    // Reads a stream below the root by name (compared without regard to case).
    Status read(const QString& name, QByteArray* out) const;

    // Reads every storage and stream of the file, with their class ids, state bits and times.
    Status readTree(Node* root) const;

private:
    struct Entry {
        QString name;
        int type = 0;
        uint32_t left = 0, right = 0, child = 0;
        uint32_t start = 0;
        uint64_t size = 0;
        QByteArray clsid; // 16 bytes
        uint32_t stateBits = 0;
        QByteArray times; // creation and modification time, 16 bytes as stored
    };

    Status readEntry(const Entry& e, QByteArray* out) const;
    Status readChildren(uint32_t child, std::vector<bool>* seen, Node* parent) const;

    Status chain(const std::vector<uint32_t>& table, uint32_t start, size_t maxLength,
                 std::vector<uint32_t>* out) const;
    Status readSectors(uint32_t start, uint64_t size, QByteArray* out) const;
    Status readMini(uint32_t start, uint64_t size, QByteArray* out) const;

    QByteArray data_;
    int sectorShift_ = 9;
    int miniShift_ = 6;
    uint32_t miniCutoff_ = 4096;
    std::vector<uint32_t> fat_;
    std::vector<uint32_t> miniFat_;
    QByteArray miniStream_;
    std::vector<Entry> entries_;
    std::vector<uint32_t> rootStreams_; // indexes into entries_
};

struct Stream {
    QString name;
    QByteArray data;
};

// One storage (the root is one) or stream of a compound file.
struct Node {
    QString name;
    bool storage = false;
    QByteArray clsid; // storages: 16 bytes, or empty for none
    uint32_t stateBits = 0;
    QByteArray times; // 16 bytes as stored, or empty for none
    QByteArray data;  // streams
    std::vector<Node> children;

    // The stream or storage of that name directly below this one (case ignored), or null.
    Node* child(const QString& childName);
};

// A version 3 compound file (512-byte sectors) holding the streams at its root. Streams
// smaller than 4096 bytes go into the mini stream, as every reader expects.
QByteArray write(const std::vector<Stream>& streams);

// The same for a whole tree; root is the root storage (its name is not used). The siblings of
// each storage form a balanced red-black tree in the format's order of names.
QByteArray write(const Node& root);

} // namespace formats::cfb
