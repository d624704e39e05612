#pragma once

// The printer command lines that the insertion buttons put into the G-code.
