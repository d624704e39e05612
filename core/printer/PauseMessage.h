#pragma once

// A word on the printer's screen while it waits: the line that shows a message, put in just
// before the pause line of a pause block. Every firmware the profiles name shows text sent by M117
// (Marlin, Prusa's firmware, RepRapFirmware; Klipper where a display is configured); the OctoPrint
// host's "@pause" takes no parameters, and OctoPrint sends M117 on to the printer like any other
// line (docs/printers-and-pauses.md cites each).

#include <QString>
#include <QStringList>

namespace PauseMessage {

// Why a message cannot be shown, in the user's words; empty when it can.
QString problem(const QString& message);

// The line that shows message ("M117 Insert the magnets").
QString line(const QString& message);

// lines with the message's line put in before the first line that is pauseLine (at the end when
// none is); nothing else of them changes. Where pauseLine is an M0 or M1, which shows its own text
// while it waits and so hides an M117's, the message becomes that line's text instead
// ("M0 Insert the magnets"). An empty message changes nothing.
QStringList withMessage(QStringList lines, const QString& pauseLine, const QString& message);

// Where the pause line stands in lines that withMessage gave for pauseLine; -1 when nowhere.
qsizetype pauseLineAt(const QStringList& lines, const QString& pauseLine);

} // namespace PauseMessage
