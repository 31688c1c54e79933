#include "tests/support/scratch_folder.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {
std::atomic<unsigned> scratchCounter{0};
}  // namespace

ScratchFolder::ScratchFolder() {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() /
            ("scratch-" + std::to_string(stamp) + "-" + std::to_string(scratchCounter++));
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    // Read-only files cannot be removed on Windows; links are removed, not followed.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

CurrentDirectory::CurrentDirectory(const fs::path& folder) : previous_(fs::current_path()) {
    fs::create_directories(folder);
    fs::current_path(folder);
}

CurrentDirectory::~CurrentDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}

void WriteFileBytes(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

std::string ReadFileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
