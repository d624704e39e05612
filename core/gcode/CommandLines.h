#pragma once

// The printer command lines that the insertion buttons put into the G-code.

#include <QString>
#include <QStringList>

#include <optional>

namespace CommandLines {

// The pause command.
inline QString pauseLine()
{
    return QStringLiteral("M25");
}

// A typed temperature: the number the text begins with, truncated toward zero and
// clamped to the 32-bit range; 0 when the text holds no number.
int temperatureValue(const QString& text);

// A typed temperature: nullopt unless the text (blanks removed) is a whole number from 0 to 999.
std::optional<int> checkedTemperature(const QString& text);

// The temperature lines of one click, top to bottom: "M140 S<bed> T0", "M104 S<t0> T0",
// "M104 S<t1> T1", each only when its text is not empty once spaces are removed.
QStringList temperatureLines(const QString& t0, const QString& t1, const QString& bed);

// The three temperature fields of one press, T0, T1 and Bed, checked together.
enum class TemperatureField { T0, T1, Bed };
struct TemperatureCheck
{
    QStringList lines;                     // the press's lines when every field is blank or fits
    std::optional<TemperatureField> wrong; // the first field that is neither blank nor 0 to 999
};
// A field that is blank once blanks are removed gives no line; any other must pass checkedTemperature.
TemperatureCheck checkTemperatures(const QString& t0, const QString& t1, const QString& bed);

} // namespace CommandLines
