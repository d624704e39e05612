#pragma once

// How a G-code row is read into words, for every reader of commands (the layer index, the print
// events, the print start): one set of character tests and one rule for words and comments.
//
// A row is a command and its words, each a letter (either case) and a number: an optional sign,
// then a digit, or a point and a digit or point ("G1", "g01", "Z-.5", "E+1.2"). The number runs
// over the digits and points that follow; its value is read up to a second point, with no
// exponent, so "1e5" is the number 1 and the word E5. Words may stand glued together
// ("G1Z0.3E1"). Blanks and tabs between them and parenthesised comments ("(lift)", running to the
// row's end when not closed) are skipped; ";" starts a comment to the row's end and "*" a
// checksum, both end the words. A letter without a number and any other byte is no word and is
// skipped. The command is the first word after an optional line number ("N12"), when its number
// is whole (at most nine digits, nothing else) and the next byte ends it ("G1 X1", "G1X1",
// "G1;", not "G1-" or "G29.1").

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// The reader runs over every word of a file while the layer index is built during a drop; inlined
// into each loop, it costs what a loop written for one reader costs.
#if defined(__GNUC__) || defined(__clang__)
#define GCODEWORDS_INLINE [[gnu::always_inline]] inline
#else
#define GCODEWORDS_INLINE inline
#endif

namespace GCodeWords {

constexpr bool isBlank(char c)
{
    return c == ' ' || c == '\t';
}

constexpr bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

constexpr char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

constexpr bool isLetter(char c)
{
    const char u = upper(c);
    return u >= 'A' && u <= 'Z';
}

// Bytes that may stand in a number after its sign: digits and the decimal point.
inline constexpr std::array<bool, 256> kNumberBytes = [] {
    std::array<bool, 256> table{};
    for (int c = '0'; c <= '9'; ++c)
        table[std::size_t(c)] = true;
    table[std::size_t('.')] = true;
    return table;
}();

constexpr bool isNumberByte(char c)
{
    return kNumberBytes[static_cast<unsigned char>(c)];
}

// Where a row's words end: a comment, a checksum or a line break.
constexpr bool endsWords(char c)
{
    return c == ';' || c == '*' || c == '\n' || c == '\r';
}

// Reads the words of one row from p up to end or the first line break. After next() finds a word,
// letter() tells it, and at most one of value(), whole() and text() reads its number; a number not
// read is passed over by the next call of next(), so a reader pays for the numbers it needs only.
class Reader
{
public:
    Reader(const char* p, const char* end) : m_p(p), m_end(end) {}
    explicit Reader(std::string_view row) : Reader(row.data(), row.data() + row.size()) {}

    // Moves to the next word; false at the end of the row's words.
    GCODEWORDS_INLINE bool next()
    {
        if (m_number) {
            m_p = numberEnd();
            m_number = nullptr;
        }
        while (m_p < m_end) {
            const char c = *m_p;
            if (isBlank(c)) {
                ++m_p;
                continue;
            }
            if (endsWords(c))
                return false;
            if (c == '(') {
                skipParenthesised();
                continue;
            }
            ++m_p;
            if (isLetter(c) && startsNumber()) {
                m_letter = upper(c);
                m_number = m_p;
                return true;
            }
        }
        return false;
    }

    // The word's letter, upper case.
    char letter() const { return m_letter; }

    // The word's number; none when it does not fit a double or holds no digit ("..").
    GCODEWORDS_INLINE std::optional<double> value()
    {
        const char* p = m_number;
        if (*p == '+')
            ++p; // std::from_chars takes no "+"
        double number = 0.0;
        if (shortDecimal(p, number))
            return number;
        const auto [end, error] = std::from_chars(p, m_end, number, std::chars_format::fixed);
        if (error != std::errc())
            return std::nullopt;
        // Bytes after a second point are no word and are passed over.
        m_p = end;
        m_number = nullptr;
        return number;
    }

    // The word's number when it is whole: digits only, at most nine.
    std::optional<int> whole()
    {
        const char* p = m_number;
        int number = 0;
        for (; p < m_end && isDigit(*p); ++p) {
            if (p - m_number == 9)
                return std::nullopt;
            number = number * 10 + (*p - '0');
        }
        if (p == m_number || (p < m_end && isNumberByte(*p)))
            return std::nullopt;
        m_p = p;
        m_number = nullptr;
        return number;
    }

    // The word's number as it stands: sign, digits and points.
    std::string_view text()
    {
        const char* const end = numberEnd();
        const std::string_view number(m_number, std::size_t(end - m_number));
        m_p = end;
        m_number = nullptr;
        return number;
    }

    // Whether the byte after the number just read ends the word, rather than running into a sign
    // or another byte that starts no word ("G1-").
    bool atWordBoundary() const
    {
        if (m_p == m_end)
            return true;
        const char c = *m_p;
        return isBlank(c) || endsWords(c) || c == '(' || isLetter(c);
    }

