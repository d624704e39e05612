#include "core/gcode/CommandLines.h"

#include "core/text/Utility.h"

namespace CommandLines {

int temperatureValue(const QString& text)
{
    return Utility::TruncateToInt(Utility::TextToNumber(text, 1));
}

std::optional<int> checkedTemperature(const QString& text)
{
    const QString digits = Utility::StripBlanks(text);
    if (digits.isEmpty())
        return std::nullopt;
    int value = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
        if (value > 999)
            return std::nullopt;
    }
    return value;
}

QStringList temperatureLines(const QString& t0, const QString& t1, const QString& bed)
{
    const QString space = QStringLiteral(" ");
    const QString t0Text = Utility::ReplaceAll(t0, space, QString());
    const QString t1Text = Utility::ReplaceAll(t1, space, QString());
    const QString bedText = Utility::ReplaceAll(bed, space, QString());

    auto line = [](const char* command, const QString& text, const char* tool) {
        return QLatin1String(command) + Utility::IntToPadded(temperatureValue(text), 1) + QLatin1String(tool);
    };
    QStringList lines;
    if (!bedText.isEmpty())
        lines << line("M140 S", bedText, " T0");
    if (!t0Text.isEmpty())
        lines << line("M104 S", t0Text, " T0");
    if (!t1Text.isEmpty())
        lines << line("M104 S", t1Text, " T1");
    return lines;
}

TemperatureCheck checkTemperatures(const QString& t0, const QString& t1, const QString& bed)
{
    TemperatureCheck check;
    QString canonical[3];
    const QString* fields[] = {&t0, &t1, &bed};
    for (int i = 0; i < 3; ++i) {
        if (Utility::StripBlanks(*fields[i]).isEmpty())
            continue;
        const std::optional<int> value = checkedTemperature(*fields[i]);
        if (!value) {
            check.wrong = TemperatureField(i);
            return check;
        }
        canonical[i] = QString::number(*value);
    }
    check.lines = temperatureLines(canonical[0], canonical[1], canonical[2]);
    return check;
}

} // namespace CommandLines
