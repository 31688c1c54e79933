// Packing in flat memory: the streamed zip writer and the image written around the streamed
// payload give exactly the bytes of the in-memory path (ZipWriter, BuildPackedImage) across
// block boundaries, the PE checksum summed piece by piece matches one summed over the whole
// file, and a failure anywhere on the way leaves OUTPUT as it was and no file beside it.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include <algorithm>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "packer/file_sink.h"
#include "packer/folder_walk.h"
#include "packer/pack_tool.h"
#include "packer/pe_checksum.h"
#include "packer/pe_format.h"
#include "packer/version_record.h"
#include "packer/zip_stream.h"
#include "packer/zip_writer.h"
#include "tests/packer/packer_test_support.h"
#include "tests/support/platform_faults.h"
#include "tests/support/scratch_folder.h"

namespace {

std::string Noise(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    std::string data(size, '\0');
    for (char& c : data) c = static_cast<char>(random());
    return data;
}

std::string Text(size_t size) {
    std::string data;
    for (int i = 0; data.size() < size; ++i) data += "line " + std::to_string(i % 97) + "\n";
    data.resize(size);
    return data;
}

// The PE checksum the plain way: every 16-bit word of the file folded in turn, the checksum
// field read as zero.
uint32_t PlainChecksum(const ByteBuffer& file, size_t checksumAt) {
    auto byte = [&](size_t i) -> uint32_t {
        const bool field = i >= checksumAt && i - checksumAt < 4;
        return i < file.size() && !field ? file[i] : 0;
    };
    uint32_t sum = 0;
    for (size_t i = 0; i < file.size(); i += 2) {
        sum += byte(i) | (byte(i + 1) << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return sum + static_cast<uint32_t>(file.size());
}

uint64_t PlainWordSum(const ByteBuffer& bytes) {
    uint64_t sum = 0;
    for (size_t i = 0; i < bytes.size(); ++i)
        sum += static_cast<uint64_t>(bytes[i]) << (8 * (i % 2));
    return sum;
}

// Whether the image's checksum field holds its checksum, computed independently.
void ExpectChecksumHolds(const ByteBuffer& file) {
    const ReadImage read = MustRead(file);
    const size_t at = read.image.optionalHeaderOffset + kOptionalCheckSum;
    EXPECT_EQ(ReadLe32(file.data() + at), PlainChecksum(file, at));
}

// Access times that reading the files and listing the folders (the packer, then the reference)
// no longer move, so that both record the same times: a relatime mount moves an access time that
// is not later than the file's last change, or a day old. POSIX sets them a day ahead.
void SettleAccessTimes(const fs::path& root) {
#ifndef _WIN32
    auto settle = [](const fs::path& path) {
        struct stat info {};
        ASSERT_EQ(stat(path.c_str(), &info), 0);
        const timespec times[2] = {{std::time(nullptr) + 86400, 0}, info.st_mtim};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    };
    for (const auto& entry : fs::recursive_directory_iterator(root)) settle(entry.path());
    settle(root);
#else
    // Windows moves an access time rarely, if at all; Wine on a relatime mount moves it at the
    // first read after a change. Read everything once: later reads move nothing.
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) ReadFileBytes(entry.path());
    }
#endif
}

class Streaming : public ::testing::Test {
  protected:
    std::u16string Path(const std::u16string& relative) const {
        return scratch_.text() + u"/" + relative;
    }
    void MakeFile(const std::string& relative, const std::string& content) {
        fs::create_directories((scratch_.path() / relative).parent_path());
        WriteFileBytes(scratch_.path() / relative, content);
    }
    ByteBuffer Bytes(const std::string& relative) {
        return ToBuffer(ReadFileBytes(scratch_.path() / relative));
    }

    // Files around the block sizes used below: empty, one byte, a block less one, a block and
    // one more, several blocks, incompressible ones that grow when deflated, and compressible.
    void MakeAwkwardFolder(size_t block) {
        MakeFile("app/zandro.exe", Text(3000));
        MakeFile("app/empty.txt", "");
        MakeFile("app/one.txt", "1");
        MakeFile("app/sub/block-less-one.bin", Noise(block - 1, 1));
        MakeFile("app/sub/block.txt", Text(block));
        MakeFile("app/sub/block-more-one.bin", Noise(block + 1, 2));
        MakeFile("app/sub/blocks.txt", Text(3 * block + 7));
        MakeFile("app/sub/grows.bin", Noise(5 * block + 3, 3));
        MakeFile("app/sub/tiny-grows.bin", Noise(7, 4));
        fs::create_directories(scratch_.path() / "app" / "sub" / "empty-folder");
        for (int i = 0; i < 40; ++i) {
            MakeFile("app/many/" + std::to_string(i) + ".txt", Text(static_cast<size_t>(i * 37)));
        }
        SettleAccessTimes(scratch_.path() / "app");
    }

