#include "zip/extract.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <vector>

#include "tests/support/platform_faults.h"
#include "tests/support/zip_builder.h"
#include "tests/zip/disk_support.h"
#include "zip/entry_stream.h"

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;
constexpr uint64_t kUnixEpochTicks = 11644473600ULL * kTicksPerSecond;
constexpr uint64_t kDosStampTicks = kUnixEpochTicks + 1436040066ULL * kTicksPerSecond;

// An archive handle over bytes that live as long as it does.
class Archive {
  public:
    explicit Archive(const TestArchive& archive) : Archive(BuildZip(archive)) {}
    explicit Archive(Bytes bytes) : bytes_(std::move(bytes)) {
        handle_ = OpenZipFromMemory(bytes_.data(), static_cast<uint32_t>(bytes_.size()));
    }
    ~Archive() {
        if (handle_ != nullptr) CloseZipArchive(handle_);
    }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
    ZipArchive* get() const { return handle_; }
    ZipDirectoryReader* reader() const { return handle_->state->reader; }
    ZipResult Unzip(const fs::path& path, int32_t index) const {
        return UnzipEntryToFile(handle_, path.u16string().c_str(), index);
    }

  private:
    Bytes bytes_;
    ZipArchive* handle_;
};

TestEntry Folder(const std::string& name) {
    TestEntry e = MakeEntry(name, "");
    e.externalAttributes = 0x10;
    return e;
}

// The lines of `after` that `before` does not hold, in order.
std::string Added(const std::string& before, const std::string& after) {
    std::set<std::string> old;
    std::stringstream in(before);
    for (std::string line; std::getline(in, line);) old.insert(line);
    std::string out;
    std::stringstream now(after);
    for (std::string line; std::getline(now, line);) {
        if (old.count(line) == 0) out += line + "\n";
    }
    return out;
}

bool IsReadOnly(const fs::path& path) {
    return (PlatformGetFileAttributes(path.u16string().c_str()) & kAttributeReadOnly) != 0;
}

// Records the size of every write; fails the write numbered `failAt` (1-based), if any, without
// writing (a full disk on demand).
std::vector<uint32_t> writeSizes;
size_t failAt = 0;
bool RecordWrite(PlatformHandle file, const void* data, uint32_t size) {
    writeSizes.push_back(size);
    return writeSizes.size() != failAt && kSystemCalls.PlatformWriteFile(file, data, size);
}

class Extract : public ::testing::Test {
  protected:
    void SetUp() override {
        writeSizes.clear();
        failAt = 0;
        ActivePlatformCalls.PlatformWriteFile = RecordWrite;
    }
    SystemCallsAgain restore_;
    fs::path work() const { return scratch_.path() / "work"; }
    // Extraction runs in <scratch>/work, so that what lands beside it or above it shows.
    ScratchFolder scratch_;
    CurrentDirectory inWork_{work()};
};

