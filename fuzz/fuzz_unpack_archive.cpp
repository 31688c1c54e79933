// Runs the launcher's unpacking driver over arbitrary bytes, as the launcher runs it over its
// payload: the extraction folder is made anew in the sandbox, the archive is unpacked into it and
// the final check is made. Besides the sanitizers it checks that nothing appears outside the
// sandbox, that the files on disk are exactly the ones the driver reports as written (so the final
// check passes over them), and that the next start moves them all aside and removes them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>

#include "fuzz/extract_sandbox.h"
#include "launcher/launcher.h"
#include "zip/path_rules.h"

namespace fs = std::filesystem;

namespace {

const FolderNames kNames{u"VORNIX", u"zandro.exe"};

void Require(bool condition) {
    if (!condition) std::abort();
}

// The files below `folder`, as paths relative to it in the form of WrittenFiles' keys, as the file
// system itself lists them.
std::set<std::u16string> FilesOnDisk(const fs::path& folder) {
    std::set<std::u16string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         it != fs::recursive_directory_iterator(); it.increment(error)) {
        Require(!it->is_symlink());  // the driver makes none
        if (!it->is_directory()) {
            files.insert(NormalizedPath(it->path().lexically_relative(folder).u16string().c_str()));
        }
    }
    Require(!error);
    return files;
}

FreshFolder Prepare(const fs::path& temp) {
    FreshFolder fresh = PrepareFreshFolder(temp.u16string() + u"/", kNames);
    Require(fresh.state == FolderState::Ready);
    return fresh;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    const SandboxVisit visit;
    const fs::path temp = fs::current_path();
    const fs::path folder = temp / "VORNIX";

    FreshFolder fresh = Prepare(temp);
    UnpackResult result;
    if (UnpackArchive(fresh.folder, folder.u16string(), data, static_cast<uint32_t>(size),
                      &result)) {
        std::set<std::u16string> written;
        for (const auto& file : result.written) written.insert(file.first);
        Require(FilesOnDisk(folder) == written);
        Require(HoldsExactlyWrittenFiles(fresh.folder, result.written));
    } else {
        Require(result.written.empty() && FilesOnDisk(folder).empty());
    }
    ReleaseFreshFolder(&fresh);

    // The next start finds it all, read-only files included, moves it aside and removes it.
    fresh = Prepare(temp);
    Require(FilesOnDisk(folder).empty());
    RemoveFoldersMovedAside(fresh.temp, kNames);
    ReleaseFreshFolder(&fresh);
    std::error_code error;
    Require(std::distance(fs::directory_iterator(temp, error), fs::directory_iterator()) == 1);
    return 0;
}
