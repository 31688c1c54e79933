// A fresh folder for every fuzz input, into which its entries are extracted, and the check that
// nothing was created outside it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

// For the life of one input: the sandbox folder, emptied (or made), is the current directory, so
// that an archive opened meanwhile has it as the root folder of its directory entries. At the end
// the previous directory comes back (libFuzzer's own paths may be relative), and the process
// aborts when anything exists beside the sandbox in any of the levels above it: an escape by up to
// that many ".." steps lands there, and absolute or drive paths are refused earlier still.
class SandboxVisit {
  public:
    SandboxVisit();
    ~SandboxVisit();
    SandboxVisit(const SandboxVisit&) = delete;
    SandboxVisit& operator=(const SandboxVisit&) = delete;

  private:
    std::filesystem::path previous_;
};

// A relative destination inside the sandbox that keeps the entry name's separators (so that the
// parent folders are made) but none of its dots or colons.
std::u16string SandboxDestination(int32_t index, const char16_t* name);
