// The token the launcher runs with, the protection of a new extraction folder, and what the user
// it was elevated from could do: Windows judges that by AccessCheck with the user's own token.
#include <windows.h>
// After windows.h, which it needs.
#include <aclapi.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

namespace {

// What the launcher needs to know of its token, asked once (a process's token does not change).
struct TokenFacts {
    bool known = false;
    Elevation elevation = Elevation::None;
    // The user's own token without elevation, when elevated over it. It is an impersonation token
    // of identification level (the launcher holds no SeTcbPrivilege): enough for AccessCheck,
    // which is all it serves here, though not for impersonating the user in file operations.
    HANDLE linked = nullptr;
    std::wstring user;               // the user's SID as SDDL text
    bool administratorsOwn = false;  // may make BUILTIN\Administrators the owner
};

// Whether the token's groups hold Administrators as a group that may own what it creates.
bool MayGiveAdministratorsOwnership(HANDLE token) {
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    std::vector<BYTE> buffer(size + sizeof(TOKEN_GROUPS));
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD sidSize = sizeof(administrators);
    if (!GetTokenInformation(token, TokenGroups, buffer.data(), static_cast<DWORD>(buffer.size()),
                             &size) ||
        !CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &sidSize)) {
        return false;
    }
    const auto* groups = reinterpret_cast<const TOKEN_GROUPS*>(buffer.data());
    for (DWORD i = 0; i < groups->GroupCount; ++i) {
        if (EqualSid(groups->Groups[i].Sid, administrators) &&
            (groups->Groups[i].Attributes & SE_GROUP_OWNER) != 0) {
            return true;
        }
    }
    return false;
}

TokenFacts ReadToken() {
    TokenFacts facts;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return facts;
    alignas(TOKEN_USER) BYTE userBuffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    TOKEN_ELEVATION elevation{};
    TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
    DWORD size = 0;
    LPWSTR sid = nullptr;
    facts.known =
        GetTokenInformation(token, TokenUser, userBuffer, sizeof(userBuffer), &size) &&
        GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
        GetTokenInformation(token, TokenElevationType, &type, sizeof(type), &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(userBuffer)->User.Sid, &sid);
    if (facts.known) {
        facts.user = sid;
        LocalFree(sid);
        facts.administratorsOwn = MayGiveAdministratorsOwnership(token);
        if (elevation.TokenIsElevated == 0) {
            facts.elevation = Elevation::None;
        } else if (type == TokenElevationTypeFull) {
            // Elevated over a user of its own. Without that user's token nothing the user made
            // can be judged, and so nothing of it is touched (UserCould answers no).
            facts.elevation = Elevation::OverUser;
            TOKEN_LINKED_TOKEN linked{};
            if (GetTokenInformation(token, TokenLinkedToken, &linked, sizeof(linked), &size)) {
                facts.linked = linked.LinkedToken;
            }
        } else {
            facts.elevation = Elevation::Alone;
        }
    }
    CloseHandle(token);
    return facts;
}

const TokenFacts& Token() {
    static const TokenFacts facts = ReadToken();
    return facts;
}

// The protection of a folder that an elevated launcher makes: owned by Administrators, a protected
// DACL (nothing inherited from the temporary directory) with full control for Administrators and
// SYSTEM, and read and execute for the user and for OWNER RIGHTS, so that owning a file gives no
// right to change its DACL. All of it is inherited by everything made inside.
std::wstring ElevatedFolderText(const std::wstring& user) {
    return L"O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FRFX;;;" + user +
           L")(A;OICI;FRFX;;;OW)";
}

// Without elevation there is none to guard: the user owns the folder and needs full control to
// unpack into it.
PSECURITY_DESCRIPTOR NewFolderSecurity() {
    const TokenFacts& token = Token();
    if (!token.known) return nullptr;
    if (token.elevation == Elevation::None) {
        return FromSddl((L"O:" + token.user + L"D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)(A;OICI;FA;;;" +
                         token.user + L")(A;OICI;FRFX;;;OW)")
                            .c_str());
    }
    // An elevated token that cannot give Administrators ownership would leave the user owning
    // what the elevated application runs: no folder then.
    return token.administratorsOwn ? FromSddl(ElevatedFolderText(token.user).c_str()) : nullptr;
}

