#include "core/text/Utility.h"

#include "core/text/PathBytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cstdint>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <string_view>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace Utility {

namespace {

constexpr QChar kSpace(0x0020);
constexpr QChar kIdeographicSpace(0x3000);
constexpr QChar kTab(0x0009);

bool isAsciiDigit(QChar c)
{
    return c >= u'0' && c <= u'9';
}
bool startsNumber(QChar c)
{
    return c == u'+' || c == u'-' || c == u'.' || isAsciiDigit(c);
}

qsizetype countDigits(const QString& s, qsizetype i)
{
    qsizetype n = 0;
    while (i + n < s.size() && isAsciiDigit(s[i + n]))
        ++n;
    return n;
}

void appendAscii(std::string& out, const QString& s, qsizetype i, qsizetype count)
{
    for (qsizetype k = 0; k < count; ++k)
        out += char(s[i + k].unicode());
}

// Reads the longest prefix of s (from i on) that is a decimal number:
// [sign] (digits [. digits] | . digits) [exponent]. Returns 0 when no prefix fits.
double readNumber(const QString& s, qsizetype i, bool allowExponent)
{
    const qsizetype n = s.size();
    bool negative = false;
    if (i < n && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    std::string digits; // the mantissa's digits, without the point
    const qsizetype intDigits = countDigits(s, i);
    appendAscii(digits, s, i, intDigits);
    i += intDigits;
    qsizetype fracDigits = 0;
    if (i < n && s[i] == u'.') {
        fracDigits = countDigits(s, i + 1);
        if (intDigits > 0 || fracDigits > 0) {
            appendAscii(digits, s, i + 1, fracDigits);
            i += 1 + fracDigits;
        }
    }
    if (digits.empty())
        return 0.0;

    // Decimal exponent, saturated: anything beyond this is out of range anyway.
    constexpr long long kExponentLimit = 1'000'000'000;
    long long exponent = 0;
    if (allowExponent && i < n && (s[i] == u'e' || s[i] == u'E')) {
        qsizetype j = i + 1;
        bool negativeExponent = false;
        if (j < n && (s[j] == u'+' || s[j] == u'-'))
            negativeExponent = s[j++] == u'-';
        const qsizetype expDigits = countDigits(s, j);
        for (qsizetype k = 0; k < expDigits; ++k)
            exponent = qMin(kExponentLimit, exponent * 10 + (s[j + k].unicode() - u'0'));
        if (negativeExponent)
            exponent = -exponent;
    }

    // digits × 10^(exponent − fracDigits), handed over in scientific form.
    const std::string ascii = digits + 'e' + std::to_string(exponent - fracDigits);
    double value = 0.0;
    const auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    Q_UNUSED(end);
    if (ec == std::errc::result_out_of_range) {
        // The nearest double is 0 below the range and infinity above it. The number's
        // order of magnitude tells which: the place of its first non-zero digit.
        const std::size_t firstNonZero = digits.find_first_not_of('0');
        if (firstNonZero == std::string::npos)
            return 0.0;
        const long long order = exponent - fracDigits + (long long)(digits.size() - firstNonZero) - 1;
        value = order < 0 ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return negative ? -value : value;
}

} // namespace

int IndexOfText(const QString& text, const QString& sub)
{
    return int(text.indexOf(sub));
}

QString ReplaceFirst(const QString& text, const QString& from, const QString& to)
{
    const int i = IndexOfText(text, from);
    if (i < 0)
        return text;
    QString result = text;
    result.replace(i, from.size(), to);
    return result;
}

QString ReplaceAll(const QString& text, const QString& from, const QString& to)
{
    if (text.isEmpty() || from == to)
        return text;
    if (from.isEmpty() || to.contains(from)) {
        // Replacing until none is left would never end; one pass is the bounded answer.
        QString result = text;
        return result.replace(from, to);
    }
    // An occurrence made by a replacement at i can start no earlier than i - |from| + 1,
    // so the search goes on from there instead of from the beginning.
    QString result = text;
    qsizetype from_i = 0;
    for (;;) {
        const qsizetype i = result.indexOf(from, from_i);
        if (i < 0)
            return result;
        result.replace(i, from.size(), to);
        from_i = qMax<qsizetype>(0, i - from.size() + 1);
    }
}

QString StripBlanks(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c != kSpace && c != kIdeographicSpace && c != kTab)
            result += c;
    }
    return result;
}

QString CopyText(const QString& text, int start, int count)
{
    const int len = int(text.size());
    if (start > len)
        return {};
    if (start < 1)
        start = 1;
    count = qMin(count, len - start + 1);
    if (count <= 0)
        return {};
    return text.mid(start - 1, count);
}

QString MidText(const QString& text, int start, int count)
{
    const int len = int(text.size());
    if (start > len || count < 1)
        return {};
    if (start < 1)
        start = 1;
    return text.mid(start - 1, count);
}

