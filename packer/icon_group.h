// Icons: an .ico file read into its images, and a program's icon group replaced by them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "packer/byte_io.h"
#include "packer/resource_tree.h"

// One image of an icon: the directory fields that an icon group repeats, and its bytes (a
// bitmap with its header, or a PNG file).
struct IconImage {
    uint8_t width;
    uint8_t height;
    uint8_t colorCount;
    uint8_t reserved;
    uint16_t planes;
    uint16_t bitCount;
    ByteBuffer data;
};

// Reads an .ico file. False with a reason when it is not one: a wrong header, no images, an
// image outside the file, or an image that is neither a bitmap nor a PNG.
bool ReadIconFile(const ByteBuffer& file, std::vector<IconImage>* images, std::u16string* error);

// Replaces the program's first icon group (the one the shell shows) by one of `images`, under
// the same name and languages; the old group's images go unless another group uses them, and
// the new ones take the lowest free numbers. With no group, group 1 is added in `language`.
// False when the numbers for the new images run out.
bool ReplaceIconGroup(ResourceTree* tree, const std::vector<IconImage>& images, uint16_t language,
                      std::u16string* error);
