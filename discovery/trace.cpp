#include "discovery/trace.h"

#include "platform/win32.h"

void TraceLine(const std::string& text) {
    OutputDebugStringA(text.c_str());
    OutputDebugStringA("\n");
}
