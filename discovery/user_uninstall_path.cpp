#include "discovery/user_uninstall_path.h"

#include "platform/win32.h"

namespace {

// TOKEN_USER followed by the SID it points to, as GetTokenInformation writes
// them; SECURITY_MAX_SID_SIZE bounds every SID, so one call always suffices.
union TokenUserBuffer {
    TOKEN_USER User;
    BYTE Bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
};

}  // namespace

std::string CurrentUserSid() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return {};

    std::string sid;
    TokenUserBuffer buffer;
    DWORD written = 0;
    char* text = nullptr;
    if (GetTokenInformation(token, TokenUser, &buffer, sizeof buffer, &written) &&
        ConvertSidToStringSidA(buffer.User.User.Sid, &text)) {
        sid = text;
        LocalFree(text);
    }
    CloseHandle(token);
    return sid;
}

std::string FindUserUninstallPath() {
    const std::string sid = CurrentUserSid();
    return sid.empty() ? std::string() : sid + UserUninstallSuffix;
}
