#include "tests/launcher/launcher_test_support.h"

#include <chrono>
#include <fstream>
#include <system_error>
#include <thread>

void MakeReadOnly(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

bool IsReadOnly(const fs::path& path) {
    return (fs::status(path).permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool CanMakeFolderLinks(const fs::path& scratch) {
    std::error_code error;
    fs::create_directory(scratch / "link-probe-target", error);
    fs::create_directory_symlink(scratch / "link-probe-target", scratch / "link-probe", error);
    const bool made = !error && fs::is_symlink(fs::symlink_status(scratch / "link-probe"));
    fs::remove(scratch / "link-probe", error);
    fs::remove(scratch / "link-probe-target", error);
    return made;
}

std::string WaitForFile(const fs::path& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    // Waits for the file to open, not merely to exist: under Wine a file that was just moved into
    // place can stay unopenable for a moment while the mover still holds it.
    for (;;) {
        if (std::ifstream(path, std::ios::binary).is_open()) return ReadFileBytes(path);
        if (std::chrono::steady_clock::now() > deadline) return "";
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string ReportValue(const std::string& report, const std::string& key) {
    const std::string marker = key + "=";
    for (size_t start = 0; start < report.size();) {
        size_t end = report.find('\n', start);
        if (end == std::string::npos) end = report.size();
        if (report.compare(start, marker.size(), marker) == 0) {
            return report.substr(start + marker.size(), end - start - marker.size());
        }
        start = end + 1;
    }
    return "(missing)";
}
