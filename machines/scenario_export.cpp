#include "machines/scenario_export.h"

#include "launcher/constants.h"

#include <cstdio>

namespace machines {
namespace {

std::string Hex(const std::string& bytes, const char* separator) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(bytes[i]));
        if (i > 0) out += separator;
        out += digits;
    }
    return out;
}

// The .reg file is put together in UTF-8, never in GBK: a GBK character's
// second byte may be '\\' or '"', which must not be escaped.
std::string RegQuoted(const std::string& gbk) {
    std::string out = "\"";
    for (const char c : GbkToUtf8(gbk)) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

bool IsText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

}  // namespace

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[7];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string ExportRegFile(const Scenario& scenario, bool sixtyFourBitView, const std::string& userSid) {
    std::string text;
    for (const ScenarioKey& key : scenario.Keys) {
        if ((key.Root == ScenarioRoot::Machine64) != sixtyFourBitView) continue;
        const std::string root = key.Root == ScenarioRoot::Machine || key.Root == ScenarioRoot::Machine64
                                     ? "HKEY_LOCAL_MACHINE\\"
                                 : key.Root == ScenarioRoot::Users ? "HKEY_USERS\\"
                                                                   : "HKEY_USERS\\" + userSid + "\\";
        text += "[" + root + GbkToUtf8(key.Path) + "]\r\n";
        for (const ScenarioValue& value : key.Values) {
            // hex(N): the type as it is, whatever its number; text types in
            // UTF-16, as the registry keeps them.
            char type[16];
            std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.Type));
            const std::string data = IsText(value.Type) ? GbkToUtf16Le(value.Data) : value.Data;
            text += RegQuoted(value.Name) + "=" + type + Hex(data, ",") + "\r\n";
        }
        text += "\r\n";
    }
    if (text.empty()) return text;
    return "\xFF\xFE" + Utf8ToUtf16Le("Windows Registry Editor Version 5.00\r\n\r\n" + text);
}

std::string ExportFiles(const Scenario& scenario, bool userUninstallKey) {
    std::string json = "{\"files\": [";
    for (std::size_t i = 0; i < scenario.Files.size(); ++i)
        json += (i > 0 ? ", " : "") + JsonString(GbkToUtf8(scenario.Files[i]));
    return json + "], \"sixty_four_bit\": " + (IsSixtyFourBit(scenario) ? "true" : "false") +
           ", \"user_uninstall_key\": " + (userUninstallKey ? "true" : "false") + "}\n";
}

}  // namespace machines
