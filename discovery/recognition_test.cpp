#include "discovery/recognition.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    std::string DisplayName;
    std::string Expected;  // empty: not recognised
};

// GBK bytes, written out independently of the table.
const std::string SafeBrowser360 = "360\xB0\xB2\xC8\xAB\xE4\xAF\xC0\xC0\xC6\xF7";
const std::string ExtremeBrowser360 = "360\xBC\xAB\xCB\xD9\xE4\xAF\xC0\xC0\xC6\xF7";

TEST(ClassifyBrowserName, FirstMatchingRowDecides) {
    const Case cases[] = {
        {"Google Chrome", "Chrome"},
        {"Portable Google Chrome Dev", "Chrome"},
        {"Mozilla Firefox 118.0.1 (x86 zh-CN)", "Firefox"},
        {"Opera Stable 103.0 (Chrome engine)", "Opera"},
        {"Windows Internet Explorer 8", "IE"},
        {"Safari", "Safari"},
        {"Tencent Traveler 4.8", "\xCC\xDA\xD1\xB6TT"},
        {"\xCB\xD1\xB9\xB7\xB8\xDF\xCB\xD9\xE4\xAF\xC0\xC0\xC6\xF7 10.0", "Sogo"},
        {"\xB0\xC1\xD3\xCE\xE4\xAF\xC0\xC0\xC6\xF7 5", "\xB0\xC1\xD3\xCE"},
        {SafeBrowser360 + " 13.1", "360"},
        {ExtremeBrowser360, "360chrome"},
        {ExtremeBrowser360 + " (Chrome)", "360chrome"},  // 360 rows come before Chrome
        {"Firefox with Chrome theme", "Firefox"},
        {"Internet Explorer with Safari bookmarks", "IE"},
        {"Safari for Internet Explorer users", "IE"},  // where the markers stand in the name does not matter
        {"Opera importer for Internet Explorer", "Opera"},
        {"Firefox Safari Chrome", "Firefox"},
        {"Opera Firefox", "Opera"},
        {"360Chrome", "Chrome"},  // ASCII only: not the GBK marker
        {"google chrome", ""},    // case-sensitive
        {"\xCC\xDA\xD1\xB6TT", ""},  // the canonical name is not a marker
        {"360", ""},
        {"Microsoft Edge", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        const BrowserClassification result = ClassifyBrowserName(c.DisplayName);
        EXPECT_EQ(result.Recognised, !c.Expected.empty()) << "display name: " << c.DisplayName;
        EXPECT_EQ(result.CanonicalName, c.Expected) << "display name: " << c.DisplayName;
    }
}

TEST(ClassifyBrowserName, ChineseNamesAreRecognisedByTheirExactGbkBytes) {
    // Each marker written out byte by byte here, apart from the table, and
    // one byte off it: only the exact bytes are recognised.
    const struct {
        std::string Marker, Expected;
    } markers[] = {
        {"Tencent Traveler", std::string("\xCC\xDA\xD1\xB6\x54\x54", 6)},                          // 腾讯TT
        {std::string("\xCB\xD1\xB9\xB7\xB8\xDF\xCB\xD9\xE4\xAF\xC0\xC0\xC6\xF7", 14), "Sogo"},  // 搜狗高速浏览器
        {std::string("\xB0\xC1\xD3\xCE", 4), std::string("\xB0\xC1\xD3\xCE", 4)},                  // 傲游
        {std::string("\x33\x36\x30\xB0\xB2\xC8\xAB\xE4\xAF\xC0\xC0\xC6\xF7", 13), "360"},       // 360安全浏览器
        {std::string("\x33\x36\x30\xBC\xAB\xCB\xD9\xE4\xAF\xC0\xC0\xC6\xF7", 13), "360chrome"}, // 360极速浏览器
    };
    for (const auto& m : markers) {
        EXPECT_EQ(ClassifyBrowserName("x " + m.Marker + " 1.0").CanonicalName, m.Expected) << m.Marker;
        std::string offByOne = m.Marker;
        offByOne.back() = static_cast<char>(offByOne.back() + 1);
        EXPECT_FALSE(ClassifyBrowserName(offByOne).Recognised) << offByOne;
    }
}

}  // namespace
