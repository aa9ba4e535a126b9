#pragma once
// Compound files (OLE2 structured storage), the container of .xls workbooks: reads the streams
// at the top level of a file held in memory, and writes a file from a few such streams.
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

class Reader {
public:
    // Checks the header and loads the allocation tables and the directory. The reader keeps a
    // (shared, implicitly copied) reference to data.
    Status open(const QByteArray& data);

    // Names of the streams directly below the root storage, in directory order.
    QStringList streamNames() const;

    // Reads a stream below the root by name (compared without regard to case).
    Status read(const QString& name, QByteArray* out) const;

private:
    struct Entry {
        QString name;
        int type = 0;
        uint32_t left = 0, right = 0, child = 0;
        uint32_t start = 0;
        uint64_t size = 0;
    };

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

// A version 3 compound file (512-byte sectors) holding the streams at its root. Streams
// smaller than 4096 bytes go into the mini stream, as every reader expects.
QByteArray write(const std::vector<Stream>& streams);

} // namespace formats::cfb
