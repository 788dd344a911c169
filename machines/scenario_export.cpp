#include "machines/scenario_export.h"

#include "discovery/user_uninstall_path.h"
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

namespace {

std::string RootName(ScenarioRoot root, const std::string& userSid) {
    return root == ScenarioRoot::Machine || root == ScenarioRoot::Machine64 ? "HKEY_LOCAL_MACHINE\\"
           : root == ScenarioRoot::Users                                    ? "HKEY_USERS\\"
                                                                            : "HKEY_USERS\\" + userSid + "\\";
}

std::string RegFile(const std::string& text) {
    return "\xFF\xFE" + Utf8ToUtf16Le("Windows Registry Editor Version 5.00\r\n\r\n" + text);
}

}  // namespace

std::string ExportUndoFile(const Scenario& scenario, bool otherView, const std::string& userSid) {
    // A fresh prefix has the machine-wide key, empty, and no per-user one.
    const auto withoutSlash = [](const std::string& path) { return path.substr(0, path.size() - 1); };  // no trailing '\\'
    const std::string machine = "HKEY_LOCAL_MACHINE\\" + withoutSlash(MachineUninstallPath);
    std::string text = "[-" + machine + "]\r\n\r\n[" + machine + "]\r\n\r\n";
    if (otherView) return RegFile(text);
    text += "[-HKEY_USERS\\" + userSid + withoutSlash(UserUninstallSuffix) + "]\r\n\r\n";
    for (const ScenarioKey& key : scenario.Keys) {
        if (key.Root != ScenarioRoot::Users) continue;
        // Another user's hive goes whole; in .Default or the user's own, only the key.
        const std::string hive = key.Path.substr(0, key.Path.find('\\'));
        const bool kept = hive == ".Default" || hive == userSid;
        text += "[-HKEY_USERS\\" + GbkToUtf8(kept ? key.Path : hive) + "]\r\n\r\n";
    }
    return RegFile(text);
}

std::string ExportRegFile(const Scenario& scenario, bool otherView, const std::string& userSid) {
    std::string text;
    for (const ScenarioKey& key : scenario.Keys) {
        if ((key.Root == ScenarioRoot::Machine64) != otherView) continue;
        text += "[" + RootName(key.Root, userSid) + GbkToUtf8(key.Path) + "]\r\n";
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
    return text.empty() ? text : RegFile(text);
}

std::string ExportFiles(const Scenario& scenario) {
    std::string json = "{\"files\": [";
    for (std::size_t i = 0; i < scenario.Files.size(); ++i)
        json += (i > 0 ? ", " : "") + JsonString(GbkToUtf8(scenario.Files[i]));
    return json + "]}\n";
}

}  // namespace machines
