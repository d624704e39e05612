#include "core/gcode/PauseMessage.h"

namespace PauseMessage {

QString problem(const QString& message)
{
    if (message.trimmed().isEmpty())
        return QStringLiteral("The message is empty.");
    for (const QChar c : message) {
        if (c == u'\n' || c == u'\r')
            return QStringLiteral("The message holds a line break: a G-code line ends there, and the rest "
                                  "would be read as a command. Give one line.");
        if (c == u';')
            return QStringLiteral("The message holds a \";\": firmwares read the rest of the line as a "
                                  "comment and would not show it.");
        if (c == u'*')
            return QStringLiteral("The message holds a \"*\": a host sending the file reads it as the start "
                                  "of a checksum.");
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return QStringLiteral("The message holds \"%1\" (U+%2): a printer's screen shows the printable "
                                  "ASCII characters only.")
                .arg(c.unicode() < 0x20 ? QString() : QString(c))
                .arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return {};
}

QString line(const QString& message)
{
    return QStringLiteral("M117 ") + message.trimmed();
}

QStringList withMessage(QStringList lines, const QString& pauseLine, const QString& message)
{
    if (message.trimmed().isEmpty())
        return lines;
    qsizetype at = lines.indexOf(pauseLine);
    if (at < 0)
        at = lines.size();
    lines.insert(at, line(message));
    return lines;
}

} // namespace PauseMessage