    // The archive ZipFolder wrote before streaming: every file read whole, ZipWriter in memory.
    ByteBuffer ReferenceZip(const std::u16string& folder, int level) {
        std::vector<WalkedEntry> entries;
        std::u16string error;
        EXPECT_TRUE(WalkFolder(folder, LimitsBelow(u"VORNIX"), &entries, &error)) << Narrow(error);
        ZipWriter writer;
        writer.level = level;
        for (const WalkedEntry& entry : entries) {
            ByteBuffer data;
            if (!entry.facts.isFolder) {
                EXPECT_TRUE(PlatformReadWholeFile(entry.path.c_str(), 0xFFFFFFFF, &data));
            }
            EXPECT_TRUE(AddZipEntry(&writer, entry.facts, data, &error)) << Narrow(error);
        }
        EXPECT_TRUE(FinishZip(&writer, &error));
        return writer.archive;
    }

    // The packed image Build made before streaming: the archive in every payload leaf, and the
    // version record naming the file out.exe.
    ByteBuffer ReferenceImage(const ByteBuffer& stub, const ByteBuffer& zip) {
        ReadImage read = MustRead(stub);
        for (ResourceLeaf& leaf : read.tree.leaves) {
            if (KeyIsText(leaf.type, u"ZIP") && KeyIsNumber(leaf.name, 117)) leaf.data = zip;
            if (!KeyIsNumber(leaf.type, kResourceVersion)) continue;
            VersionNode root;
            VersionEdit names;
            names.texts = {{u"OriginalFilename", u"out.exe"}, {u"InternalName", u"out"}};
            std::u16string error;
            EXPECT_TRUE(ReadVersionRecord(leaf.data, &root, &error) &&
                        EditVersionRecord(&root, names, &error) &&
                        WriteVersionRecord(root, &leaf.data));
        }
        PackedImage packed;
        std::u16string error;
        EXPECT_TRUE(BuildPackedImage(stub, read.image, &read.tree, &packed, &error));
        return Joined(packed);
    }

    int Pack(std::vector<std::u16string> args) {
        std::u16string streams[2];
        const int status = RunPackTool(
            args, PackConsole{[](bool toError, const std::u16string& text, void* context) {
                                  static_cast<std::u16string*>(context)[toError ? 1 : 0] += text;
                              },
                              streams});
        err_ = streams[1];
        return status;
    }