TEST_F(Extract, WritesStoredAndDeflatedEntriesAtBlockBoundariesWithAttributesAndTimes) {
    TestArchive archive;
    for (uint16_t method : {0, 8}) {
        for (size_t size : {size_t{0}, size_t{1}, size_t{40000}, size_t{kEntryBlockSize},
                            size_t{kEntryBlockSize + 1}, size_t{2 * kEntryBlockSize + 7232}}) {
            archive.entries.push_back(MakeEntry(std::to_string(method) + "-" + std::to_string(size),
                                                RandomBytes(size, static_cast<uint32_t>(size)),
                                                method));
        }
    }
    Archive zip(archive);
    for (int32_t i = 0; i < static_cast<int32_t>(archive.entries.size()); ++i) {
        const TestEntry& e = archive.entries[static_cast<size_t>(i)];
        SCOPED_TRACE(e.name);
        writeSizes.clear();
        ASSERT_EQ(zip.Unzip(e.name, i), ZipOk);
        EXPECT_EQ(LastZipResult, ZipOk);
        EXPECT_EQ(zip.reader()->openStream, nullptr);
        EXPECT_EQ(zip.reader()->entryIndex, static_cast<uint32_t>(i));

        StoredTimes times{};
        ASSERT_TRUE(ReadStoredTimes(e.name, &times));  // before reading moves the access time
        EXPECT_EQ(times.write, kDosStampTicks);
        EXPECT_EQ(times.access, kDosStampTicks);
        if (times.hasCreation) {
            EXPECT_EQ(times.creation, kDosStampTicks);
        }
        EXPECT_EQ(ReadFileBytes(e.name), e.data);
        // External attributes 0x20 give 0xA1: read-only, with the archive bit where it exists.
        EXPECT_TRUE(IsReadOnly(e.name));
#ifdef _WIN32
        EXPECT_EQ(PlatformGetFileAttributes(fs::path(e.name).u16string().c_str()), 0x21u);
#endif
        // One write per block of the stream: whole blocks, then the rest.
        std::vector<uint32_t> blocks;
        for (size_t left = e.data.size(); left > 0; left -= blocks.back()) {
            blocks.push_back(static_cast<uint32_t>(std::min<size_t>(left, kEntryBlockSize)));
        }
        EXPECT_EQ(writeSizes, blocks);
    }
}

TEST_F(Extract, TakesTimesFromAnExtendedTimestampAndWritableModesFromUnix) {
    TestEntry e = MakeEntry("stamped.txt", "text");
    e.localExtra = ExtendedTimestamp(7, {1000000000, 1100000000, 900000000});
    e.externalAttributes = 0100644u << 16;
    Archive zip(ArchiveOf({e}));
    ASSERT_EQ(zip.Unzip("stamped.txt", 0), ZipOk);
    StoredTimes times{};
    ASSERT_TRUE(ReadStoredTimes("stamped.txt", &times));
    EXPECT_EQ(times.write, kUnixEpochTicks + 1000000000ULL * kTicksPerSecond);
    EXPECT_EQ(times.access, kUnixEpochTicks + 1100000000ULL * kTicksPerSecond);
    // The creation time is not checked: Wine keeps none of its own on a Unix file system.
    EXPECT_FALSE(IsReadOnly("stamped.txt"));
}

TEST_F(Extract, ReplacesAWritableFileAndRefusesAReadOnlyOne) {
    Archive zip(ArchiveOf({MakeEntry("short", "new")}));
    { std::ofstream("existing") << "a much longer old content"; }
    ASSERT_EQ(zip.Unzip("existing", 0), ZipOk);
    EXPECT_EQ(ReadFileBytes("existing"), "new");

#ifdef _WIN32
    {
        // Another opener that shares nothing keeps the file from being replaced.
        std::ofstream busy("existing");
        EXPECT_EQ(zip.Unzip("existing", 0), ZipCannotCreateFile);
    }
#endif
    { std::ofstream("locked") << "keep me"; }
    ASSERT_TRUE(PlatformSetFileAttributes(u"locked", kAttributeReadOnly));
    if (!SystemRefusesWritingTo("locked")) GTEST_SKIP() << "read-only files are writable here";
    EXPECT_EQ(zip.Unzip("locked", 0), ZipCannotCreateFile);
    EXPECT_EQ(ReadFileBytes("locked"), "keep me");
}

TEST_F(Extract, APipeReceivesTheDataButNoTimesAndIsNeverDeleted) {
    const std::string data = RandomBytes(40000, 21);
    TestEntry bad = MakeEntry("bad", data);
    bad.crc = Crc32(data) ^ 1;
    Archive zip(ArchiveOf({MakeEntry("good", data, 8), bad}));
    {
        PipeSink pipe(scratch_.path());
        ASSERT_EQ(zip.Unzip(pipe.path(), 0), ZipOk);
        EXPECT_EQ(pipe.Collect(), data);
#ifndef _WIN32
        StoredTimes times{};
        ASSERT_TRUE(ReadStoredTimes(pipe.path(), &times));
        EXPECT_NE(times.write, kDosStampTicks);
#endif
    }
#ifndef _WIN32
    PipeSink pipe(work());
    EXPECT_EQ(zip.Unzip(pipe.path(), 1), ZipExtractFailed);
    EXPECT_EQ(pipe.Collect(), data);
    EXPECT_TRUE(fs::is_fifo(pipe.path()));
#endif
}

