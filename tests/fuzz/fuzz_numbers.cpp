// The number reader and FormatFixed: a printed number reads back to within half its last
// decimal; a checked temperature prints and checks back to itself; no text makes any reader fail; the
// G-code reader's number is std::from_chars's.

#include "core/gcode/CommandLines.h"
#include "core/gcode/GCodeWords.h"
#include "core/text/Utility.h"

#include <QLocale>
#include <QString>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString point = QLocale::system().decimalPoint();

    // Any text: the readers give a number or none, and never fail.
    const double read = Utility::TextToNumber(text, 1);
    const double afterKey = Utility::NumberAfterKey(text, QStringLiteral("Z"));
    (void)read;
    (void)afterKey;
    if (const std::optional<double> typed = Utility::TypedNumber(text, point); typed && std::isnan(*typed))
        std::abort();
    if (const std::optional<int> degrees = CommandLines::checkedTemperature(text)) {
        if (*degrees < 0 || *degrees > 999 ||
            CommandLines::checkedTemperature(QString::number(*degrees)) != degrees)
            std::abort();
    }

    // The G-code reader's number is the one std::from_chars reads, and reading goes on after it.
    const QByteArray word = "Z" + QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
    GCodeWords::Reader reader(word.constData(), word.constData() + word.size());
    if (reader.next() && reader.position() == word.constData() + 1) { // the number after the first Z
        const char* start = word.constData() + 1;
        start += *start == '+';
        double plain = 0.0;
        const auto [end, error] =
            std::from_chars(start, word.constData() + word.size(), plain, std::chars_format::fixed);
        const std::optional<double> value = reader.value();
        if (value.has_value() != (error == std::errc()))
            std::abort();
        if (value && (std::memcmp(&*value, &plain, sizeof plain) != 0 || reader.position() != end))
            std::abort();
    }

    // A double from the first bytes, printed with a number of decimals, reads back.
    if (size < 9)
        return 0;
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    const int decimals = data[8] % 10;
    const QString printed = Utility::FormatFixed(value, decimals);
    if (!std::isfinite(value))
        return 0;
    const std::optional<double> back = Utility::TypedNumber(printed, point);
    if (!back)
        std::abort();
    // Half the last decimal, and the spacing of doubles near the value, bound the difference.
    const double tolerance = 0.5 * std::pow(10.0, -decimals) + std::abs(value) * 1e-15;
    if (!(std::abs(*back - value) <= tolerance))
        std::abort();
    if (Utility::TextToNumber(printed, 1) != *back && point == u".")
        std::abort();
    return 0;
}
