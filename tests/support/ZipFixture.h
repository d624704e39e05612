#pragma once

// Zip archives made and read by hand for the 3MF tests, from the zip format's own layout (PKWARE's
// APPNOTE.TXT, sections 4.3.7 local file header, 4.3.12 central directory header, 4.3.16 end of
// central directory) and zlib's raw deflate: independent of libzip, which the program uses.

#include <QByteArray>
#include <QList>

#include <zlib.h>

namespace ZipFixture {

struct Entry
{
    QByteArray name;
    QByteArray data;         // uncompressed
    int method = 8;          // 0 stored, 8 deflated
    QByteArray extra = {};   // the local header's extra field
    quint16 time = 0x5a21;   // DOS time and date, as written
    quint16 date = 0x5b8b;
};

struct Made
{
    QByteArray bytes;
    QList<qsizetype> local;   // each entry's local header offset
    QList<qsizetype> central; // each entry's central directory header offset
};

inline void put16(QByteArray& out, quint32 value)
{
    out.append(char(value & 0xff));
    out.append(char((value >> 8) & 0xff));
}

inline void put32(QByteArray& out, quint32 value)
{
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

inline quint32 get16(const QByteArray& in, qsizetype at)
{
    return quint32(quint8(in[at])) | quint32(quint8(in[at + 1])) << 8;
}

inline quint32 get32(const QByteArray& in, qsizetype at)
{
    return get16(in, at) | get16(in, at + 2) << 16;
}

inline void set16(QByteArray& in, qsizetype at, quint32 value)
{
    in[at] = char(value & 0xff);
    in[at + 1] = char((value >> 8) & 0xff);
}

inline void set32(QByteArray& in, qsizetype at, quint32 value)
{
    set16(in, at, value & 0xffff);
    set16(in, at + 2, value >> 16);
}

inline quint32 crcOf(const QByteArray& data)
{
    return quint32(crc32(0, reinterpret_cast<const Bytef*>(data.constData()), uInt(data.size())));
}

inline QByteArray deflated(const QByteArray& data)
{
    z_stream stream{};
    deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(int(deflateBound(&stream, uLong(data.size()))), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    return out;
}

inline QByteArray inflated(const QByteArray& data, qsizetype size)
{
    QByteArray out(size, '\0');
    z_stream stream{};
    inflateInit2(&stream, -15);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = uInt(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return result == Z_STREAM_END && qsizetype(stream.total_out) == size ? out : QByteArray("<does not inflate>");
}

// An archive of the entries in their order, without data descriptors, version 2.0.
inline Made make(const QList<Entry>& entries)
{
    Made made;
    QByteArray central;
    for (const Entry& entry : entries) {
        const QByteArray stored = entry.method == 8 ? deflated(entry.data) : entry.data;
        const quint32 crc = crcOf(entry.data);
        made.local.append(made.bytes.size());
        QByteArray& out = made.bytes;
        const qsizetype offset = out.size();
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, 0);
        put16(out, quint32(entry.method));
        put16(out, entry.time);
        put16(out, entry.date);
        put32(out, crc);
        put32(out, quint32(stored.size()));
        put32(out, quint32(entry.data.size()));
        put16(out, quint32(entry.name.size()));
        put16(out, quint32(entry.extra.size()));
        out.append(entry.name).append(entry.extra).append(stored);
        made.central.append(central.size());
        put32(central, 0x02014b50);
        put16(central, 0x0314); // made by version 2.0 on Unix
        put16(central, 20);
        put16(central, 0);
        put16(central, quint32(entry.method));
        put16(central, entry.time);
        put16(central, entry.date);
        put32(central, crc);
        put32(central, quint32(stored.size()));
        put32(central, quint32(entry.data.size()));
        put16(central, quint32(entry.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0100644u << 16);
        put32(central, quint32(offset));
        central.append(entry.name);
    }
    const qsizetype centralStart = made.bytes.size();
    for (qsizetype& offset : made.central)
        offset += centralStart;
    made.bytes.append(central);
    put32(made.bytes, 0x06054b50);
    put16(made.bytes, 0);
    put16(made.bytes, 0);
    put16(made.bytes, quint32(entries.size()));
    put16(made.bytes, quint32(entries.size()));
    put32(made.bytes, quint32(central.size()));
    put32(made.bytes, quint32(centralStart));
    put16(made.bytes, 0);
    return made;
}

// One entry as an archive holds it, read by walking the central directory.
struct Read
{
    QByteArray name;
    int method = 0;
    quint16 flags = 0;
    quint32 crc = 0;
    QByteArray record; // its local header and stored data, as they lie in the archive
    QByteArray stored; // its stored data alone
    QByteArray data;   // uncompressed, or "<does not inflate>"
};

// The entries in central directory order; empty when the archive has no end record.
inline QList<Read> read(const QByteArray& zip)
{
    QList<Read> entries;
    const qsizetype end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (end < 0 || end + 22 > zip.size())
        return entries;
    const quint32 count = get16(zip, end + 10);
    qsizetype at = qsizetype(get32(zip, end + 16));
    for (quint32 i = 0; i < count && at + 46 <= zip.size(); ++i) {
        Read entry;
        entry.flags = quint16(get16(zip, at + 8));
        entry.method = int(get16(zip, at + 10));
        entry.crc = get32(zip, at + 16);
        const quint32 storedSize = get32(zip, at + 20);
        const quint32 size = get32(zip, at + 24);
        const qsizetype nameSize = get16(zip, at + 28);
        const qsizetype rest = nameSize + get16(zip, at + 30) + get16(zip, at + 32);
        entry.name = zip.mid(at + 46, nameSize);
        const qsizetype local = qsizetype(get32(zip, at + 42));
        const qsizetype localHeader = 30 + get16(zip, local + 26) + get16(zip, local + 28);
        entry.record = zip.mid(local, localHeader + storedSize);
        entry.stored = zip.mid(local + localHeader, storedSize);
        entry.data = entry.method == 8 ? inflated(entry.stored, size) : entry.stored;
        entries.append(entry);
        at += 46 + rest;
    }
    return entries;
}

} // namespace ZipFixture
