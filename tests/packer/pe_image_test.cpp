// Reading PE images and writing them again with new resources: what is kept, what changes, and
// what is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/packer/packer_test_support.h"

namespace {

bool ContainsText(const std::u16string& text, const char16_t* part) {
    return text.find(part) != std::u16string::npos;
}

// Packs `file` with its payload replaced by `payload`.
PackedImage PackWithPayload(const ByteBuffer& file, ResourceTree* tree, const ByteBuffer& payload) {
    PeImage image;
    std::u16string error;
    PackedImage packed;
    EXPECT_TRUE(ReadPeImage(file, &image, &error));
    EXPECT_TRUE(ReadResourceTree(file, image, tree, &error));
    FindLeaf(tree, 0, 117)->data = payload;
    EXPECT_TRUE(BuildPackedImage(file, image, tree, &packed, &error))
        << std::string(error.begin(), error.end());
    return packed;
}

TEST(PeImage, ReadsTheStubsSectionsAndResources) {
    for (const char* name : {"stub_reloc_after.exe", "stub_rsrc_last.exe", "stub_signed.exe"}) {
        SCOPED_TRACE(name);
        ReadImage read = MustRead(Fixture(name));
        EXPECT_EQ(read.image.sectionAlignment, 0x1000u);
        EXPECT_EQ(read.image.fileAlignment, 0x200u);
        ASSERT_EQ(read.tree.leaves.size(), 6u);
        // Directory order: the named type first, then the numbered ones, rising.
        EXPECT_TRUE(KeyIsText(read.tree.leaves[0].type, u"zip"));
        EXPECT_EQ(read.tree.leaves[0].language, 1033);
        const ByteBuffer& payload = read.tree.leaves[0].data;
        ASSERT_GE(payload.size(), 4u);
        EXPECT_EQ(ReadLe32(payload.data()), 0x04034B50u);
        ASSERT_NE(FindLeaf(read.tree, kResourceVersion, 1), nullptr);
        EXPECT_EQ(FindLeaf(read.tree, kResourceVersion, 1)->data.size(), 556u);
    }
}

// Everything outside the fields that must change stays as it was; the new section holds the
// same resources with the new payload.
TEST(PeImage, NewSectionKeepsEveryOtherByte) {
    const ByteBuffer stub = Fixture("stub_reloc_after.exe");
    ResourceTree tree;
    const ByteBuffer payload(70000, 0x5A);
    const PackedImage packed = PackWithPayload(stub, &tree, payload);
    EXPECT_FALSE(packed.inPlace);
    const ByteBuffer out = Joined(packed);
    ASSERT_EQ(out.size(), packed.size);

    const ReadImage before = MustRead(stub);
    std::vector<std::pair<uint32_t, uint32_t>> changed = {
        {before.image.fileHeaderOffset + 2, 2},  // NumberOfSections
        {before.image.optionalHeaderOffset + kOptionalSizeOfImage, 4},
        {before.image.optionalHeaderOffset + kOptionalCheckSum, 4},
        {before.image.optionalHeaderOffset + kOptionalDirectories +
             kDirectorySize * kResourceDirectory,
         kDirectorySize},
        {before.image.sectionTableOffset + 3 * kSectionHeaderSize, kSectionHeaderSize}};
    ASSERT_GE(out.size(), stub.size());
    for (size_t i = 0; i < stub.size(); ++i) {
        const bool mayChange = std::any_of(changed.begin(), changed.end(), [&](const auto& field) {
            return i >= field.first && i < field.first + field.second;
        });
        if (!mayChange) {
            ASSERT_EQ(out[i], stub[i]) << "offset " << i;
        }
    }

    const ReadImage after = MustRead(out);
    ASSERT_EQ(after.image.sections.size(), 4u);
    const PeSection& added = after.image.sections.back();
    EXPECT_EQ(added.virtualAddress % 0x1000, 0u);
    EXPECT_GE(added.rawOffset, stub.size());  // behind the trailing data, which stays put
    EXPECT_EQ(ReadLe32(out.data() + after.image.optionalHeaderOffset + kOptionalSizeOfImage),
              AlignUp(added.virtualAddress + added.virtualSize, 0x1000));
    ASSERT_EQ(after.tree.leaves.size(), before.tree.leaves.size());
    for (size_t i = 0; i < before.tree.leaves.size(); ++i) {
        const ResourceLeaf& old = before.tree.leaves[i];
        const ResourceLeaf& now = after.tree.leaves[i];
        EXPECT_TRUE(SameKey(old.type, now.type) && SameKey(old.name, now.name));
        EXPECT_EQ(old.language, now.language);
        EXPECT_EQ(now.data, i == 0 ? payload : old.data) << "leaf " << i;
    }
}

TEST(PeImage, LastResourceSectionIsRewrittenInPlaceAndAgainWhenRepacked) {
    const ByteBuffer stub = Fixture("stub_rsrc_last.exe");
    ResourceTree tree;
    const PackedImage first = PackWithPayload(stub, &tree, ByteBuffer(5000, 1));
    EXPECT_TRUE(first.inPlace);
    const ByteBuffer once = Joined(first);
    const ReadImage read = MustRead(once);
    ASSERT_EQ(read.image.sections.size(), 2u);
    EXPECT_EQ(read.image.sections[1].rawOffset, MustRead(stub).image.sections[1].rawOffset);

    // A packed image whose new section is last is packed again in place, shrinking as needed.
    const ByteBuffer reloc =
        Joined(PackWithPayload(Fixture("stub_reloc_after.exe"), &tree, ByteBuffer(90000, 2)));
    ResourceTree again;
    const PackedImage second = PackWithPayload(reloc, &again, ByteBuffer(100, 3));
    EXPECT_TRUE(second.inPlace);
    const ByteBuffer twice = Joined(second);
    EXPECT_LT(twice.size(), reloc.size());
    EXPECT_EQ(MustRead(twice).image.sections.size(), 4u);
    EXPECT_EQ(FindLeaf(MustRead(twice).tree, 0, 117)->data, ByteBuffer(100, 3));
}

// Another section's data may run into the resource section's: those bytes are kept where they
// are, and the resources are written behind them.
TEST(PeImage, DataThatReachesIntoTheResourceSectionIsKept) {
    ByteBuffer stub = Fixture("stub_rsrc_last.exe");
    const ReadImage read = MustRead(stub);
    ASSERT_EQ(read.image.sections.size(), 2u);
    const PeSection& first = read.image.sections[0];
    const PeSection& last = read.image.sections[1];
    ASSERT_GT(last.rawSize, 0x200u);
    const uint32_t reach = last.rawOffset + 0x200 - first.rawOffset;
    WriteLe32(stub.data() + first.headerOffset + kSectionRawSize, reach);

    ResourceTree tree;
    const PackedImage packed = PackWithPayload(stub, &tree, ByteBuffer(10, 7));
    EXPECT_TRUE(packed.inPlace);
    const ByteBuffer out = Joined(packed);
    const ReadImage after = MustRead(out);
    ASSERT_EQ(after.image.sections.size(), 2u);
    EXPECT_EQ(after.image.sections[0].rawSize, reach);
    EXPECT_EQ(after.image.sections[1].rawOffset, last.rawOffset + 0x200);
    const auto from = static_cast<ptrdiff_t>(first.rawOffset);
    EXPECT_TRUE(std::equal(stub.begin() + from, stub.begin() + from + reach, out.begin() + from));
    EXPECT_EQ(FindLeaf(after.tree, 0, 117)->data, ByteBuffer(10, 7));
}

TEST(PeImage, CertificateTableIsDroppedWithItsBytes) {
    ResourceTree signedTree;
    ResourceTree plainTree;
    const PackedImage fromSigned =
        PackWithPayload(Fixture("stub_signed.exe"), &signedTree, ByteBuffer(10, 7));
    const PackedImage fromPlain =
        PackWithPayload(Fixture("stub_rsrc_last.exe"), &plainTree, ByteBuffer(10, 7));
    EXPECT_TRUE(fromSigned.droppedSignature);
    EXPECT_FALSE(fromPlain.droppedSignature);
    // The stubs differ only in the certificate, its directory entry and the checksum.
    EXPECT_EQ(Joined(fromSigned), Joined(fromPlain));
}

TEST(PeImage, ChecksumIsTheOnesComplementSumOfTheWordsPlusTheLength) {
    const uint8_t bytes[] = {0xFF, 0xFF, 0x02, 0x00, 0x01};
    // 0xFFFF + 0x0002 folds to 0x0002; the odd last byte adds 0x01; plus 5 bytes.
    EXPECT_EQ(PeChecksum({{bytes, 2}, {bytes + 2, 3}}), 0x0003u + 5);
    EXPECT_EQ(PeChecksum({{bytes, 1}, {bytes + 1, 4}}), PeChecksum({{bytes, 5}}));
}

// Every prefix of the stub that cuts into its headers or sections is refused, without reading
// beyond it.
TEST(PeImage, RefusesTruncatedImagesAtEveryLength) {
    const ByteBuffer stub = Fixture("stub_reloc_after.exe");
    const ReadImage whole = MustRead(stub);
    uint64_t sectionsEnd = 0;
    for (const PeSection& s : whole.image.sections)
        sectionsEnd = std::max<uint64_t>(sectionsEnd, s.rawOffset + s.rawSize);
    for (size_t length = 0; length < stub.size(); ++length) {
        const ByteBuffer cut(stub.begin(), stub.begin() + static_cast<ptrdiff_t>(length));
        PeImage image;
        ResourceTree tree;
        std::u16string error;
        const bool read =
            ReadPeImage(cut, &image, &error) && ReadResourceTree(cut, image, &tree, &error);
        if (length < sectionsEnd) {
            EXPECT_FALSE(read) << "length " << length;
        }
    }
}

struct HeaderDamage {
    const char* what;
    uint32_t offset;  // from the start of the file
    std::vector<uint8_t> bytes;
    const char16_t* reason;
};

TEST(PeImage, RefusesHeadersThatDoNotDescribeAProgram) {
    // The stub: PE header at 0x80, COFF header at 0x84, optional header at 0x98, sections at
    // 0x178 (.text, .rsrc, .reloc).
    const HeaderDamage cases[] = {
        {"no MZ", 0, {'Z', 'M'}, u"no \"MZ\""},
        {"PE header beyond the end", 0x3C, {0, 0, 1, 0}, u"no PE header"},
        {"PE header off its boundary", 0x3C, {0x82, 0}, u"no PE header"},
        {"x64 machine", 0x84, {0x64, 0x86}, u"32-bit x86"},
        {"a library", 0x84 + 18, {0x02, 0x21}, u"library"},
        {"PE32+ magic", 0x98, {0x0B, 0x02}, u"64-bit"},
        {"short optional header", 0x84 + 16, {0x40, 0}, u"optional header"},
        {"file alignment not a power of two", 0x98 + 36, {0x00, 0x03, 0, 0}, u"alignment"},
        {"no sections", 0x84 + 2, {0, 0}, u"no sections"},
        {"section data past the end", 0x178 + 40 + 20, {0, 0, 0, 1}, u"truncated"},
        {"overlapping sections", 0x178 + 40 + 12, {0, 0x10, 0, 0}, u"overlap"},
        {"headers larger than the file", 0x98 + 60, {0, 0, 0, 1}, u"size of the headers"},
    };
    const ByteBuffer stub = Fixture("stub_reloc_after.exe");
    for (const HeaderDamage& damage : cases) {
        SCOPED_TRACE(damage.what);
        ByteBuffer file = stub;
        std::copy(damage.bytes.begin(), damage.bytes.end(), file.begin() + damage.offset);
        PeImage image;
        std::u16string error;
        EXPECT_FALSE(ReadPeImage(file, &image, &error));
        EXPECT_TRUE(ContainsText(error, damage.reason)) << std::string(error.begin(), error.end());
    }
}

TEST(PeImage, RefusesResourceTreesThatLoopOrLeaveTheirSection) {
    const ByteBuffer stub = Fixture("stub_reloc_after.exe");
    const ReadImage read = MustRead(stub);
    const uint32_t root = read.image.sections[1].rawOffset;  // .rsrc holds only the tree
    struct TreeDamage {
        const char* what;
        uint32_t offset;
        uint32_t value;
        const char16_t* reason;
    };
    const TreeDamage cases[] = {
        {"a type table that is the root", root + 16 + 4, 0x80000000, u"twice"},
        {"a name outside the section", root + 16, 0x8000FFF0, u"name lies outside"},
        {"a table outside the section", root + 16 + 4, 0x8000FFF0, u"table lies outside"},
        {"a leaf at the type level", root + 16 + 4, 0x00000010, u"three levels"},
        {"a numbered root entry above 16 bits", root + 24, 0x00012345, u"too large"},
        // The stub's tables take 328 bytes; the payload's data record comes first after them.
        {"resource data outside the file", root + 328, 0x7FFF0000, u"data lies outside"},
    };
    for (const TreeDamage& damage : cases) {
        SCOPED_TRACE(damage.what);
        ByteBuffer file = stub;
        WriteLe32(file.data() + damage.offset, damage.value);
        ResourceTree tree;
        std::u16string error;
        EXPECT_FALSE(ReadResourceTree(file, read.image, &tree, &error));
        EXPECT_TRUE(ContainsText(error, damage.reason)) << std::string(error.begin(), error.end());
    }
}

TEST(PeImage, ResourcesNeedTheirDirectorySlot) {
    ByteBuffer stub = Fixture("stub_rsrc_last.exe");
    const ReadImage read = MustRead(stub);
    WriteLe32(stub.data() + read.image.optionalHeaderOffset + 92, 2);  // two directory slots
    PeImage image;
    ResourceTree tree;
    PackedImage packed;
    std::u16string error;
    ASSERT_TRUE(ReadPeImage(stub, &image, &error) && ReadResourceTree(stub, image, &tree, &error));
    EXPECT_TRUE(tree.leaves.empty());
    tree.leaves.push_back({NumberKey(10), NumberKey(117), 0, 0, ByteBuffer(4, 1)});
    EXPECT_FALSE(BuildPackedImage(stub, image, &tree, &packed, &error));
    EXPECT_TRUE(ContainsText(error, u"no slot for a resource directory"));
}

TEST(PeImage, NewSectionNeedsFreeRoomAfterTheSectionTable) {
    ByteBuffer stub = Fixture("stub_reloc_after.exe");
    const ReadImage read = MustRead(stub);
    stub[read.image.sectionTableOffset + 3 * kSectionHeaderSize + 39] = 1;
    PeImage image;
    ResourceTree tree;
    PackedImage packed;
    std::u16string error;
    ASSERT_TRUE(ReadPeImage(stub, &image, &error) && ReadResourceTree(stub, image, &tree, &error));
    EXPECT_FALSE(BuildPackedImage(stub, image, &tree, &packed, &error));
    EXPECT_TRUE(ContainsText(error, u"no room for another section header"));
}

// An image Windows would not map is refused, whatever the file format allows; the size counted
// is the image's in memory, payload included, laid out without its bytes.
TEST(PeImage, RefusesImagesThatWindowsCannotMap) {
    for (const char* stubName : {"stub_rsrc_last.exe", "stub_reloc_after.exe"}) {
        SCOPED_TRACE(stubName);
        const ByteBuffer stub = Fixture(stubName);
        PeImage image;
        ResourceTree tree;
        std::u16string error;
        ASSERT_TRUE(ReadPeImage(stub, &image, &error) &&
                    ReadResourceTree(stub, image, &tree, &error));
        ResourceLeaf* payload = FindLeaf(&tree, 0, 117);
        ASSERT_NE(payload, nullptr);
        payload->data.clear();
        payload->streamed = true;
        PackedImage packed;
        payload->streamedSize = static_cast<uint32_t>(kMaxMappedImageSize - 0x100000);
        EXPECT_TRUE(BuildPackedImage(stub, image, &tree, &packed, &error)) << Narrow(error);
        payload->streamedSize = static_cast<uint32_t>(kMaxMappedImageSize);
        EXPECT_FALSE(BuildPackedImage(stub, image, &tree, &packed, &error));
        EXPECT_TRUE(ContainsText(error, u"1.88 GB")) << Narrow(error);
        EXPECT_TRUE(ContainsText(error, u"below 2 GiB")) << Narrow(error);
    }
}

}  // namespace
