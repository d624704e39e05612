#pragma once

// Text, number and path helpers shared by every handler. They keep no state,
// never fail and never show anything: a missing number reads as 0, an
// out-of-range position gives the empty text.

#include <QString>

#include <cstdint>
#include <optional>

namespace Utility {

// 0-based position of the first occurrence of sub, -1 when absent; the empty sub is at 0.
int IndexOfText(const QString& text, const QString& sub);
QString ReplaceFirst(const QString& text, const QString& from, const QString& to);
// Replaces until no occurrence is left, so occurrences made by a replacement go too.
QString ReplaceAll(const QString& text, const QString& from, const QString& to);
// Removes spaces, ideographic spaces and tabs.
QString StripBlanks(const QString& text);
// At most count characters from the 1-based start; a start below 1 counts as 1.
QString CopyText(const QString& text, int start, int count);
QString MidText(const QString& text, int start, int count);

// The number a typed text begins with (blanks ignored), read from the 1-based start; 0 when none.
double TextToNumber(const QString& text, int start);
// The number after the first occurrence of key in text (blanks removed first); 0 when none.
// After a non-empty key no exponent is read, so "G1 Z0.3 E1.2" gives 0.3.
double NumberAfterKey(const QString& text, const QString& key);
// A read number as an integer: truncated toward zero, clamped to the 32-bit range.
int TruncateToInt(double value);
// Decimal text zero-padded to width (1 to 8); any other width pads to 9.
QString IntToPadded(int value, int width);
// Fixed-point text with the user's decimal separator: the exact value of the double rounded
// once to the decimals, an exact half away from zero.
QString FormatFixed(double value, int decimals);
// A number typed into a field: blanks removed, an optional sign, digits with at most one
// decimal separator (decimalPoint or "."). A blank field reads 0; any other text nullopt.
std::optional<double> TypedNumber(const QString& text, const QString& decimalPoint);

// Heights compared exactly, as whole nanometres: 0.2 + 3.2 is then 3.4, which in doubles it is not.
// Heights beyond 10^12 mm either way all count as the largest.
constexpr int kMaxHeightDigits = 12;
constexpr std::int64_t kMaxNanometres = 1'000'000'000'000'000'000;
// A height typed as TypedNumber reads it, taken as an exact decimal in nanometres: digits past the
// sixth decimal round up, so that whether a height in whole nanometres lies below it stays exact.
std::optional<std::int64_t> TypedNanometres(const QString& text, const QString& decimalPoint);
// The whole nanometres nearest to millimetres: the exact height of a Z with up to six decimals.
std::int64_t ToNanometres(double millimetres);
double FromNanometres(std::int64_t nanometres);
// A length, an amount or a feed as G-code and the reports write it, computed as the exact decimal
// the file would hold: its whole nanometres (as heights are compared) as a decimal with a ".", no
// trailing zeros and no "-0". A sum of doubles such as 1.65814 - 0.8 + 0.8 is 1.6581400000000002;
// its text is "1.65814". Beyond the nanometres' range, the double's shortest text.
QString DecimalText(double millimetres);
// The double nearest that decimal, for a report that prints doubles by their shortest text
// (JSON): 100.00000000000146 becomes 100.
double RoundedToNanometres(double millimetres);

// Whether path (its bytes as PathBytes carries them) names a folder, or a link to one.
bool IsDirectory(const QString& path);
// The size of the file at path (its bytes as PathBytes carries them), 0 when there is none.
qint64 FileSize(const QString& path);
// Splits into drive ("C:"), directory (up to the last "\" or "/"), name and extension.
QString SplitPath(const QString& path, QString& drive, QString& directory, QString& name, QString& extension);
QString BaseName(const QString& path);
// The program's folder, ending with the native separator.
QString ExeFolder();

} // namespace Utility
