// Puts the extraction folder in front of the loader's search path, which the child inherits.
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "platform/platform.h"

bool PrependToPath(const std::u16string& folder) {
    // Linux reads an empty entry in the list as the current directory, so a missing or empty
    // value there becomes the folder alone; Windows leaves such a value as it is.
    const uint32_t needed = PlatformGetEnvironmentVariable(kSearchPathVariable, nullptr, 0);
    if (needed == 0) {
        return kSearchPathMayStartEmpty &&
               PlatformSetEnvironmentVariable(kSearchPathVariable, folder.c_str());
    }
    // The size reported counts the old value's terminator already.
    const size_t units = folder.size() + needed + 2;
    std::vector<char16_t> oldValue(units, u'\0');
    const uint32_t length = PlatformGetEnvironmentVariable(kSearchPathVariable, oldValue.data(),
                                                           static_cast<uint32_t>(units));
    if (length == 0) {
        return kSearchPathMayStartEmpty &&
               PlatformSetEnvironmentVariable(kSearchPathVariable, folder.c_str());
    }
    if (length >= units) return false;  // the value changed under us; the buffer holds no text

    const std::u16string newValue = folder + kSearchPathSeparator + oldValue.data();
    return PlatformSetEnvironmentVariable(kSearchPathVariable, newValue.c_str());
}
