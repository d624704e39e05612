#include "insertion/CommandLines.h"
