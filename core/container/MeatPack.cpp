#include "core/container/MeatPack.h"

#include <array>
#include <cstring>

namespace MeatPack {

namespace {

constexpr char kTable[16] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', '.', ' ', '\n', 'G', 'X', 0};
constexpr unsigned char kWhole = 0xF;
constexpr int kSpaceCode = 11;

// The half-byte of each character that has one; kWhole for the rest.
constexpr std::array<unsigned char, 256> codes()
{
    std::array<unsigned char, 256> table{};
    for (auto& code : table)
        code = kWhole;
    for (int i = 0; i < 15; ++i)
        table[static_cast<unsigned char>(kTable[i])] = static_cast<unsigned char>(i);
    return table;
}
constexpr std::array<unsigned char, 256> kCodes = codes();

// Appends characters, growing out as it fills.
class Output
{
public:
    Output(QByteArray& out, qsizetype expected) : m_out(out), m_start(out.size())
    {
        m_out.resize(m_start + expected + 64);
        m_put = m_out.data() + m_start;
        m_end = m_out.data() + m_out.size();
    }
    ~Output() { m_out.resize(m_put - m_out.data()); }
    void put(char c)
    {
        if (m_put == m_end) {
            const qsizetype used = m_put - m_out.data();
            m_out.resize(used * 2);
            m_put = m_out.data() + used;
            m_end = m_out.data() + m_out.size();
        }
        *m_put++ = c;
    }

private:
    QByteArray& m_out;
    qsizetype m_start;
    char* m_put;
    char* m_end;
};

} // namespace

void Decoder::command(unsigned char c)
{
    switch (c) {
    case 0xFB:
        m_packing = true;
        break;
    case 0xFA:
        m_packing = false;
        break;
    case 0xF9:
        m_packing = false;
        m_noSpaces = false;
        break;
    case 0xF7:
        m_noSpaces = true;
        break;
    case 0xF6:
        m_noSpaces = false;
        break;
    default:
        break;
    }
}

void Decoder::decode(QByteArrayView in, QByteArray& text)
{
    Output out(text, in.size() * 2);
    const auto putOut = [&](char c) {
        if (m_noSpaces && !m_inComment && c >= 'A' && c <= 'Z' && m_last != ' ' && m_last != '\n' &&
            m_last != '\r') {
            out.put(' ');
        }
        if (c == ';')
            m_inComment = true;
        else if (c == '\n')
            m_inComment = false;
        out.put(c);
        m_last = c;
    };
    const auto inner = [&](unsigned char c) {
        if (!m_packing) {
            putOut(char(c));
            return;
        }
        if (m_wholeNext > 0) {
            putOut(char(c));
            if (m_holding) {
                putOut(m_held);
                m_holding = false;
            }
            --m_wholeNext;
            return;
        }
        const unsigned low = c & 0xFu;
        const unsigned high = c >> 4;
        const auto character = [this](unsigned code) {
            return code == kSpaceCode && m_noSpaces ? 'E' : kTable[code];
        };
        if (low == kWhole) {
            m_wholeNext = high == kWhole ? 2 : 1;
            if (high != kWhole) {
                m_held = character(high);
                m_holding = true;
            }
            return;
        }
        const char first = character(low);
        putOut(first);
        if (first == '\n')
            return;
        if (high == kWhole)
            m_wholeNext = 1;
        else
            putOut(character(high));
    };
    for (const char byte : in) {
        const auto c = static_cast<unsigned char>(byte);
        if (c == 0xFF) {
            if (m_oneFF) {
                m_oneFF = false;
                m_commandNext = true;
            } else {
                m_oneFF = true;
            }
            continue;
        }
        if (m_commandNext) {
            m_commandNext = false;
            command(c);
            continue;
        }
        if (m_oneFF) {
            m_oneFF = false;
            inner(0xFF);
        }
        inner(c);
    }
}

QString Decoder::unfinished() const
{
    if (m_commandNext || m_oneFF)
        return QStringLiteral("its packed G-code ends inside a signal");
    if (m_wholeNext > 0)
        return QStringLiteral("its packed G-code ends inside a pair of characters");
    return QString();
}

bool encodeRow(QByteArrayView row, QByteArray& out)
{
    if (row.contains('\xff'))
        return false;
    const qsizetype size = row.size();
    const auto* bytes = reinterpret_cast<const unsigned char*>(row.data());
    qsizetype i = 0;
    for (; i + 1 < size; i += 2) {
        const unsigned char a = kCodes[bytes[i]];
        const unsigned char b = kCodes[bytes[i + 1]];
        out.append(char(a | (b << 4)));
        if (a == kWhole)
            out.append(char(bytes[i]));
        if (b == kWhole)
            out.append(char(bytes[i + 1]));
    }
    if (i < size) {
        if (bytes[i] == '\n') {
            // The high half after an LF is not read; a space's code fills it.
            out.append(char(kCodes['\n'] | (kSpaceCode << 4)));
        } else {
            out.append("\xff\xff\xfa", 3);
            out.append(char(bytes[i]));
        }
    }
    return true;
}

} // namespace MeatPack