double TextToNumber(const QString& text, int start)
{
    if (text.isEmpty())
        return 0.0;
    const QString part = StripBlanks(CopyText(text, start, int(text.size())));
    if (part.isEmpty())
        return 0.0;
    const QChar first = part.front();
    if (first == u'+' || first == u'-' || first == u'.' || first.isDigit())
        return NumberAfterKey(part, QString());
    return 0.0;
}

double NumberAfterKey(const QString& text, const QString& key)
{
    if (text.isEmpty())
        return 0.0;
    const QString s = StripBlanks(text);
    const int p = key.isEmpty() ? 0 : IndexOfText(s, key) + 1;
    const QString tail = MidText(s, p + int(key.size()), int(s.size()));
    for (qsizetype i = 0; i < tail.size(); ++i) {
        if (startsNumber(tail[i]))
            return readNumber(tail, i, key.isEmpty());
    }
    return 0.0;
}

int TruncateToInt(double value)
{
    if (std::isnan(value))
        return 0;
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    return int(std::trunc(std::clamp(value, lowest, highest)));
}

QString IntToPadded(int value, int width)
{
    width = qMin(width, 9);
    if (width < 1)
        width = 9;
    return QString::asprintf("%0*d", width, value);
}

QString FormatFixed(double value, int decimals)
{
    decimals = qBound(0, decimals, 100);
    if (!std::isfinite(value))
        return QString::number(value);

    // The double's exact decimal digits (it has at most 1074 after the point) tell whether it
    // lies exactly half way; std::to_chars rounds such a value to even, so it is moved off the
    // half, away from zero, first. Any other value std::to_chars rounds once, to nearest.
    constexpr int kExactDecimals = 1074;
    char exact[1500];
    const auto exactEnd =
        std::to_chars(exact, exact + sizeof exact, value, std::chars_format::fixed, kExactDecimals);
    const std::string_view exactText(exact, std::size_t(exactEnd.ptr - exact));
    const std::string_view dropped = exactText.substr(exactText.find('.') + 1 + std::size_t(decimals));
    const bool half = !dropped.empty() && dropped.front() == '5' &&
                      dropped.find_first_not_of('0', 1) == std::string_view::npos;
    const double rounded = half ? std::nextafter(value, std::copysign(HUGE_VAL, value)) : value;

    char buffer[512];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, rounded, std::chars_format::fixed, decimals);
    std::string_view text(buffer, std::size_t(end.ptr - buffer));
    if (text.front() == '-' && text.find_first_not_of("0.", 1) == std::string_view::npos)
        text.remove_prefix(1); // no sign on a zero
    QString result = QString::fromLatin1(text.data(), qsizetype(text.size()));
    if (decimals > 0)
        result.replace(result.indexOf(u'.'), 1, QLocale::system().decimalPoint());
    return result;
}

namespace {

// A typed number as ASCII: an optional sign, digits with at most one "."; none for anything else.
std::optional<std::string> typedDecimal(const QString& text, const QString& decimalPoint)
{
    const QString typed = StripBlanks(text);
    std::string ascii;
    qsizetype i = 0;
    if (!typed.isEmpty() && (typed[0] == u'+' || typed[0] == u'-'))
        ascii += char(typed[i++].unicode());
    bool point = false;
    bool digits = false;
    for (; i < typed.size(); ++i) {
        if (isAsciiDigit(typed[i])) {
            ascii += char(typed[i].unicode());
            digits = true;
        } else if (!point && typed[i] == u'.') {
            ascii += '.';
            point = true;
        } else if (!point && !decimalPoint.isEmpty() && QStringView(typed).mid(i).startsWith(decimalPoint)) {
            ascii += '.';
            point = true;
            i += decimalPoint.size() - 1;
        } else {
            return std::nullopt;
        }
    }
    if (!digits)
        return std::nullopt;
    return ascii;
}

} // namespace

std::optional<double> TypedNumber(const QString& text, const QString& decimalPoint)
{
    if (StripBlanks(text).isEmpty())
        return 0.0;
    const std::optional<std::string> ascii = typedDecimal(text, decimalPoint);
    if (!ascii)
        return std::nullopt;
    // std::from_chars takes no "+".
    const std::size_t skip = ascii->front() == '+' ? 1 : 0;
    double value = 0.0;
    const auto [end, ec] =
        std::from_chars(ascii->data() + skip, ascii->data() + ascii->size(), value, std::chars_format::fixed);
    if (ec != std::errc() || end != ascii->data() + ascii->size())
        return std::nullopt;
    return value;
}

