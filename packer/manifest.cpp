#include "packer/manifest.h"

#include "packer/text.h"
#include "resources/launcher_contract.h"

namespace {

// Where the value of the element's level attribute lies in the manifest's text, which is XML in
// UTF-8: false when the element or the attribute is not there.
bool FindLevel(const std::string& text, size_t* start, size_t* end) {
    const size_t element = text.find("<requestedExecutionLevel");
    if (element == std::string::npos) return false;
    const size_t close = text.find('>', element);
    // " level" with a blank before it, so that no other attribute ending in "level" is taken.
    for (size_t at = text.find("level", element); at < close; at = text.find("level", at + 1)) {
        const char before = text[at - 1];
        if (before != ' ' && before != '\t' && before != '\r' && before != '\n') continue;
        size_t quote = at + 5;
        while (quote < close && (text[quote] == ' ' || text[quote] == '=')) ++quote;
        if (quote >= close || (text[quote] != '"' && text[quote] != '\'')) return false;
        *start = quote + 1;
        *end = text.find(text[quote], *start);
        return *end < close;
    }
    return false;
}

}  // namespace

bool SetExecutionLevel(ResourceTree* tree, const std::u16string& level, std::u16string* error) {
    const std::string ascii(level.begin(), level.end());  // the levels are ASCII words
    bool found = false;
    for (ResourceLeaf& leaf : tree->leaves) {
        if (!KeyIsNumber(leaf.type, kResourceManifest) ||
            !KeyIsNumber(leaf.name, LAUNCHER_MANIFEST_ID)) {
            continue;
        }
        std::string text(leaf.data.begin(), leaf.data.end());
        size_t start = 0;
        size_t end = 0;
        if (!FindLevel(text, &start, &end)) {
            return Fail(error, u"its manifest has no requestedExecutionLevel element with a level");
        }
        text.replace(start, end - start, ascii);
        leaf.data.assign(text.begin(), text.end());
        found = true;
    }
    return found || Fail(error, u"it has no manifest (resource type 24, id 1)");
}
