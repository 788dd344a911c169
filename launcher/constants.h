// What the launcher looks for and what it opens, compiled in.
#pragma once

#include <iterator>
#include <string_view>

struct LaunchPreference {
    std::string_view CanonicalName;     // as the recognition table names the browser
    std::string_view ExecutableSuffix;  // appended as is to the install location
};

// Tried in this order; the first browser with an install location is started.
// The file names keep their vendors' spelling: "Chrome.exe", "firefox.exe".
inline constexpr LaunchPreference LaunchPreferenceTable[] = {
    {"Chrome", "\\Chrome.exe"},
    {"360", "\\360se.exe"},              // 360 safe browser
    {"360chrome", "\\360chrome.exe"},    // 360 extreme-speed browser
    {"Firefox", "\\firefox.exe"},
};
static_assert(std::size(LaunchPreferenceTable) == 4, "four preferred browsers");

#ifndef KESTLO_LOGIN_PAGE_URL
#error "KESTLO_LOGIN_PAGE_URL must be defined by the build (from the CMake cache variable KESTLO_LOGIN_HOST)"
#endif
// Passed to the browser unchanged, e.g. "http://www.kestlo.com/member/login.jhtml".
inline constexpr char LoginPageUrl[] = KESTLO_LOGIN_PAGE_URL;

// "提示" (Notice), GBK.
inline constexpr char NoBrowserCaption[] = "\xCC\xE1\xCA\xBE";
static_assert(sizeof NoBrowserCaption - 1 == 4, "caption is 4 GBK bytes");

// "您还没有安装可用的浏览器，请先下载360浏览器、谷歌浏览器或者火狐浏览器" (You have not
// installed a usable browser yet; please first download 360 Browser, Google
// Chrome or Firefox), GBK, with the full-width comma A3 AC and enumeration comma A1 A2.
inline constexpr char NoBrowserMessage[] =
    "\xC4\xFA\xBB\xB9\xC3\xBB\xD3\xD0\xB0\xB2\xD7\xB0\xBF\xC9\xD3\xC3\xB5\xC4\xE4\xAF\xC0\xC0\xC6\xF7"  // 您还没有安装可用的浏览器
    "\xA3\xAC"                                                                                          // ，
    "\xC7\xEB\xCF\xC8\xCF\xC2\xD4\xD8"                                                                  // 请先下载
    "360\xE4\xAF\xC0\xC0\xC6\xF7"                                                                       // 360浏览器
    "\xA1\xA2"                                                                                          // 、
    "\xB9\xC8\xB8\xE8\xE4\xAF\xC0\xC0\xC6\xF7"                                                          // 谷歌浏览器
    "\xBB\xF2\xD5\xDF"                                                                                  // 或者
    "\xBB\xF0\xBA\xFC\xE4\xAF\xC0\xC0\xC6\xF7";                                                         // 火狐浏览器
static_assert(sizeof NoBrowserMessage - 1 == 69, "message is 69 GBK bytes");
