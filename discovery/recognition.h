// Recognising a web browser from an uninstall entry's free-text DisplayName.
#pragma once

#include <iterator>
#include <string>
#include <string_view>

struct RecognitionRow {
    std::string_view Marker;         // bytes searched for anywhere in the display name
    std::string_view CanonicalName;  // what the catalogue calls the browser
};

// Tested in this order, first match wins. The order is deliberate: "Opera"
// and both 360 markers come before "Chrome", so a name that holds one of them
// and "Chrome" as well is the more specific product; only the GBK marker of
// the 360 extreme-speed browser gives "360chrome" (ASCII "360Chrome" is Chrome).
// The Chinese texts are GBK (code page 936) bytes.
inline constexpr RecognitionRow BrowserRecognitionTable[] = {
    {"Opera", "Opera"},
    {"Internet Explorer", "IE"},
    {"Firefox", "Firefox"},
    {"Safari", "Safari"},
    {"Tencent Traveler", "\xCC\xDA\xD1\xB6" "TT"},                            // 腾讯TT
    {"\xCB\xD1\xB9\xB7\xB8\xDF\xCB\xD9\xE4\xAF\xC0\xC0\xC6\xF7", "Sogo"},     // 搜狗高速浏览器
    {"\xB0\xC1\xD3\xCE", "\xB0\xC1\xD3\xCE"},                                 // 傲游, its own name
    {"360\xB0\xB2\xC8\xAB\xE4\xAF\xC0\xC0\xC6\xF7", "360"},                   // 360安全浏览器
    {"360\xBC\xAB\xCB\xD9\xE4\xAF\xC0\xC0\xC6\xF7", "360chrome"},             // 360极速浏览器
    {"Chrome", "Chrome"},
};
static_assert(std::size(BrowserRecognitionTable) == 10, "the recognition table has ten rows");

struct BrowserClassification {
    bool Recognised = false;
    std::string CanonicalName;  // empty when not recognised
};

// Classifies a display name by the first row whose marker occurs in it as a
// plain, case-sensitive byte substring. An empty name is never recognised.
BrowserClassification ClassifyBrowserName(const std::string& displayName);
