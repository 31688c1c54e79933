// Going through the entries of a held folder.
#pragma once

#include "platform/platform.h"

// Calls `visit` with every entry of the held folder but "." and "..", in the listing's order (with
// a `prefix`, only the names that begin with it), until a visit returns false. True when the
// listing ran to its end, false when it could not be made, failed, or a visit stopped it.
template <typename Visit>
bool ForEachEntry(PlatformHandle folder, const char16_t* prefix, Visit visit) {
    const PlatformHandle search = PlatformOpenSearch(folder, prefix);
    if (search == kInvalidPlatformHandle) return false;
    PlatformFoundEntry found;
    int next;
    while ((next = PlatformNextEntry(search, &found)) > 0) {
        const bool dots = PlatformCompareText(found.name, u".") == 0 ||
                          PlatformCompareText(found.name, u"..") == 0;
        if (!dots && !visit(found)) break;
    }
    PlatformCloseSearch(search);
    return next == 0;
}