// Whether two ACLs hold the same allowing entries in the same order.
bool SameEntries(PACL a, PACL b) {
    ACL_SIZE_INFORMATION sizeA{};
    ACL_SIZE_INFORMATION sizeB{};
    if (a == nullptr || b == nullptr ||
        !GetAclInformation(a, &sizeA, sizeof(sizeA), AclSizeInformation) ||
        !GetAclInformation(b, &sizeB, sizeof(sizeB), AclSizeInformation) ||
        sizeA.AceCount != sizeB.AceCount) {
        return false;
    }
    for (DWORD i = 0; i < sizeA.AceCount; ++i) {
        ACCESS_ALLOWED_ACE* aceA = nullptr;
        ACCESS_ALLOWED_ACE* aceB = nullptr;
        if (!GetAce(a, i, reinterpret_cast<void**>(&aceA)) ||
            !GetAce(b, i, reinterpret_cast<void**>(&aceB)) ||
            aceA->Header.AceType != ACCESS_ALLOWED_ACE_TYPE ||
            aceA->Header.AceType != aceB->Header.AceType ||
            aceA->Header.AceFlags != aceB->Header.AceFlags || aceA->Mask != aceB->Mask ||
            !EqualSid(&aceA->SidStart, &aceB->SidStart)) {
            return false;
        }
    }
    return true;
}

}  // namespace

PSECURITY_DESCRIPTOR FromSddl(const wchar_t* text) {
    PSECURITY_DESCRIPTOR security = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(text, SDDL_REVISION_1, &security,
                                                              nullptr)) {
        return nullptr;
    }
    return security;
}

// Made once and kept for the run; none when it could not be made, and then no folder is made.
PSECURITY_DESCRIPTOR FolderSecurity() {
    static const PSECURITY_DESCRIPTOR security = NewFolderSecurity();
    return security;
}

bool UserCould(HANDLE object, ACCESS_MASK access) {
    const TokenFacts& token = Token();
    if (token.elevation != Elevation::OverUser) return true;
    if (token.linked == nullptr) return false;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (GetSecurityInfo(object, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION |
                            DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION,
                        nullptr, nullptr, nullptr, nullptr, &security) != ERROR_SUCCESS) {
        return false;
    }
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                            FILE_ALL_ACCESS};
    alignas(PRIVILEGE_SET) BYTE privileges[sizeof(PRIVILEGE_SET) + 8 * sizeof(LUID_AND_ATTRIBUTES)];
    DWORD privilegesSize = sizeof(privileges);
    DWORD granted = 0;
    BOOL allowed = FALSE;
    const bool checked = AccessCheck(security, token.linked, access, &mapping,
                                     reinterpret_cast<PRIVILEGE_SET*>(privileges), &privilegesSize,
                                     &granted, &allowed) != FALSE;
    LocalFree(security);
    return checked && allowed != FALSE;
}

Elevation SystemTokenElevation() { return Token().elevation; }

bool SystemMadeByLauncher(PlatformHandle folder) {
    static const PSECURITY_DESCRIPTOR expected =
        Token().known ? FromSddl(ElevatedFolderText(Token().user).c_str()) : nullptr;
    if (folder == kInvalidPlatformHandle || expected == nullptr) return false;
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR security = nullptr;
    if (GetSecurityInfo(ToHeld(folder)->handle, SE_FILE_OBJECT,
                        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                        &dacl, nullptr, &security) != ERROR_SUCCESS) {
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    PSID expectedOwner = nullptr;
    BOOL ownerDefaulted = FALSE;
    PACL expectedDacl = nullptr;
    BOOL present = FALSE;
    BOOL daclDefaulted = FALSE;
    const bool made =
        GetSecurityDescriptorControl(security, &control, &revision) &&
        (control & SE_DACL_PROTECTED) != 0 &&
        GetSecurityDescriptorOwner(expected, &expectedOwner, &ownerDefaulted) &&
        GetSecurityDescriptorDacl(expected, &present, &expectedDacl, &daclDefaulted) &&
        owner != nullptr && EqualSid(owner, expectedOwner) && SameEntries(dacl, expectedDacl);
    LocalFree(security);
    return made;
}

bool SystemUserMayAddFolder(PlatformHandle folder) {
    return folder != kInvalidPlatformHandle &&
           UserCould(ToHeld(folder)->handle, FILE_ADD_SUBDIRECTORY);
}
