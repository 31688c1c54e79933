// Runs the launcher's unpacking driver over arbitrary bytes, as the launcher runs it over its
// payload: the sandbox is prepared as the extraction folder (held, protected, cleared), the archive
// is unpacked into it, and the final check is made. Besides the sanitizers it checks that nothing
// appears outside the sandbox, that the files on disk are exactly the ones the driver reports as
// written (so the final check passes over them), and that preparing the folder again clears them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "fuzz/extract_sandbox.h"
#include "launcher/launcher.h"
#include "zip/path_rules.h"

namespace fs = std::filesystem;

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// The files below the sandbox, as paths relative to it in the form of WrittenFiles, as the file
// system itself lists them.
WrittenFiles FilesOnDisk() {
    WrittenFiles files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(".", error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        Require(!it->is_symlink());  // the driver makes none
        if (!it->is_directory()) {
            files.insert(NormalizedPath(it->path().lexically_relative(".").u16string().c_str()));
        }
    }
    Require(!error);
    return files;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const SandboxVisit visit;
    const std::u16string folderText = fs::current_path().u16string();

    bool leftBehind = true;
    PlatformHandle folder = PrepareExtractionFolder(folderText, &leftBehind);
    Require(folder != kNoFolder && !leftBehind);
    WrittenFiles written;
    if (UnpackArchive(folder, folderText, data, static_cast<uint32_t>(size), &written)) {
        Require(FilesOnDisk() == written);
        Require(HoldsOnlyWrittenFiles(folder, written));
    } else {
        Require(written.empty() && FilesOnDisk().empty());
    }
    PlatformReleaseFolder(folder);

    // The next start clears all of it, read-only files included, and keeps the folders.
    folder = PrepareExtractionFolder(folderText, &leftBehind);
    Require(folder != kNoFolder && !leftBehind);
    Require(FilesOnDisk().empty());
    Require(HoldsOnlyWrittenFiles(folder, WrittenFiles{}));
    PlatformReleaseFolder(folder);
    return 0;
}
