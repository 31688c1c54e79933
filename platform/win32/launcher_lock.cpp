// One launcher at a time: a mutex of the session, out of reach of unelevated processes when the
// launcher is elevated; and the clock its waits are measured by.
#include <windows.h>

#include <string>

#include "platform/system_calls.h"
#include "platform/win32/internal.h"

namespace {

// The private namespace of elevated launchers, named by its alias.
constexpr wchar_t kNamespaceAlias[] = L"SelfUnpackingLaunchers";

// What the lock holds: the mutex, and the private namespace it was made in (null for "Local\").
struct HeldLock {
    HANDLE mutex;
    HANDLE space;
};

// The private-namespace calls, looked up at run time: Wine 8 lacks all but the first.
struct NamespaceCalls {
    HANDLE(WINAPI* createBoundary)(LPCWSTR, ULONG);
    BOOL(WINAPI* addSid)(HANDLE*, PSID);
    BOOL(WINAPI* addLabel)(HANDLE*, PSID);
    HANDLE(WINAPI* create)(LPSECURITY_ATTRIBUTES, LPVOID, LPCWSTR);
    HANDLE(WINAPI* open)(LPVOID, LPCWSTR);
    VOID(WINAPI* deleteBoundary)(HANDLE);
    BOOLEAN(WINAPI* close)(HANDLE, ULONG);
    bool present;
};

template <typename Function>
void Find(HMODULE module, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const NamespaceCalls& Namespaces() {
    static const NamespaceCalls calls = [] {
        NamespaceCalls found{};
        const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        Find(kernel, "CreateBoundaryDescriptorW", &found.createBoundary);
        Find(kernel, "AddSIDToBoundaryDescriptor", &found.addSid);
        Find(kernel, "AddIntegrityLabelToBoundaryDescriptor", &found.addLabel);
        Find(kernel, "CreatePrivateNamespaceW", &found.create);
        Find(kernel, "OpenPrivateNamespaceW", &found.open);
        Find(kernel, "DeleteBoundaryDescriptor", &found.deleteBoundary);
        Find(kernel, "ClosePrivateNamespace", &found.close);
        found.present = found.createBoundary && found.addSid && found.addLabel && found.create &&
                        found.open && found.deleteBoundary && found.close;
        return found;
    }();
    return calls;
}

// The namespace whose boundary holds the Administrators group and the high integrity level, made
// or opened: only a process whose token has both can do either, and only Administrators and SYSTEM
// may open it. Null when it cannot be had.
HANDLE OpenLaunchersNamespace(const NamespaceCalls& calls) {
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    BYTE high[SECURITY_MAX_SID_SIZE];
    DWORD administratorsSize = sizeof(administrators);
    DWORD highSize = sizeof(high);
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators,
                            &administratorsSize) ||
        !CreateWellKnownSid(WinHighLabelSid, nullptr, high, &highSize)) {
        return nullptr;
    }
    HANDLE boundary = calls.createBoundary(kNamespaceAlias, 0);
    if (boundary == nullptr) return nullptr;
    HANDLE space = nullptr;
    PSECURITY_DESCRIPTOR security = FromSddl(L"D:(A;;GA;;;BA)(A;;GA;;;SY)");
    SECURITY_ATTRIBUTES attributes{sizeof(attributes), security, FALSE};
    if (security != nullptr && calls.addSid(&boundary, administrators) &&
        calls.addLabel(&boundary, high)) {
        // Another launcher may make it, or close the last handle of it, between the two calls.
        for (int attempt = 0; attempt < 3 && space == nullptr; ++attempt) {
            space = calls.create(&attributes, boundary, kNamespaceAlias);
            if (space == nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
                space = calls.open(boundary, kNamespaceAlias);
            }
        }
    }
    LocalFree(security);
    calls.deleteBoundary(boundary);
    return space;
}

}  // namespace

PlatformHandle SystemAcquireLock(const char16_t* name, uint32_t waitMs, bool* waited) {
    // Object names tell case apart while file names do not: launchers of "App" and "APP" work in
    // one folder and must share one lock. The namespace prefix keeps its own spelling.
    std::wstring upper = Wide(name);
    CharUpperBuffW(&upper[0], static_cast<DWORD>(upper.size()));
    HeldLock held{nullptr, nullptr};
    std::wstring full = L"Local\\" + upper;
    // An elevated launcher's lock must be out of reach of the user's unelevated processes, which
    // could make "Local\..." first, deny everyone, or hold it. Where the system lacks the calls
    // (Wine 8), "Local\" serves.
    const NamespaceCalls& calls = Namespaces();
    if (SystemTokenElevation() != Elevation::None && calls.present) {
        held.space = OpenLaunchersNamespace(calls);
        if (held.space == nullptr) return kInvalidPlatformHandle;
        full = std::wstring(kNamespaceAlias) + L"\\" + upper;
    }
    held.mutex = CreateMutexW(nullptr, FALSE, full.c_str());
    // An abandoned mutex is had all the same: its holder ended without finishing.
    DWORD waitResult = WAIT_FAILED;
    if (held.mutex != nullptr) {
        waitResult = WaitForSingleObject(held.mutex, 0);
        *waited = waitResult == WAIT_TIMEOUT;
        if (*waited) waitResult = WaitForSingleObject(held.mutex, waitMs);
    }
    if (waitResult != WAIT_OBJECT_0 && waitResult != WAIT_ABANDONED) {
        if (held.mutex != nullptr) CloseHandle(held.mutex);
        if (held.space != nullptr) calls.close(held.space, 0);
        return kInvalidPlatformHandle;
    }
    return reinterpret_cast<PlatformHandle>(new HeldLock(held));
}

void SystemReleaseLock(PlatformHandle lock) {
    auto* held = reinterpret_cast<HeldLock*>(lock);
    ReleaseMutex(held->mutex);
    CloseHandle(held->mutex);
    if (held->space != nullptr) Namespaces().close(held->space, 0);
    delete held;
}

uint64_t SystemMilliseconds() { return GetTickCount64(); }
