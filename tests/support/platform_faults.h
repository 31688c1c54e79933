// Failures on demand through the platform table: one entry replaced by a stand-in that lets
// calls through to what was there before, but fails the Nth.
#pragma once

#include <type_traits>

#include "platform/platform.h"

// One entry of the table that a test can make fail.
struct FaultPoint {
    const char* name;
    void (*failNth)(int n);  // installs the stand-in in ActivePlatformCalls
    bool (*reached)();       // whether the failing call has happened since
};

template <auto Entry, typename Function>
struct FaultyEntry;

template <auto Entry, typename Result, typename... Arguments>
struct FaultyEntry<Entry, Result (*)(Arguments...)> {
    static inline int remaining = 0;
    static inline Result failure{};
    static inline Result (*previous)(Arguments...) = nullptr;
    static Result Call(Arguments... arguments) {
        if (remaining > 0 && --remaining == 0) return failure;
        return previous(arguments...);
    }
};

// The fault point of `Entry` (e.g. &PlatformCalls::PlatformDeleteFile), whose failing call returns
// `Failure` without doing anything.
template <auto Entry, auto Failure>
FaultPoint MakeFaultPoint(const char* name) {
    using Stand =
        FaultyEntry<Entry,
                    std::remove_cv_t<std::remove_reference_t<decltype(kSystemCalls.*Entry)>>>;
    return {name,
            [](int n) {
                Stand::remaining = n;
                Stand::failure = Failure;
                Stand::previous = ActivePlatformCalls.*Entry;
                ActivePlatformCalls.*Entry = Stand::Call;
            },
            [] { return Stand::remaining == 0; }};
}

// Puts the system's own calls back when it goes, whatever a test replaced.
struct SystemCallsAgain {
    SystemCallsAgain() = default;
    ~SystemCallsAgain() { ActivePlatformCalls = kSystemCalls; }
    SystemCallsAgain(const SystemCallsAgain&) = delete;
    SystemCallsAgain& operator=(const SystemCallsAgain&) = delete;
};
