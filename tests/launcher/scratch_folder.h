// Test helpers: a fresh folder per test, removed afterwards, and small file utilities.
#pragma once

#include <filesystem>
#include <string>

namespace fs = std::filesystem;

// A new empty folder under the system's temporary directory; removed with all it holds.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }
    // The folder as the launcher's functions take it.
    std::u16string text() const { return path_.u16string(); }

  private:
    fs::path path_;
};

void WriteFile(const fs::path& path, const std::string& content);
std::string ReadFile(const fs::path& path);
void MakeReadOnly(const fs::path& path);
bool IsReadOnly(const fs::path& path);

// Whether this system lets the test create symbolic links to folders.
bool CanMakeFolderLinks(const fs::path& scratch);

// The file's content once it can be opened, or "" when it has not within ten seconds.
std::string WaitForFile(const fs::path& path);

// The value of `key=` on its own line in a report, or "(missing)".
std::string ReportValue(const std::string& report, const std::string& key);
