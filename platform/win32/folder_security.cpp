// The protection of a new extraction folder, made from the process's token.
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/win32/internal.h"

namespace {

// The SID of the process's user as SDDL text, and whether its token may make BUILTIN\Administrators
// the owner of what it creates (an elevated administrator's token may; a standard user's may not).
bool DescribeToken(std::wstring* user, bool* administratorsOwn) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    alignas(TOKEN_USER) BYTE userBuffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    DWORD size = 0;
    bool known = GetTokenInformation(token, TokenUser, userBuffer, sizeof(userBuffer), &size);
    *administratorsOwn = false;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> groupBuffer(size + sizeof(TOKEN_GROUPS));
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    if (known &&
        GetTokenInformation(token, TokenGroups, groupBuffer.data(),
                            static_cast<DWORD>(groupBuffer.size()), &size) &&
        CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) {
        const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(groupBuffer.data());
        for (DWORD i = 0; i < groups->GroupCount; ++i) {
            if (EqualSid(groups->Groups[i].Sid, administrators) &&
                (groups->Groups[i].Attributes & SE_GROUP_OWNER) != 0) {
                *administratorsOwn = true;
            }
        }
    }
    CloseHandle(token);
    LPWSTR sid = nullptr;
    if (!known ||
        !ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, &sid)) {
        return false;
    }
    *user = sid;
    LocalFree(sid);
    return true;
}

// The new folder's protection, inherited by everything made inside: a protected DACL (nothing
// inherited from the temporary directory) with full control for Administrators and SYSTEM, and
// read and execute for OWNER RIGHTS, so that owning a file gives no right to change its DACL.
// With an administrator's token, Administrators own the folder and the user may read and run
// only; without one the user owns it and needs full control to unpack, and no elevation has to be
// guarded.
PSECURITY_DESCRIPTOR NewFolderSecurity() {
    std::wstring user;
    bool administratorsOwn = false;
    if (!DescribeToken(&user, &administratorsOwn)) return nullptr;
    const std::wstring text = (administratorsOwn ? L"O:BA" : L"O:" + user) +
                              L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;" +
                              (administratorsOwn ? L"FRFX" : L"FA") + L";;;" + user +
                              L")(A;OICI;FRFX;;;OW)";
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                              &security, nullptr)) {
        return nullptr;
    }
    return security;
}

}  // namespace

// Made once and kept for the run (the process's token does not change); none when it could not
// be made, and then no folder is made.
PSECURITY_DESCRIPTOR FolderSecurity() {
    static const PSECURITY_DESCRIPTOR security = NewFolderSecurity();
    return security;
}