    // Where reading stopped: at the row's end, its line break, ";" or "*", or within the last word.
    const char* position() const { return m_p; }
    // Where the row's bytes end.
    const char* end() const { return m_end; }

private:
    // A number of at most 19 digits, whose digits read as a whole number n fit a double exactly
    // (n <= 2^53) and whose decimals are at most 22: n and 10^decimals are then both exact
    // doubles, so their quotient, rounded once, is the double nearest to the text, as
    // std::from_chars gives it, for a fraction of its cost. Every number a slicer writes is one.
    // False for any other number, which std::from_chars then reads.
    GCODEWORDS_INLINE bool shortDecimal(const char* p, double& number)
    {
        const bool negative = *p == '-';
        p += negative;
        // The whole part, then the decimals: two plain loops, where one with a state for the point
        // costs a pass over a large file a tenth more.
        const char* const whole = p;
        std::uint64_t digits = 0; // wraps past 19 digits, which are then refused below
        for (; p < m_end && isDigit(*p); ++p)
            digits = digits * 10 + std::uint64_t(*p - '0');
        int count = int(p - whole);
        int decimals = 0;
        if (p < m_end && *p == '.') {
            const char* const fraction = ++p;
            for (; p < m_end && isDigit(*p); ++p)
                digits = digits * 10 + std::uint64_t(*p - '0');
            decimals = int(p - fraction);
            count += decimals;
        }
        if (count == 0 || count > 19 || digits > (std::uint64_t(1) << 53) || decimals > 22)
            return false;
        static constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                                  1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
        const double magnitude = double(digits) / kPowersOfTen[decimals];
        number = negative ? -magnitude : magnitude;
        m_p = p;
        m_number = nullptr;
        return true;
    }

    bool startsNumber() const
    {
        const char* p = m_p;
        if (p == m_end)
            return false;
        if (isDigit(*p)) // the common case first
            return true;
        if (*p == '-' || *p == '+') {
            if (++p == m_end)
                return false;
            if (isDigit(*p))
                return true;
        }
        return *p == '.' && p + 1 < m_end && isNumberByte(p[1]);
    }

    const char* numberEnd() const
    {
        const char* p = m_number + 1; // past the sign or the first digit or point
        while (p < m_end && isNumberByte(*p))
            ++p;
        return p;
    }

    void skipParenthesised()
    {
        while (m_p < m_end && *m_p != ')' && *m_p != '\n' && *m_p != '\r')
            ++m_p;
        if (m_p < m_end && *m_p == ')')
            ++m_p;
    }

    const char* m_p;
    const char* m_end;
    const char* m_number = nullptr; // the number of the word found, until it is read or passed
    char m_letter = 0;
};

// Bit n stands for the letter 'A' + n, in the sets of letters below.
constexpr std::uint32_t letterBit(char letter)
{
    return std::uint32_t(1) << (letter - 'A');
}
inline constexpr std::uint32_t kEveryLetter = (std::uint32_t(1) << 26) - 1;

// The words of one row after its command: which letters stand and their numbers. The one record
// every reader of moves and modes fills (Motion::readWords).
struct Words
{
    std::uint32_t present = 0;
    std::array<double, 26> values; // read only where present says

    bool any() const { return present != 0; }
    bool has(char letter) const { return present & letterBit(letter); }
    // A letter's number, where has(letter).
    double value(char letter) const { return values[std::size_t(letter - 'A')]; }
    std::optional<double> operator[](char letter) const
    {
        return has(letter) ? std::optional<double>(value(letter)) : std::nullopt;
    }
    void set(char letter, double number)
    {
        values[std::size_t(letter - 'A')] = number;
        present |= letterBit(letter);
    }

    // Reads the rest of a row's words (its command already read). The letters in numbers have
    // their numbers read, and a number that fits no double is no word; the other letters count
    // by standing there, their numbers passed over unread, which a reader that needs two numbers
    // of a row keeps cheap.
    GCODEWORDS_INLINE void read(Reader& reader, std::uint32_t numbers = kEveryLetter)
    {
        while (reader.next()) {
            const char letter = reader.letter();
            const std::uint32_t bit = letterBit(letter);
            if (numbers & bit) {
                const std::optional<double> number = reader.value();
                if (!number)
                    continue;
                values[std::size_t(letter - 'A')] = *number;
            }
            present |= bit;
        }
    }
};

struct Command
{
    char letter = 0; // 0: the row has no command
    int number = 0;
};

// The row's command, read from reader, which is left just past it for the command's own words.
GCODEWORDS_INLINE Command readCommand(Reader& reader)
{
    if (!reader.next())
        return {};
    if (reader.letter() == 'N' && !reader.next())
        return {};
    const char letter = reader.letter();
    const std::optional<int> number = reader.whole();
    if (!number || !reader.atWordBoundary())
        return {};
    return {letter, *number};
}

inline Command readCommand(std::string_view row)
{
    Reader reader(row);
    return readCommand(reader);
}

} // namespace GCodeWords