    ScratchFolder scratch_;
    std::u16string err_;
};

TEST_F(Streaming, ZipStreamWritesZipWritersBytesAcrossBlockBoundaries) {
    constexpr size_t kBlock = 4096;
    MakeAwkwardFolder(kBlock);
    std::vector<WalkedEntry> entries;
    std::u16string error;
    ASSERT_TRUE(WalkFolder(Path(u"app"), LimitsBelow(u"VORNIX"), &entries, &error));
    // Read blocks and sink blocks small and large, odd and even; the archive at an odd offset
    // in the file too.
    const size_t readBlocks[] = {kBlock, 1000, 1 << 20};
    const size_t sinkBlocks[] = {kBlock, 77, 1 << 20};
    for (int level : {0, 1, 6, 9}) {
        const ByteBuffer reference = ReferenceZip(Path(u"app"), level);
        for (size_t r = 0; r < 3; ++r) {
            SCOPED_TRACE("level " + std::to_string(level) + ", blocks " +
                         std::to_string(readBlocks[r]) + "/" + std::to_string(sinkBlocks[r]));
            const uint64_t start = r == 1 ? 3 : 0;
            const std::u16string file = Path(u"zip" + std::u16string(1, u'0' + r));
            const PlatformHandle out = PlatformCreateFile(file.c_str(), kAttributeNormal);
            ASSERT_NE(out, kInvalidPlatformHandle);
            FileSink sink(out, start, sinkBlocks[r]);
            ZipStream zip;
            zip.sink = &sink;
            zip.level = level;
            zip.blockSize = readBlocks[r];
            for (const WalkedEntry& entry : entries) {
                ASSERT_EQ(AddZipStreamEntry(&zip, entry.facts, entry.path, &error),
                          ZipStreamStatus::kAdded)
                    << Narrow(error);
            }
            ASSERT_EQ(FinishZipStream(&zip, &error), ZipStreamStatus::kAdded);
            PlatformCloseFile(out);
            const ByteBuffer written = ToBuffer(ReadFileBytes(fs::path(file)));
            ASSERT_EQ(written.size(), start + reference.size());
            EXPECT_TRUE(std::equal(reference.begin(), reference.end(), written.begin() + start));
            EXPECT_EQ(sink.position(), reference.size());
            EXPECT_EQ(zip.sum.total, PlainWordSum(reference));
        }
    }
}

TEST_F(Streaming, WordSumsOfPartsAddUpAtAnyOffset) {
    const std::string text = Noise(100003, 9);
    const ByteBuffer bytes(text.begin(), text.end());
    for (size_t cut : {size_t{0}, size_t{1}, size_t{7}, size_t{8}, size_t{65537}, bytes.size()}) {
        PeWordSum sum;
        sum.Add(0, bytes.data(), cut);
        sum.Add(cut, bytes.data() + cut, bytes.size() - cut);
        EXPECT_EQ(sum.total, PlainWordSum(bytes)) << cut;
    }
    // The checksum field counts as zero: the words before it and after it.
    PeWordSum around;
    around.Add(0, bytes.data(), 100);
    around.Add(104, bytes.data() + 104, bytes.size() - 104);
    EXPECT_EQ(FinishPeChecksum(around.total, bytes.size()), PlainChecksum(bytes, 100));
}

// The whole tool against the in-memory path, over each fixture stub (a new resource section, the
// section rewritten in place, a signed launcher whose certificate is dropped) and every level.
TEST_F(Streaming, PackedImagesAreTheInMemoryPathsByteForByte) {
    MakeAwkwardFolder(1 << 20);  // blocks of the tool's own size
    for (const char* stubName : {"stub_reloc_after.exe", "stub_rsrc_last.exe", "stub_signed.exe"}) {
        const ByteBuffer stub = Fixture(stubName);
        const std::u16string stubPath =
            u"" TEST_DATA_DIR "/packer/" + fs::path(stubName).u16string();
        for (int level : {0, 1, 9}) {
            SCOPED_TRACE(std::string(stubName) + " level " + std::to_string(level));
            const std::u16string levelText(1, static_cast<char16_t>(u'0' + level));
            ASSERT_EQ(Pack({u"--level", levelText, stubPath, Path(u"app"), Path(u"out.exe")}),
                      kPackDone)
                << Narrow(err_);
            const ByteBuffer packed = Bytes("out.exe");
            EXPECT_TRUE(packed == ReferenceImage(stub, ReferenceZip(Path(u"app"), level)));
            ExpectChecksumHolds(packed);
        }
    }
    // A .zip SOURCE, embedded as it is.
    const ByteBuffer zip = ReferenceZip(Path(u"app"), 6);
    WriteFileBytes(scratch_.path() / "app.zip", std::string(zip.begin(), zip.end()));
    const std::u16string stub = u"" TEST_DATA_DIR "/packer/stub_rsrc_last.exe";
    ASSERT_EQ(Pack({stub, Path(u"app.zip"), Path(u"out.exe")}), kPackDone) << Narrow(err_);
    EXPECT_TRUE(Bytes("out.exe") == ReferenceImage(Fixture("stub_rsrc_last.exe"), zip));
    ExpectChecksumHolds(Bytes("out.exe"));
    EXPECT_EQ(PackLeftovers(scratch_.path()), std::vector<std::string>{"out.exe"});
}

// A launcher with the payload in two languages: the second copy is made from the first in the
// file, after it.
TEST_F(Streaming, EveryPayloadLanguageGetsTheArchive) {
    MakeFile("app/zandro.exe", Text(5000));
    MakeFile("app/big.bin", Noise(3 << 20, 5));
    SettleAccessTimes(scratch_.path() / "app");
    const ByteBuffer stub = Fixture("stub_reloc_after.exe");
    ReadImage read = MustRead(stub);
    ResourceLeaf second = *FindLeaf(read.tree, 0, 117);
    second.language = static_cast<uint16_t>(second.language + 1);
    second.data = ByteBuffer(5, 7);
    read.tree.leaves.push_back(second);
    PackedImage twoPayloads;
    std::u16string error;
    ASSERT_TRUE(BuildPackedImage(stub, read.image, &read.tree, &twoPayloads, &error));
    const ByteBuffer doubled = Joined(twoPayloads);
    WriteFileBytes(scratch_.path() / "two.exe", std::string(doubled.begin(), doubled.end()));

    ASSERT_EQ(Pack({Path(u"two.exe"), Path(u"app"), Path(u"out.exe")}), kPackDone) << Narrow(err_);
    const ByteBuffer packed = Bytes("out.exe");
    EXPECT_TRUE(packed == ReferenceImage(doubled, ReferenceZip(Path(u"app"), 9)));
    ExpectChecksumHolds(packed);
}

// Each platform call on the way fails once, at every place it is made, and a stop is asked for
// at every place the packing looks: OUTPUT keeps its earlier content and nothing is left beside
// it.
TEST_F(Streaming, AFailureAnywhereLeavesOutputAndNoFileBesideIt) {
    MakeFile("app/zandro.exe", Text(5000));
    MakeFile("app/big.bin", Noise((2 << 20) + 5, 6));  // several blocks of the sink
    MakeFile("app/text.txt", Text(3 << 19));
    SettleAccessTimes(scratch_.path() / "app");
    WriteFileBytes(scratch_.path() / "out.exe", "an earlier output");
    const std::u16string stub = u"" TEST_DATA_DIR "/packer/stub_reloc_after.exe";
    const ByteBuffer zip = ReferenceZip(Path(u"app"), 1);
    WriteFileBytes(scratch_.path() / "app.zip", std::string(zip.begin(), zip.end()));
    const FaultPoint write = MakeFaultPoint<&PlatformCalls::PlatformWriteFile, false>("WriteFile");
    const FaultPoint seek = MakeFaultPoint<&PlatformCalls::PlatformSeekFile, false>("SeekFile");
    const FaultPoint size =
        MakeFaultPoint<&PlatformCalls::PlatformSetFileSize, false>("SetFileSize");
    // Ctrl-C or a signal, noted at any of the places where the packing looks for it.
    const FaultPoint stop = MakeFaultPoint<&PlatformCalls::PlatformStopRequested, 130>("stop");
    const std::pair<FaultPoint, const char16_t*> cases[] = {
        {write, u"app"},
        {seek, u"app"},
        {MakeFaultPoint<&PlatformCalls::PlatformReadFile, false>("ReadFile"), u"app"},
        {MakeFaultPoint<&PlatformCalls::PlatformOpenFileToRead, kInvalidPlatformHandle>(
             "OpenFileToRead"),
         u"app"},
        {size, u"app"},
        {write, u"app.zip"},
        {seek, u"app.zip"},
        {size, u"app.zip"},
        {MakeFaultPoint<&PlatformCalls::PlatformMapFile, false>("MapFile"), u"app.zip"},
        {stop, u"app"},
        {stop, u"app.zip"},
    };
    for (const auto& [point, source] : cases) {
        for (int n = 1;; ++n) {
            SCOPED_TRACE(std::string(point.name) + " call " + std::to_string(n) + " for " +
                         Narrow(source));
            int status = 0;
            bool reached = false;
            {
                SystemCallsAgain restore;
                point.failNth(n);
                status = Pack({u"--level", u"1", stub, Path(source), Path(u"out.exe")});
                reached = point.reached();
            }
            if (!reached) {
                EXPECT_EQ(status, kPackDone) << Narrow(err_);
                ExpectChecksumHolds(Bytes("out.exe"));
                WriteFileBytes(scratch_.path() / "out.exe", "an earlier output");
                EXPECT_GT(n, 1);
                break;
            }
            EXPECT_NE(status, kPackDone);
            const bool stopped = std::string(point.name) == "stop";
            EXPECT_EQ(status == 130, stopped);
            EXPECT_NE(err_.find(stopped ? u"launcher-pack: stopped: " : u"launcher-pack: error: "),
                      std::u16string::npos);
            EXPECT_EQ(ReadFileBytes(scratch_.path() / "out.exe"), "an earlier output");
            EXPECT_EQ(PackLeftovers(scratch_.path()), std::vector<std::string>{"out.exe"});
            if (n > 200) break;
        }
    }
}

}  // namespace
