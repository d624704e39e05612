#include "core/printer/PauseMessage.h"

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

// Marlin's and Prusa's M0/M1 show the text that follows the command while they wait, and without
// one they show a "click to resume" text of their own: either way the status line an M117 set is
// replaced until the wait ends (Marlin's gcode/lcd/M0_M1.cpp sets the status to the command's
// text, or to MSG_USERWAIT). So a message goes into such a line as its text.
static bool showsItsOwnText(const QString& pauseLine)
{
    const QString command = pauseLine.trimmed().section(u' ', 0, 0).toUpper();
    return command == u"M0" || command == u"M00" || command == u"M1" || command == u"M01";
}

QStringList withMessage(QStringList lines, const QString& pauseLine, const QString& message)
{
    if (message.trimmed().isEmpty())
        return lines;
    qsizetype at = lines.indexOf(pauseLine);
    if (at >= 0 && showsItsOwnText(pauseLine)) {
        lines[at] = pauseLine.trimmed().section(u' ', 0, 0) + u' ' + message.trimmed();
        return lines;
    }
    if (at < 0)
        at = lines.size();
    lines.insert(at, line(message));
    return lines;
}

qsizetype pauseLineAt(const QStringList& lines, const QString& pauseLine)
{
    const qsizetype at = lines.indexOf(pauseLine);
    if (at >= 0 || !showsItsOwnText(pauseLine))
        return at;
    const QString command = pauseLine.trimmed().section(u' ', 0, 0);
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].section(u' ', 0, 0).compare(command, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace PauseMessage
