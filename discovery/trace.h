// The debugger trace: raw lines, no prefixes, levels or timestamps.
#pragma once

#include <string>

// Writes one trace line as two OutputDebugStringA calls: the text, then "\n"
// (a lone 0x0A, no carriage return). The text ends at its first NUL, if any.
void TraceLine(const std::string& text);
