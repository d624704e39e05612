#include "core/container/ThreeMF.h"

#include "core/system/ProcessMemory.h"

#include <QCryptographicHash>
#include <QIODevice>

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace ThreeMF {

namespace {

constexpr std::string_view kPlatePrefix = "Metadata/plate_";
constexpr std::string_view kPlateSuffix = ".gcode";
constexpr qsizetype kChunk = 256 * 1024;
// The G-code is deflated here, at zlib's fastest level: on the bench's 85 MB it writes the 3MF in
// 2.0 times the floor (38 % of the text) where zlib's default took 8.6 times (32 %) and libzip's
// own level 9, which it keeps for an entry whose method stays the same, 17.8 times.
constexpr int kLevel = 1;

struct Discard
{
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
using Zip = std::unique_ptr<zip_t, Discard>;

// libzip's error in the user's words.
QString describe(const zip_error_t* error, const QString& entry = QString())
{
    const QString what = entry.isEmpty() ? QStringLiteral("the archive") : QStringLiteral("entry \"%1\"").arg(entry);
    switch (zip_error_code_zip(error)) {
    case ZIP_ER_NOZIP:
        return QStringLiteral("it has no zip directory at its end: it is cut short, or no zip archive");
    case ZIP_ER_INCONS:
        return QStringLiteral("%1 does not match what the zip directory declares: it is damaged or cut short")
            .arg(what);
    case ZIP_ER_CRC:
        return QStringLiteral("the CRC of %1 does not match its bytes: the archive is damaged").arg(what);
    case ZIP_ER_EOF:
    case ZIP_ER_READ:
        return QStringLiteral("%1 is cut short").arg(what);
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return QStringLiteral("the compressed bytes of %1 are damaged").arg(what);
    case ZIP_ER_COMPNOTSUPP:
        return QStringLiteral("%1 uses a compression this program does not know").arg(what);
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
        return QStringLiteral("%1 is encrypted").arg(what);
    case ZIP_ER_MEMORY:
        return QStringLiteral("there is not enough memory to read it");
    default:
        return QStringLiteral("%1 could not be read (%2)").arg(what, QString::fromUtf8(zip_error_strerror(
                                                                            const_cast<zip_error_t*>(error))));
    }
}

Zip open(QByteArrayView file, int flags, QString& problem)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(file.data(), zip_uint64_t(file.size()), 0, &error);
    zip_t* archive = source ? zip_open_from_source(source, flags, &error) : nullptr;
    if (!archive) {
        problem = describe(&error);
        if (source)
            zip_source_free(source);
    }
    zip_error_fini(&error);
    return Zip(archive);
}

// The plate a name holds G-code of ("Metadata/plate_12.gcode" is 12), 0 for none.
int plateOf(std::string_view name)
{
    if (!name.starts_with(kPlatePrefix) || !name.ends_with(kPlateSuffix))
        return 0;
    const std::string_view digits =
        name.substr(kPlatePrefix.size(), name.size() - kPlatePrefix.size() - kPlateSuffix.size());
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return 0;
    int plate = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), plate);
    return error == std::errc() && end == digits.data() + digits.size() ? plate : 0;
}

// Whether a name leaves the folder it is unpacked in: an absolute path ("/x", "\x", "C:x") or a
// ".." among its parts, with "/" or "\" between them.
bool leavesFolder(std::string_view name)
{
    if (name.starts_with('/') || name.starts_with('\\'))
        return true;
    if (name.size() >= 2 && name[1] == ':' && ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z'))
        return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = name.find_first_of("/\\", start);
        if (name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start) == "..")
            return true;
        if (end == std::string_view::npos)
            return false;
        start = end + 1;
    }
}

// Reads entry index through to its declared size: into out when given (room for size bytes),
// otherwise through scratch. Nothing is unpacked past the declared size; a byte more is a
// refusal, and so is a CRC or size that does not match, which libzip checks at the entry's end.
QString readEntry(zip_t* archive, zip_uint64_t index, const QString& name, zip_uint64_t size, char* out,
                  QByteArray& scratch)
{
    zip_file_t* file = zip_fopen_index(archive, index, 0);
    if (!file)
        return describe(zip_get_error(archive), name);
    QString problem;
    zip_uint64_t got = 0;
    while (got < size) {
        const zip_uint64_t want = out ? size - got : std::min<zip_uint64_t>(size - got, zip_uint64_t(scratch.size()));
        const zip_int64_t read = zip_fread(file, out ? out + got : scratch.data(), want);
        if (read < 0) {
            problem = describe(zip_file_get_error(file), name);
            break;
        }
        if (read == 0) {
            problem = QStringLiteral("entry \"%1\" ends after %2 of the %3 bytes it declares")
                          .arg(name)
                          .arg(got)
                          .arg(size);
            break;
        }
        got += zip_uint64_t(read);
    }
    if (problem.isEmpty()) {
        char more = 0;
        const zip_int64_t read = zip_fread(file, &more, 1);
        if (read > 0)
            problem = QStringLiteral("entry \"%1\" unpacks past the %2 bytes it declares; it was stopped there")
                          .arg(name)
                          .arg(size);
        else if (read < 0)
            problem = describe(zip_file_get_error(file), name);
    }
    zip_fclose(file);
    return problem;
}