TEST_F(Extract, FailedExtractionsLeaveNoFileBehind) {
    const std::string data = RandomBytes(40000, 31);
    const std::string deflated = Deflate(data);
    TestEntry badCrc = MakeEntry("bad-crc", data, 8);
    badCrc.crc = Crc32(data) ^ 0x80000000u;
    TestEntry damaged = MakeEntry("damaged", data, 8);
    damaged.compressed = deflated.substr(0, 5000) + std::string(100, '\xff');
    TestEntry truncated = MakeEntry("truncated", data, 8);
    truncated.compressed = deflated.substr(0, deflated.size() / 2);
    TestEntry shortStored = MakeEntry("short-stored", data);
    shortStored.uncompressedSize = 50000;
    TestEntry pastEnd = MakeEntry("past-end", data);
    pastEnd.compressedSize = 100000;
    // Last, so that its data really runs past the end of the archive.
    // The failing write is the second: more than one block.
    const TestEntry fullDisk = MakeEntry("full-disk", RandomBytes(kEntryBlockSize + 1, 32));
    const std::vector<TestEntry> entries{badCrc,      damaged,  truncated,
                                         shortStored, fullDisk, pastEnd};
    Archive zip(ArchiveOf(entries));
    for (int32_t i = 0; i < static_cast<int32_t>(entries.size()); ++i) {
        const std::string& name = entries[static_cast<size_t>(i)].name;
        SCOPED_TRACE(name);
        { std::ofstream(name) << "old"; }  // a replaced file goes too
        writeSizes.clear();
        failAt = name == "full-disk" ? 2 : 0;
        EXPECT_EQ(zip.Unzip(name, i), ZipExtractFailed);
        EXPECT_EQ(LastZipResult, ZipExtractFailed);
        EXPECT_FALSE(fs::exists(name));
        EXPECT_EQ(zip.reader()->openStream, nullptr);
    }
#ifndef _WIN32
    // A real full device behind a link: the write fails, and the device is not removed.
    failAt = 0;
    fs::create_symlink("/dev/full", "device");
    EXPECT_EQ(zip.Unzip("device", 4), ZipExtractFailed);
    EXPECT_TRUE(fs::exists("/dev/full"));
#endif
}

TEST_F(Extract, EntriesAfterABrokenOneAreWrittenWhole) {
    const std::string data = RandomBytes(kEntryBlockSize + 5000, 41);
    const std::string deflated = Deflate(data);
    TestEntry damaged = MakeEntry("damaged", data, 8);
    damaged.compressed = deflated.substr(0, 9000) + std::string(100, '\xff');
    TestEntry badCrc = MakeEntry("bad-crc", data, 8);
    badCrc.crc = Crc32(data) ^ 1;
    TestEntry truncated = MakeEntry("truncated", data, 8);
    truncated.compressed = deflated.substr(0, deflated.size() / 2);
    std::string text;
    while (text.size() < 3 * kEntryBlockSize) text += "line " + std::to_string(text.size()) + "\n";
    const std::vector<TestEntry> entries{
        MakeEntry("text", text, 8),   damaged,   MakeEntry("stored", data),  badCrc,
        MakeEntry("small", "abc", 8), truncated, MakeEntry("again", data, 8)};
    Archive zip(ArchiveOf(entries));
    for (int32_t i = 0; i < static_cast<int32_t>(entries.size()); ++i) {
        const TestEntry& e = entries[static_cast<size_t>(i)];
        SCOPED_TRACE(e.name);
        const bool broken = e.name == "damaged" || e.name == "bad-crc" || e.name == "truncated";
        EXPECT_EQ(zip.Unzip(e.name, i), broken ? ZipExtractFailed : ZipOk);
        if (broken) {
            EXPECT_FALSE(fs::exists(e.name));
        } else {
            EXPECT_TRUE(ReadFileBytes(e.name) == e.data);
        }
    }
}

