#pragma once

// Scans over the rows of the edit buffer that need no widget.

#include "navigation/RowSource.h"
