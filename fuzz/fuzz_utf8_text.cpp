// The UTF-8 checks and repair that every tag text passes through: whatever the bytes, the
// repaired text is valid, valid text comes back unchanged, and lower-casing keeps it valid.
#include <cstdlib>
#include <string>

#include "audio/utf8_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const bool valid = kestrune::IsValidUtf8(text);
    const std::string repaired = kestrune::RepairUtf8(text);
    if (!kestrune::IsValidUtf8(repaired))
        std::abort();
    if (valid && repaired != text)
        std::abort();
    const std::string lower = kestrune::LowerUtf8(repaired);
    if (!kestrune::IsValidUtf8(lower))
        std::abort();
    return 0;
}
