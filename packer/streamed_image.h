// The packed image written around a payload that is streamed into the file: the image is laid
// out first with the payload's size unknown (a leaf's place does not depend on its own size), the
// payload written at its place as it is produced, and then the image laid out again with the
// payload's size and checksum words and its other pieces written around it.
#pragma once

#include <cstdint>
#include <string>

#include "packer/byte_io.h"
#include "packer/file_sink.h"
#include "packer/pe_checksum.h"
#include "packer/pe_image.h"
#include "packer/pe_writer.h"
#include "packer/resource_tree.h"

// Marks the leaves that `streams` picks as streamed (there must be one) and lays out the image:
// `at` receives the file offset of the first one's bytes. False with BuildPackedImage's reason.
bool PlaceStreamedLeaves(const ByteBuffer& file, const PeImage& image, ResourceTree* tree,
                         bool (*streams)(const ResourceLeaf&), uint64_t* at, std::u16string* error);

// Gives every streamed leaf the `size` bytes, of PE word sum `wordSum`, that were written at `at`
// and builds the packed image, in which they are the pieces without data.
bool BuildAroundStreamed(const ByteBuffer& file, const PeImage& image, ResourceTree* tree,
                         uint64_t at, uint64_t size, uint64_t wordSum, PackedImage* packed,
                         std::u16string* error);

// Writes the packed image's pieces with data into `file`, copies the bytes at `at` to the place
// of every other streamed leaf, and makes the file as long as the image. False when writing
// failed (PlatformLastErrorText tells why).
bool WriteAroundStreamed(PlatformHandle file, const PackedImage& packed, uint64_t at);

// Appends `size` bytes from memory to the sink in blocks, adding them to `sum` by their offsets
// in the sink.
bool AppendInBlocks(FileSink* sink, const uint8_t* data, uint64_t size, PeWordSum* sum,
                    size_t blockSize = size_t{1} << 20);
