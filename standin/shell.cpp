// What the user and a debugger see: the shell's start of a program, the
// message box, and the debugger trace.
#include "standin/call_record.h"

#include <algorithm>

namespace standin {
namespace {

std::size_t FindCaseless(const std::string& text, const std::string& part) {
    auto found = std::search(text.begin(), text.end(), part.begin(), part.end(),
                             [](char x, char y) { return FoldAscii(x) == FoldAscii(y); });
    return found == text.end() ? std::string::npos : static_cast<std::size_t>(found - text.begin());
}

}  // namespace

std::string WithoutDoubledBackslashes(const std::string& path) {
    std::string out;
    for (char c : path)
        if (!(c == '\\' && !out.empty() && out.back() == '\\')) out += c;
    return out;
}

std::string ExpandEnvironment(const std::string& path) {
    static const std::pair<std::string, std::string> environment[] = {{"%SystemDrive%", "C:"}};
    std::string expanded = path;
    for (const auto& [reference, value] : environment)
        for (std::size_t at; (at = FindCaseless(expanded, reference)) != std::string::npos;)
            expanded.replace(at, reference.size(), value);
    return expanded;
}

void StandInMachine::AddFile(const std::string& path) { files_.push_back(WithoutDoubledBackslashes(path)); }

bool StandInMachine::HasFile(const std::string& given) const {
    const std::string path = WithoutDoubledBackslashes(ExpandEnvironment(given));
    return std::any_of(files_.begin(), files_.end(), [&](const std::string& f) { return SameKeyName(f, path); });
}

std::vector<std::string> TraceLines(const std::vector<std::string>& debugOutput) {
    std::string all;
    for (const std::string& text : debugOutput) all += text;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(all.substr(start, end - start));
    if (start < all.size()) lines.push_back(all.substr(start));
    return lines;
}

std::vector<std::string> StandInMachine::TraceLines() const { return standin::TraceLines(DebugOutput); }

std::vector<std::string> TraceCalls(const std::vector<std::string>& lines) {
    std::vector<std::string> calls;
    for (const std::string& line : lines) {
        calls.push_back(line);
        calls.push_back("\n");
    }
    return calls;
}

}  // namespace standin

HINSTANCE ShellExecuteA(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory, INT showCommand) {
    standin::CallRecord record("ShellExecuteA", file ? file : "");
    auto text = [](LPCSTR s) { return s ? std::optional<std::string>(s) : std::nullopt; };
    record.Machine.ShellCalls.push_back(
        {owner != nullptr, text(verb), text(file), text(parameters), text(directory), showCommand});
    // As ShellExecute reports it: above 32 when started, 2 when the file is not found.
    const bool started = file != nullptr && record.Machine.HasFile(file);
    return reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(started ? 42 : ERROR_FILE_NOT_FOUND));
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    standin::CallRecord record("MessageBoxA", caption ? caption : "");
    record.Machine.MessageBoxes.push_back({owner != nullptr, text ? text : "", caption ? caption : "", type});
    return IDOK;
}

void OutputDebugStringA(LPCSTR text) {
    standin::CallRecord record("OutputDebugStringA", text ? text : "");
    record.Machine.DebugOutput.push_back(text ? text : "");
}