struct FolderCase {
    const char* path;
    ZipResult result;
    const char* added;  // what appears in the scratch folder; "work" is the root folder
};

TEST_F(Extract, MakesParentFoldersOnlyForPlainRelativePaths) {
    fs::create_directories(scratch_.path() / "there");
    const std::string absolute = work().generic_string();
    const std::vector<FolderCase> cases{
        {"plain.txt", ZipOk, "work/plain.txt\n"},
        {"sub/dir/file.txt", ZipOk, "work/sub\nwork/sub/dir\nwork/sub/dir/file.txt\n"},
        {"mixed\\seps/file.txt", ZipOk, "work/mixed\nwork/mixed/seps\nwork/mixed/seps/file.txt\n"},
        {"../missing/file.txt", ZipCannotCreateFile, ""},
        {"../there/file.txt", ZipOk, "there/file.txt\n"},
        {"a/../b/file.txt", ZipCannotCreateFile, ""},
        {"..\\up.txt", ZipOk, "up.txt\n"},
        // Windows reads ".. " as "..": no folders are made on the way up.
        {".. /y/file.txt", ZipCannotCreateFile, ""},
    };
    Archive zip(ArchiveOf({MakeEntry("f", "data")}));
    for (const FolderCase& c : cases) {
        SCOPED_TRACE(c.path);
        const std::string before = ListTree(scratch_.path());
        EXPECT_EQ(zip.Unzip(c.path, 0), c.result);
        EXPECT_EQ(Added(before, ListTree(scratch_.path())), c.added);
    }

    // The driver's form: an absolute path with a doubled separator. It gets no folders.
    fs::create_directories("VORNIX");
    EXPECT_EQ(zip.Unzip(absolute + "\\\\VORNIX\\app.dll", 0), ZipOk);
    EXPECT_EQ(ReadFileBytes("VORNIX/app.dll"), "data");
    EXPECT_EQ(zip.Unzip(absolute + "/absent/app.dll", 0), ZipCannotCreateFile);
    EXPECT_FALSE(fs::exists("absent"));
}

TEST_F(Extract, MakesDirectoryEntriesUnderTheRootFolderOnly) {
    const std::vector<std::string> escaping{"/abs/",   "\\abs\\",      "C:/drive/",        "x:y/",
                                            "../up/",  "in/../../up/", "in\\..\\..\\up\\", "..",
                                            "in/.../", "in/.. /"};
    TestArchive archive = ArchiveOf({Folder("docs/img/"), Folder("a..b/"), Folder("..c/")});
    for (const std::string& name : escaping) archive.entries.push_back(Folder(name));
    Archive zip(archive);

    EXPECT_EQ(zip.Unzip("ignored/destination", 0), ZipOk);
    EXPECT_EQ(zip.Unzip("ignored/destination", 1), ZipOk);
    EXPECT_EQ(zip.Unzip("ignored/destination", 2), ZipOk);
    EXPECT_EQ(ListTree(scratch_.path()), "work\nwork/..c\nwork/a..b\nwork/docs\nwork/docs/img\n");

    for (size_t i = 0; i < escaping.size(); ++i) {
        SCOPED_TRACE(escaping[i]);
        EXPECT_EQ(zip.Unzip("ignored", static_cast<int32_t>(i + 3)), ZipCannotCreateFile);
    }
    EXPECT_EQ(ListTree(scratch_.path()), "work\nwork/..c\nwork/a..b\nwork/docs\nwork/docs/img\n");
}

