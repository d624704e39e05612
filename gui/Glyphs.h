#pragma once

// The pictures on the picture buttons and the application icon, drawn at the sizes
// the buttons were designed for.

#include <QIcon>
#include <QPixmap>

namespace Glyphs {

QPixmap folder();       // 32 x 32: open the output folder
QPixmap keywordBack();  // 18 x 25: previous keyword match (up)
QPixmap keywordGo();    // 18 x 25: next keyword match (down)
QPixmap heightSearch(); // 24 x 22: magnifier
QPixmap goRowNumber();  // 50 x 29: go to the typed row
QIcon applicationIcon();

} // namespace Glyphs
