#include "packer/streamed_image.h"

#include <algorithm>

namespace {

// The file offset of each piece.
template <typename Visit>
void ForEachPiece(const PackedImage& packed, Visit visit) {
    uint64_t offset = 0;
    for (const ByteSpan& piece : packed.pieces) {
        visit(piece, offset);
        offset += piece.size;
    }
}

}  // namespace

bool PlaceStreamedLeaves(const ByteBuffer& file, const PeImage& image, ResourceTree* tree,
                         bool (*streams)(const ResourceLeaf&), uint64_t* at,
                         std::u16string* error) {
    for (ResourceLeaf& leaf : tree->leaves) {
        if (!streams(leaf)) continue;
        leaf.data = ByteBuffer();
        leaf.streamed = true;
        leaf.streamedSize = 0;
        leaf.streamedWordSum = 0;
    }
    PackedImage layout;
    if (!BuildPackedImage(file, image, tree, &layout, error)) return false;
    bool found = false;
    ForEachPiece(layout, [&](const ByteSpan& piece, uint64_t offset) {
        if (piece.data == nullptr && !found) {
            *at = offset;
            found = true;
        }
    });
    if (!found) *error = u"it has no payload resource";
    return found;
}

bool BuildAroundStreamed(const ByteBuffer& file, const PeImage& image, ResourceTree* tree,
                         uint64_t at, uint64_t size, uint64_t wordSum, PackedImage* packed,
                         std::u16string* error) {
    if (size > UINT32_MAX) {
        *error = u"the program would be larger than a PE file can be (4 GiB)";
        return false;
    }
    for (ResourceLeaf& leaf : tree->leaves) {
        if (!leaf.streamed) continue;
        leaf.streamedSize = static_cast<uint32_t>(size);
        leaf.streamedWordSum = wordSum;
    }
    if (!BuildPackedImage(file, image, tree, packed, error)) return false;
    // The first streamed leaf stays where its bytes were written.
    bool placed = false;
    bool first = true;
    ForEachPiece(*packed, [&](const ByteSpan& piece, uint64_t offset) {
        if (piece.data != nullptr || !first) return;
        placed = offset == at;
        first = false;
    });
    if (!placed) *error = u"its resources cannot be laid out around the payload";
    return placed;
}

bool WriteAroundStreamed(PlatformHandle file, const PackedImage& packed, uint64_t at) {
    bool written = true;
    ForEachPiece(packed, [&](const ByteSpan& piece, uint64_t offset) {
        if (!written) return;
        if (piece.data != nullptr) {
            written = WriteFileAt(file, offset, piece.data, piece.size);
        } else if (offset != at) {
            written = CopyWithinFile(file, at, offset, piece.size);
        }
    });
    return written && PlatformSetFileSize(file, packed.size);
}

bool AppendInBlocks(FileSink* sink, const uint8_t* data, uint64_t size, PeWordSum* sum,
                    size_t blockSize) {
    for (uint64_t done = 0; done < size;) {
        const auto n = static_cast<size_t>(std::min<uint64_t>(size - done, blockSize));
        sum->Add(sink->position(), data + done, n);
        if (!sink->Append(data + done, n)) return false;
        done += n;
    }
    return sink->Flush();
}