// Into a file that the caller opened: exactly the entry's bytes, or ZipExtractFailed; never for a
// directory entry.
TEST_F(Extract, EntryDataGoesIntoTheCallersOwnFile) {
    const std::string big = RandomBytes(2 * kEntryBlockSize + 5, 7);
    TestEntry broken = MakeEntry("bad", "data", 8);
    broken.crc = Crc32("data") ^ 1;
    Archive zip(ArchiveOf({MakeEntry("good", big, 8), broken, Folder("dir/")}));
    const auto into = [&](const char16_t* path, int32_t index) {
        const PlatformHandle file = PlatformCreateFile(path, kAttributeNormal);
        const ZipResult result = UnzipEntryData(zip.get(), index, file);
        PlatformCloseFile(file);
        return result;
    };
    EXPECT_EQ(into(u"good", 0), ZipOk);
    EXPECT_EQ(ReadFileBytes("good"), big);
    EXPECT_EQ(into(u"bad", 1), ZipExtractFailed);
    EXPECT_EQ(LastZipResult, ZipExtractFailed);
    EXPECT_EQ(into(u"dir", 2), ZipBadArgument);
    EXPECT_EQ(into(u"past", 3), ZipBadArgument);
    EXPECT_EQ(UnzipEntryData(zip.get(), 0, kInvalidPlatformHandle), ZipBadArgument);
    EXPECT_EQ(ListTree(work()), "bad\ndir\ngood\npast\n");  // the caller's files, nothing else
}

TEST_F(Extract, RefusesPathsThatDoNotFitTheWorkingBuffers) {
    std::u16string root;
    {
        Archive probe(ArchiveOf({MakeEntry("f", "data")}));
        root = probe.get()->state->rootFolder;
    }
    // Folder names of 259 units with the root folder, and of 260 with a unit more.
    const std::string longFolder(258 - root.size(), 'd');
    TestArchive archive =
        ArchiveOf({MakeEntry("f", "data"), Folder(longFolder + "xy/"), Folder(longFolder + "/")});
    Archive zip(archive);

    const std::string tooLong = "sub/" + std::string(256, 'n');  // 260 units with a separator
    EXPECT_EQ(zip.Unzip(tooLong, 0), ZipCannotCreateFile);
    EXPECT_EQ(zip.Unzip(longFolder + "xy/file", 0), ZipCannotCreateFile);
    EXPECT_EQ(zip.Unzip("ignored", 1), ZipCannotCreateFile);
    EXPECT_EQ(ListTree(work()), "");

    EXPECT_EQ(zip.Unzip("ignored", 2), ZipOk);  // exactly fits
#ifndef _WIN32                                  // Windows itself refuses folders this long
    EXPECT_TRUE(fs::is_directory(longFolder));
#endif
}

TEST_F(Extract, RejectsBadArgumentsBeforeTouchingAnything) {
    Archive zip(ArchiveOf({MakeEntry("a", "first"), MakeEntry("b", "second")}));
    ASSERT_EQ(zip.Unzip("b", 1), ZipOk);
    EXPECT_EQ(UnzipEntryToFile(nullptr, u"x", 0), ZipBadArgument);
    EXPECT_EQ(LastZipResult, ZipBadArgument);
    EXPECT_EQ(UnzipEntryToFile(zip.get(), nullptr, 0), ZipBadArgument);
    for (int32_t index : {-1, -2, 2}) {
        EXPECT_EQ(zip.Unzip("x", index), ZipBadArgument);
        EXPECT_EQ(zip.reader()->entryIndex, 1u) << "the reader has not moved";
    }
    zip.get()->kind = 2;
    EXPECT_EQ(zip.Unzip("x", 0), ZipWrongHandle);
    EXPECT_EQ(LastZipResult, ZipWrongHandle);
    zip.get()->kind = kZipArchiveKind;
    EXPECT_EQ(ListTree(work()), "b\n");

    // Any order of indexes works, with or without a preceding lookup.
    EXPECT_EQ(zip.Unzip("a", 0), ZipOk);
    EXPECT_EQ(ReadFileBytes("a"), "first");
}

