#include "core/text/PathBytes.h"

#include <QDir>
#include <QUrl>

#ifdef Q_OS_UNIX
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace PathBytes {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

bool isEscape(char16_t c)
{
    return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF;
}

bool within(uint byte, uint low, uint high)
{
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence at index, 0 when none starts there: no overlong
// form, no surrogate, nothing past U+10FFFF.
int sequenceLength(QByteArrayView bytes, qsizetype index)
{
    const auto at = [&](qsizetype i) { return i < bytes.size() ? uint(uchar(bytes[i])) : 0u; };
    const uint lead = at(index);
    if (lead < 0x80)
        return 1;
    uint low = 0x80;
    uint high = 0xBF;
    int length = 0;
    if (within(lead, 0xC2, 0xDF)) {
        length = 2;
    } else if (lead == 0xE0) {
        length = 3;
        low = 0xA0;
    } else if (lead == 0xED) {
        length = 3;
        high = 0x9F;
    } else if (within(lead, 0xE1, 0xEF)) {
        length = 3;
    } else if (lead == 0xF0) {
        length = 4;
        low = 0x90;
    } else if (within(lead, 0xF1, 0xF3)) {
        length = 4;
    } else if (lead == 0xF4) {
        length = 4;
        high = 0x8F;
    } else {
        return 0;
    }
    if (!within(at(index + 1), low, high))
        return 0;
    for (int i = 2; i < length; ++i) {
        if (!within(at(index + i), 0x80, 0xBF))
            return 0;
    }
    return length;
}

char32_t codePoint(QByteArrayView bytes, qsizetype index, int length)
{
    static constexpr uint kLeadBits[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t point = uchar(bytes[index]) & kLeadBits[length];
    for (int i = 1; i < length; ++i)
        point = (point << 6) | (uchar(bytes[index + i]) & 0x3F);
    return point;
}

void appendUtf8(QByteArray& bytes, char32_t point)
{
    if (point < 0x80) {
        bytes += char(point);
    } else if (point < 0x800) {
        bytes += char(0xC0 | (point >> 6));
        bytes += char(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        bytes += char(0xE0 | (point >> 12));
        bytes += char(0x80 | ((point >> 6) & 0x3F));
        bytes += char(0x80 | (point & 0x3F));
    } else {
        bytes += char(0xF0 | (point >> 18));
        bytes += char(0x80 | ((point >> 12) & 0x3F));
        bytes += char(0x80 | ((point >> 6) & 0x3F));
        bytes += char(0x80 | (point & 0x3F));
    }
}

// Walks a path: calls onPoint with each code point of its text and onByte with each stray byte.
template <typename OnPoint, typename OnByte> void walk(QStringView path, OnPoint onPoint, OnByte onByte)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t c = path[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
            onPoint(QChar::surrogateToUcs4(c, path[i + 1].unicode()));
            ++i;
        } else if (isEscape(c)) {
            onByte(uchar(c - kEscapeBase));
        } else {
            // A lone surrogate no byte stands for has no UTF-8: the replacement character.
            onPoint(QChar::isSurrogate(c) ? char32_t(QChar::ReplacementCharacter) : char32_t(c));
        }
    }
}

} // namespace

QString fromBytes(QByteArrayView bytes)
{
    QString path;
    path.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const int length = sequenceLength(bytes, i);
        if (length == 0) {
            path += QChar(char16_t(kEscapeBase + uchar(bytes[i])));
            ++i;
            continue;
        }
        const char32_t point = codePoint(bytes, i, length);
        if (QChar::requiresSurrogates(point)) {
            path += QChar(QChar::highSurrogate(point));
            path += QChar(QChar::lowSurrogate(point));
        } else {
            path += QChar(char16_t(point));
        }
        i += length;
    }
    return path;
}

QByteArray toBytes(QStringView path)
{
    QByteArray bytes;
    bytes.reserve(path.size());
    walk(
        path, [&](char32_t point) { appendUtf8(bytes, point); }, [&](uchar byte) { bytes += char(byte); });
    return bytes;
}

bool hasStrayBytes(QStringView path)
{
    bool stray = false;
    walk(
        path, [](char32_t) {}, [&](uchar) { stray = true; });
    return stray;
}

QString shown(QStringView text)
{
    if (!hasStrayBytes(text))
        return text.toString();
    QString shown;
    shown.reserve(text.size() + 8);
    walk(
        text,
        [&](char32_t point) {
            if (QChar::requiresSurrogates(point)) {
                shown += QChar(QChar::highSurrogate(point));
                shown += QChar(QChar::lowSurrogate(point));
            } else {
                shown += QChar(char16_t(point));
            }
        },
        [&](uchar byte) {
            shown += QStringLiteral("\\x") + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
        });
    return shown;
}

QString fromUrl(const QUrl& url)
{
    if (!url.isLocalFile())
        return QString();
#ifdef Q_OS_UNIX
    // A share on another machine keeps the name Qt gives it.
    if (url.host().isEmpty())
        return fromBytes(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
#endif
    return url.toLocalFile();
}

QUrl toUrl(const QString& path)
{
    if (!hasStrayBytes(path))
        return QUrl::fromLocalFile(path);
    return QUrl::fromEncoded("file://" + toBytes(QDir::fromNativeSeparators(path)).toPercentEncoding("/"));
}

QString resolveReplaced(const QString& path)
{
#ifdef Q_OS_UNIX
    const QString generic = QDir::fromNativeSeparators(path);
    if (!generic.contains(QChar::ReplacementCharacter))
        return path;
    const auto exists = [](const QByteArray& bytes) {
        struct stat status
        {
        };
        return ::lstat(bytes.constData(), &status) == 0;
    };
    const QStringList parts = generic.split(u'/');
    QByteArray resolved;
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (i > 0)
            resolved += '/';
        const QByteArray part = toBytes(parts[i]);
        if (!parts[i].contains(QChar::ReplacementCharacter) || exists(resolved + part)) {
            resolved += part;
            continue;
        }
        DIR* folder = ::opendir(resolved.isEmpty() ? "." : resolved.constData());
        if (!folder)
            return path;
        QByteArray match;
        int matches = 0;
        while (const dirent* entry = ::readdir(folder)) {
            // Read as Qt's listing reads it.
            if (QFile::decodeName(entry->d_name) == parts[i]) {
                match = entry->d_name;
                ++matches;
            }
        }
        ::closedir(folder);
        if (matches != 1)
            return path;
        resolved += match;
    }
    return QDir::toNativeSeparators(fromBytes(resolved));
#else
    return path;
#endif
}

QString absolute(const QString& path)
{
    if (path.isEmpty())
        return path;
    QString generic = QDir::fromNativeSeparators(path);
    if (QDir::isRelativePath(generic)) {
#ifdef Q_OS_UNIX
        QByteArray folder(256, Qt::Uninitialized);
        const char* got = nullptr;
        while (!(got = ::getcwd(folder.data(), size_t(folder.size()))) && errno == ERANGE)
            folder.resize(folder.size() * 2);
        generic = (got ? fromBytes(QByteArrayView(got)) : QDir::currentPath()) + u'/' + generic;
#else
        generic = QDir::currentPath() + u'/' + generic;
#endif
    }
    return QDir::toNativeSeparators(QDir::cleanPath(generic));
}

} // namespace PathBytes