// Bytes deflated here, handed to libzip as stored bytes it copies as they are, with the size, CRC
// and method they unpack by.
struct Deflated
{
    QByteArray stored;
    zip_uint64_t size = 0;
    zip_uint32_t crc = 0;
    zip_uint64_t at = 0;
};

zip_int64_t deflatedSource(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    auto* deflated = static_cast<Deflated*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN:
        deflated->at = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const zip_uint64_t count = std::min<zip_uint64_t>(length, zip_uint64_t(deflated->stored.size()) - deflated->at);
        std::memcpy(data, deflated->stored.constData() + deflated->at, count);
        deflated->at += count;
        return zip_int64_t(count);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* stat = static_cast<zip_stat_t*>(data);
        zip_stat_init(stat);
        stat->size = deflated->size;
        stat->comp_size = zip_uint64_t(deflated->stored.size());
        stat->comp_method = ZIP_CM_DEFLATE;
        stat->crc = deflated->crc;
        stat->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        if (length < 2 * sizeof(int))
            return -1;
        std::memset(data, 0, 2 * sizeof(int));
        return 2 * sizeof(int);
    case ZIP_SOURCE_FREE:
        delete deflated;
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        return -1;
    }
}

// Raw deflate of bytes (no zlib header), as a zip entry stores them; null when memory ran out.
std::unique_ptr<Deflated> deflate(QByteArrayView bytes)
{
    auto deflated = std::make_unique<Deflated>();
    deflated->size = zip_uint64_t(bytes.size());
    z_stream stream{};
    if (deflateInit2(&stream, kLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return nullptr;
    deflated->stored.resize(qsizetype(deflateBound(&stream, uLong(bytes.size()))));
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = uInt(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(deflated->stored.data());
    stream.avail_out = uInt(deflated->stored.size());
    const int result = ::deflate(&stream, Z_FINISH);
    deflated->stored.resize(qsizetype(stream.total_out));
    deflateEnd(&stream);
    if (result != Z_STREAM_END)
        return nullptr;
    deflated->crc = zip_uint32_t(crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()));
    return deflated;
}

Decoded refuse(const QString& problem, bool tooLarge = false)
{
    Decoded decoded;
    decoded.problem = problem;
    decoded.tooLarge = tooLarge;
    return decoded;
}

QString plateList(const QList<int>& plates)
{
    QStringList numbers;
    for (const int plate : plates)
        numbers.append(QString::number(plate));
    return numbers.join(QStringLiteral(", "));
}

} // namespace

QString gcodeEntryName(int plate)
{
    return QStringLiteral("Metadata/plate_%1.gcode").arg(plate);
}

QByteArray md5Hex(QByteArrayView text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().toUpper();
}

QList<int> plates(QByteArrayView file, QString* problem)
{
    QString opened;
    const Zip archive = open(file, ZIP_RDONLY, opened);
    QList<int> found;
    if (archive) {
        const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
        for (zip_int64_t i = 0; i < entries; ++i) {
            const char* name = zip_get_name(archive.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
            if (const int plate = name ? plateOf(name) : 0; plate > 0 && !found.contains(plate))
                found.append(plate);
        }
        std::sort(found.begin(), found.end());
        if (found.isEmpty())
            opened = QStringLiteral("it holds no G-code plate (no Metadata/plate_N.gcode)");
    }
    if (problem)
        *problem = found.isEmpty() ? opened : QString();
    return found;
}

Decoded decode(QByteArrayView file, int plate, qint64 maxTextBytes, const PlateChooser& choose)
{
    QString problem;
    const Zip archive = open(file, ZIP_RDONLY | ZIP_CHECKCONS, problem);
    if (!archive)
        return refuse(problem);
    Decoded decoded;
    Archive& kept = decoded.archive;
    const zip_int64_t entries = zip_get_num_entries(archive.get(), 0);
    std::vector<zip_stat_t> stats(std::size_t(std::max<zip_int64_t>(entries, 0)));
    // Every entry's name, encryption and compression, before anything is unpacked.
    for (zip_int64_t i = 0; i < entries; ++i) {
        zip_stat_t& stat = stats[std::size_t(i)];
        zip_stat_init(&stat);
        const char* raw = zip_get_name(archive.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!raw || zip_stat_index(archive.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW, &stat) < 0)
            return refuse(describe(zip_get_error(archive.get())));
        const std::string_view name(raw);
        const QString shown = QString::fromUtf8(raw);
        if (leavesFolder(name))
            return refuse(QStringLiteral("entry \"%1\" is named with \"..\" or an absolute path").arg(shown));
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return refuse(QStringLiteral("entry \"%1\" is encrypted").arg(shown));
        if (!(stat.valid & ZIP_STAT_SIZE) || !(stat.valid & ZIP_STAT_COMP_METHOD))
            return refuse(QStringLiteral("entry \"%1\" declares no size or compression").arg(shown));
        if (!zip_compression_method_supported(stat.comp_method, 0))
            return refuse(
                QStringLiteral("entry \"%1\" uses compression method %2, which this program does not know")
                    .arg(shown)
                    .arg(stat.comp_method));
        if (const int number = plateOf(name); number > 0 && !kept.plates.contains(number))
            kept.plates.append(number);
    }
    std::sort(kept.plates.begin(), kept.plates.end());
    if (choose && kept.plates.size() > 1) {
        plate = choose(kept.plates);
        if (plate == 0) {
            Decoded none = refuse(QStringLiteral("no plate was chosen"));
            none.cancelled = true;
            return none;
        }
    }
    for (zip_int64_t i = 0; i < entries && !kept.plates.isEmpty(); ++i) {
        if (plateOf(stats[std::size_t(i)].name) == plate) {
            kept.gcode = {i, stats[std::size_t(i)].comp_method, stats[std::size_t(i)].mtime};
            break;
        }
    }
    if (kept.plates.isEmpty()) {
        Decoded none = refuse(QStringLiteral("it holds no G-code plate (no Metadata/plate_N.gcode)"));
        none.noGCode = true;
        return none;
    }
    if (kept.gcode.index < 0)
        return refuse(QStringLiteral("it has no plate %1 with G-code (its plates: %2)").arg(plate).arg(plateList(kept.plates)));
    kept.plate = plate;
    const QByteArray md5Name = (gcodeEntryName(plate) + QStringLiteral(".md5")).toUtf8();
    if (const zip_int64_t md5 = zip_name_locate(archive.get(), md5Name.constData(), ZIP_FL_ENC_RAW); md5 >= 0)
        kept.md5 = {md5, stats[std::size_t(md5)].comp_method, stats[std::size_t(md5)].mtime};
    for (const Entry* entry : {&kept.gcode, &kept.md5}) {
        if (entry->index >= 0 && !zip_compression_method_supported(entry->method, 1))
            return refuse(QStringLiteral("entry \"%1\" uses compression method %2, which this program cannot write back")
                              .arg(QString::fromUtf8(stats[std::size_t(entry->index)].name))
                              .arg(entry->method));
    }

    // The declared size first, so that nothing is unpacked past the limit or the memory left.
    const zip_stat_t& gcode = stats[std::size_t(kept.gcode.index)];
    const QString gcodeName = QString::fromUtf8(gcode.name);
    if (gcode.size > zip_uint64_t(maxTextBytes))
        return refuse(QStringLiteral("entry \"%1\" declares %2 MB of G-code, over the %3 MB the editor holds")
                          .arg(gcodeName)
                          .arg(gcode.size / 1'000'000)
                          .arg(maxTextBytes / 1'000'000),
                      true);
    if (const qint64 left = ProcessMemory::availableBytes(); left >= 0 && gcode.size > zip_uint64_t(left))
        return refuse(QStringLiteral("entry \"%1\" declares %2 MB of G-code, more than the %3 MB of memory left")
                          .arg(gcodeName)
                          .arg(gcode.size / 1'000'000)
                          .arg(left / 1'000'000),
                      true);
    QByteArray scratch(kChunk, Qt::Uninitialized);
    // Every other entry read through once, so that a damaged one is found before anything is written.
    for (zip_int64_t i = 0; i < entries; ++i) {
        if (i == kept.gcode.index)
            continue;
        const zip_stat_t& stat = stats[std::size_t(i)];
        if (const QString problem = readEntry(archive.get(), zip_uint64_t(i), QString::fromUtf8(stat.name),
                                              stat.size, nullptr, scratch);
            !problem.isEmpty())
            return refuse(problem);
    }
    decoded.text.resize(qsizetype(gcode.size));
    if (const QString problem = readEntry(archive.get(), zip_uint64_t(kept.gcode.index), gcodeName, gcode.size,
                                          decoded.text.data(), scratch);
        !problem.isEmpty())
        return refuse(problem);
    kept.file = file.toByteArray();
    return decoded;
}

bool startsZip(QIODevice& device)
{
    return device.peek(kMagic.size()) == kMagic;
}

Decoded decode(QIODevice& device, int plate, qint64 maxFileBytes, qint64 maxTextBytes, const PlateChooser& choose)
{
    QByteArray file;
    const qint64 known = device.isSequential() ? -1 : device.size() - device.pos();
    const auto tooLarge = [&] {
        return refuse(QStringLiteral("it is over the %1 MB the editor holds").arg(maxFileBytes / 1'000'000), true);
    };
    if (known > maxFileBytes)
        return tooLarge();
    if (known > 0)
        file.reserve(known);
    QByteArray chunk(kChunk, Qt::Uninitialized);
    for (;;) {
        const qint64 got = device.read(chunk.data(), chunk.size());
        if (got < 0)
            return refuse(QStringLiteral("it could not be read (%1)").arg(device.errorString()));
        if (got == 0)
            break;
        if (file.size() + got > maxFileBytes)
            return tooLarge();
        file.append(chunk.constData(), got);
    }
    return decode(file, plate, maxTextBytes, choose);
}

QByteArray encode(const Archive& archive, QByteArrayView text, QString* problem)
{
    const auto fail = [&](const QString& why) {
        if (problem)
            *problem = why;
        return QByteArray();
    };
    zip_error_t error;
    zip_error_init(&error);
    // libzip is handed a copy of its own to free: writing may clone the archive's unchanged start
    // into the new one, which then frees it as its own.
    void* copy = std::malloc(std::size_t(std::max<qsizetype>(archive.file.size(), 1)));
    if (!copy)
        return fail(QStringLiteral("there is not enough memory to write it"));
    std::memcpy(copy, archive.file.constData(), std::size_t(archive.file.size()));
    zip_source_t* source = zip_source_buffer_create(copy, zip_uint64_t(archive.file.size()), 1, &error);
    if (!source)
        std::free(copy);
    zip_t* opened = source ? zip_open_from_source(source, 0, &error) : nullptr;
    if (!opened) {
        const QString why = describe(&error);
        zip_error_fini(&error);
        if (source)
            zip_source_free(source);
        return fail(why);
    }
    zip_error_fini(&error);
    // The source outlives the archive, which writes the new archive into it on closing.
    zip_source_keep(source);
    Zip zip(opened);
    const QByteArray md5 = md5Hex(text);
    const auto replace = [&](const Entry& entry, QByteArrayView bytes) {
        zip_source_t* data = nullptr;
        if (entry.method == ZIP_CM_DEFLATE) {
            std::unique_ptr<Deflated> deflated = deflate(bytes);
            if (!deflated)
                return false;
            data = zip_source_function(zip.get(), deflatedSource, deflated.get());
            if (data)
                deflated.release(); // freed by the source
        } else {
            data = zip_source_buffer(zip.get(), bytes.data(), zip_uint64_t(bytes.size()), 0);
        }
        if (!data)
            return false;
        if (zip_file_replace(zip.get(), zip_uint64_t(entry.index), data, 0) < 0) {
            zip_source_free(data);
            return false;
        }
        return zip_set_file_compression(zip.get(), zip_uint64_t(entry.index), entry.method, 0) == 0 &&
               zip_file_set_mtime(zip.get(), zip_uint64_t(entry.index), entry.time, 0) == 0;
    };
    if (!replace(archive.gcode, text) || (archive.md5.index >= 0 && !replace(archive.md5, md5))) {
        const QString why = describe(zip_get_error(zip.get()));
        zip.reset();
        zip_source_free(source);
        return fail(why);
    }
    if (zip_close(zip.get()) < 0) {
        const QString why = QString::fromUtf8(zip_strerror(zip.get()));
        zip.reset();
        zip_source_free(source);
        return fail(QStringLiteral("the archive could not be put together (%1)").arg(why));
    }
    zip.release(); // closed, and freed by zip_close
    QByteArray out;
    zip_stat_t stat;
    zip_stat_init(&stat);
    bool ok = zip_source_stat(source, &stat) == 0 && (stat.valid & ZIP_STAT_SIZE) && zip_source_open(source) == 0;
    if (ok) {
        out.resize(qsizetype(stat.size));
        ok = zip_source_read(source, out.data(), stat.size) == zip_int64_t(stat.size);
        zip_source_close(source);
    }
    zip_source_free(source);
    if (!ok)
        return fail(QStringLiteral("the archive could not be put together"));
    return out;
}

} // namespace ThreeMF
