// Inserting the pause line and the temperature lines at the current row.

#include "app/TEditorForBorvane5_Form1.h"

void TEditorForBorvane5_Form1::btnPauseClick() {}

void TEditorForBorvane5_Form1::TemperarureInsertClick() {}
