// Writing the edited file: "Create", the header option and the folder button.

#include "app/TEditorForBorvane5_Form1.h"

void TEditorForBorvane5_Form1::btnCreateClick() {}

void TEditorForBorvane5_Form1::cboxHeaderClick() {}

void TEditorForBorvane5_Form1::sbtnExplorerOpenClick() {}