std::optional<std::int64_t> TypedNanometres(const QString& text, const QString& decimalPoint)
{
    if (StripBlanks(text).isEmpty())
        return 0;
    const std::optional<std::string> ascii = typedDecimal(text, decimalPoint);
    if (!ascii)
        return std::nullopt;
    const bool negative = ascii->front() == '-';
    const std::string_view digits =
        std::string_view(*ascii).substr(ascii->front() == '+' || negative ? 1 : 0);
    const std::size_t point = std::min(digits.find('.'), digits.size());
    const std::string_view whole = digits.substr(0, point);
    const std::string_view fraction = digits.substr(std::min(point + 1, digits.size()));
    // Millimetres beyond any printer's reach are all as high as the largest height.
    if (whole.find_first_not_of('0') != std::string_view::npos &&
        whole.size() - whole.find_first_not_of('0') > kMaxHeightDigits)
        return negative ? -kMaxNanometres : kMaxNanometres;
    std::int64_t nanometres = 0;
    for (const char c : whole)
        nanometres = nanometres * 10 + (c - '0');
    for (std::size_t i = 0; i < 6; ++i)
        nanometres = nanometres * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    // Digits past the nanometre round up: a layer is below the typed height exactly when it is
    // below the height rounded up to whole nanometres, as layer heights are whole nanometres.
    const bool beyond = fraction.size() > 6 && fraction.find_first_not_of('0', 6) != std::string_view::npos;
    return negative ? -nanometres : nanometres + (beyond ? 1 : 0);
}

std::int64_t ToNanometres(double millimetres)
{
    if (std::isnan(millimetres))
        return 0;
    const double nanometres = std::round(millimetres * 1e6);
    return std::int64_t(std::clamp(nanometres, double(-kMaxNanometres), double(kMaxNanometres)));
}

double FromNanometres(std::int64_t nanometres)
{
    return double(nanometres) / 1e6;
}

QString DecimalText(double millimetres)
{
    if (!std::isfinite(millimetres) || std::abs(millimetres) * 1e6 >= double(kMaxNanometres)) {
        std::array<char, 400> text{};
        const auto end = std::to_chars(text.data(), text.data() + text.size(), millimetres,
                                       std::chars_format::fixed);
        return end.ec == std::errc() ? QString::fromLatin1(text.data(), end.ptr - text.data())
                                     : QString::number(millimetres);
    }
    const std::int64_t nanometres = ToNanometres(millimetres);
    if (nanometres == 0)
        return QStringLiteral("0");
    const std::uint64_t magnitude = nanometres < 0 ? std::uint64_t(-nanometres) : std::uint64_t(nanometres);
    QString text = QString::number(magnitude / 1'000'000);
    if (std::uint64_t fraction = magnitude % 1'000'000) {
        int digits = 6;
        for (; fraction % 10 == 0; fraction /= 10)
            --digits;
        text += u'.' + QStringLiteral("%1").arg(fraction, digits, 10, QLatin1Char('0'));
    }
    return nanometres < 0 ? u'-' + text : text;
}

double RoundedToNanometres(double millimetres)
{
    if (!std::isfinite(millimetres) || std::abs(millimetres) * 1e6 >= double(kMaxNanometres))
        return millimetres;
    // The decimal's own double: read back from its text, not divided, which can land a unit off.
    return DecimalText(millimetres).toDouble();
}

bool IsDirectory(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status
    {
    };
    return !path.isEmpty() && ::stat(PathBytes::toBytes(path).constData(), &status) == 0 &&
           S_ISDIR(status.st_mode);
#else
    return !path.isEmpty() && QFileInfo(path).isDir();
#endif
}

qint64 FileSize(const QString& path)
{
#ifdef Q_OS_UNIX
    struct stat status
    {
    };
    return !path.isEmpty() && ::stat(PathBytes::toBytes(path).constData(), &status) == 0
               ? qint64(status.st_size)
               : 0;
#else
    return QFileInfo(path).size();
#endif
}

QString SplitPath(const QString& path, QString& drive, QString& directory, QString& name, QString& extension)
{
    constexpr int kMaxPath = 260;
    constexpr int kMaxPart = 255;
    const QString p = path.left(kMaxPath);
    const int driveLength = (p.size() >= 2 && p[1] == u':') ? 2 : 0;
    const QString rest = p.mid(driveLength);
    const qsizetype lastSeparator = qMax(rest.lastIndexOf(u'\\'), rest.lastIndexOf(u'/'));
    const QString lastComponent = rest.mid(lastSeparator + 1);

    drive = p.left(driveLength);
    if (lastComponent == u"." || lastComponent == u"..") {
        directory = rest.left(kMaxPart);
        name.clear();
        extension.clear();
        return path;
    }
    directory = rest.left(lastSeparator + 1).left(kMaxPart);
    const qsizetype dot = lastComponent.lastIndexOf(u'.');
    name = (dot < 0 ? lastComponent : lastComponent.left(dot)).left(kMaxPart);
    extension = (dot < 0 ? QString() : lastComponent.mid(dot)).left(kMaxPart);
    return path;
}

QString BaseName(const QString& path)
{
    QString drive, directory, name, extension;
    SplitPath(path, drive, directory, name, extension);
    return name;
}

QString ExeFolder()
{
    // The whole folder, however long: SplitPath keeps only the first 260 characters of a path.
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath()) + QDir::separator();
}

} // namespace Utility
