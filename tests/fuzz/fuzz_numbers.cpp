// The number reader and FormatFixed: a printed number reads back to within half its last
// decimal; a checked temperature prints and checks back to itself; no text makes any reader fail.

#include "core/gcode/CommandLines.h"
#include "core/text/Utility.h"

#include <QLocale>
#include <QString>

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
