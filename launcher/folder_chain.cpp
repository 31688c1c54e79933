// Walking down from the extraction folder one step at a time, keeping the last walk for the next.
#include "launcher/folder_chain.h"

#include <string>
#include <vector>

namespace {

// Releases the steps from `keep` on.
void Truncate(FolderChain* chain, size_t keep) {
    while (chain->handles.size() > keep) {
        PlatformReleaseFolder(chain->handles.back());
        chain->handles.pop_back();
        chain->steps.pop_back();
    }
}

}  // namespace

PlatformHandle ReachFolder(FolderChain* chain, const std::vector<std::u16string>& steps) {
    // The steps this walk shares with the last are held already.
    size_t shared = 0;
    while (shared < steps.size() && shared < chain->steps.size() &&
           PlatformCompareFileNames(steps[shared].c_str(), chain->steps[shared].c_str()) == 0) {
        ++shared;
    }
    Truncate(chain, shared);
    for (size_t i = shared; i < steps.size(); ++i) {
        const PlatformHandle parent = i == 0 ? chain->root : chain->handles.back();
        const PlatformHandle next = PlatformMakeSubFolder(parent, steps[i].c_str());
        if (next == kInvalidPlatformHandle) return kInvalidPlatformHandle;
        chain->steps.push_back(steps[i]);
        chain->handles.push_back(next);
    }
    return steps.empty() ? chain->root : chain->handles.back();
}

void ReleaseChain(FolderChain* chain) { Truncate(chain, 0); }