TEST_F(Extract, CreatesNothingForAnEntryWhoseLocalHeaderDisagrees) {
    TestEntry e = MakeEntry("sub/corrupt", "data");
    e.localCrc = 1;
    Archive zip(ArchiveOf({e}));
    EXPECT_EQ(zip.Unzip("sub/corrupt", 0), ZipCorrupt);
    EXPECT_EQ(ListTree(work()), "");
}

TEST_F(Extract, CreatesNothingForAnEntryWhoseNameCannotBeConverted) {
    TestEntry file = MakeEntry("sub/\xC0\xAF.txt", "data");  // an overlong "/"
    file.flags = 0x0800;
    TestEntry folder = Folder("dir\xE4\xBD/");  // a truncated sequence
    folder.flags = 0x0800;
    TestEntry named = MakeEntry("caf\xC3\xA9/x.txt", "data");
    named.flags = 0x0800;
    Archive zip(ArchiveOf({file, folder, named}));
    EXPECT_EQ(zip.Unzip("sub/plain.txt", 0), ZipBadName);
    EXPECT_EQ(LastZipResult, ZipBadName);
    EXPECT_EQ(zip.Unzip("ignored", 1), ZipBadName);
    EXPECT_EQ(ListTree(scratch_.path()), "work\n");

    EXPECT_EQ(zip.Unzip(u"caf\u00E9/x.txt", 2), ZipOk);
    EXPECT_EQ(ReadFileBytes(fs::path(u"caf\u00E9") / "x.txt"), "data");
}

// Every entry of archives made by real archivers, unpacked the way the launcher does it, gives
// the bytes that Python's zipfile extracts from them.
TEST_F(Extract, MatchesWhatPythonExtractsFromRealArchives) {
    std::ifstream list(TestDataPath("extract_expected.txt"));
    ASSERT_TRUE(list.good());
    std::string line;
    std::map<std::string, std::vector<std::vector<std::string>>> byArchive;
    while (std::getline(list, line)) {
        std::vector<std::string> fields;
        std::stringstream split(line);
        for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
        ASSERT_EQ(fields.size(), 5u) << line;
        byArchive[fields[0]].push_back(fields);
    }
    ASSERT_EQ(byArchive.size(), 3u);
    for (const auto& [file, entries] : byArchive) {
        SCOPED_TRACE(file);
        const std::string bytes = ReadFileBytes(TestDataPath(file.c_str()));
        Archive zip(Bytes(bytes.begin(), bytes.end()));
        ASSERT_NE(zip.get(), nullptr);
        for (int32_t i = 0; i < static_cast<int32_t>(entries.size()); ++i) {
            const auto& expected = entries[static_cast<size_t>(i)];
            SCOPED_TRACE(expected[1]);
            ZipEntryInfo info{};
            ASSERT_EQ(GetZipEntry(zip.get(), i, &info), ZipOk);
            const fs::path target = work() / fs::path(info.name);
            // The launcher makes each file's folders itself, as not every archive lists them.
            if (expected[2] == "file") fs::create_directories(target.parent_path());
            ASSERT_EQ(zip.Unzip(target, i), ZipOk);
            if (expected[2] == "dir") {
                EXPECT_TRUE(fs::is_directory(target));
                continue;
            }
            const std::string content = ReadFileBytes(target);
            EXPECT_EQ(std::to_string(content.size()), expected[3]);
            char crc[9];
            std::snprintf(crc, sizeof crc, "%08x", Crc32(content));
            EXPECT_EQ(crc, expected[4]);
        }
    }
}

}  // namespace
