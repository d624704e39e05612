#include "navigation/RowScans.h"
