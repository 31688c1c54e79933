#include "fuzz/extract_sandbox.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace fs = std::filesystem;

namespace {

// <temp>/zip-extract-fuzz-<pid>/l1/l2/l3/box; each level holds nothing but the next.
struct Sandbox {
    std::vector<fs::path> levels;  // outermost first
    fs::path box;
};

const Sandbox& TheSandbox() {
    static const Sandbox sandbox = [] {
        Sandbox s;
        fs::path level =
            fs::temp_directory_path() / ("zip-extract-fuzz-" + std::to_string(getpid()));
        fs::remove_all(level);
        for (const char* next : {"l1", "l2", "l3", "box"}) {
            s.levels.push_back(level);
            level /= next;
        }
        s.box = level;
        fs::create_directories(s.box);
        std::atexit([] {
            std::error_code ignored;
            fs::current_path(fs::temp_directory_path(), ignored);
            fs::remove_all(TheSandbox().levels.front(), ignored);
        });
        return s;
    }();
    return sandbox;
}

void RequireNothingOutsideSandbox(const Sandbox& sandbox) {
    for (size_t i = 0; i < sandbox.levels.size(); ++i) {
        const fs::path& inner = i + 1 < sandbox.levels.size() ? sandbox.levels[i + 1] : sandbox.box;
        for (const auto& item : fs::directory_iterator(sandbox.levels[i])) {
            if (item.path() == inner) continue;
            std::fprintf(stderr, "created outside the extraction folder: %s\n",
                         item.path().c_str());
            std::abort();
        }
    }
}

}  // namespace

SandboxVisit::SandboxVisit() : previous_(fs::current_path()) {
    const Sandbox& sandbox = TheSandbox();
    std::error_code ignored;
    // Extracted files may be read-only; folders must be writable to be emptied.
    for (const auto& item : fs::recursive_directory_iterator(sandbox.box, ignored)) {
        fs::permissions(item.path(), fs::perms::owner_all,
                        fs::perm_options::add | fs::perm_options::nofollow, ignored);
    }
    fs::remove_all(sandbox.box, ignored);
    fs::create_directory(sandbox.box);
    fs::current_path(sandbox.box);
}

SandboxVisit::~SandboxVisit() {
    fs::current_path(previous_);
    RequireNothingOutsideSandbox(TheSandbox());
}

std::u16string SandboxDestination(int32_t index, const char16_t* name) {
    std::u16string path = u"e";
    for (char c : std::to_string(index)) path += static_cast<char16_t>(c);
    path += u'/';
    for (const char16_t* c = name; *c != 0; ++c) path += (*c == u'.' || *c == u':') ? u'_' : *c;
    return path;
}
