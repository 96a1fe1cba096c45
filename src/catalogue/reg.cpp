// Reading registry texts, and the path helpers of the listing and the operations.
#include "catalogue/reg.h"

#include <algorithm>
#include <cstdint>

#include "catalogue/target_verdict.h"
#include "platform/desktop.h"
#include "platform/failure.h"

namespace ssr {

namespace {
// Positions of the first zero are held in a signed 16-bit counter.
constexpr std::size_t kMaxPosition = 32767;

// The text that fills `size` bytes of a buffer of blank characters, cut
// before its first zero: an odd last byte is a character of its own.
void CutText(Text& text, std::uint32_t size) {
    text.resize((static_cast<std::size_t>(size) + 1) / 2);
    if (size % 2 != 0) text.back() = static_cast<char16_t>(text.back() & 0x00ff);
    const std::size_t zero = Find(text, u'\0');
    if (zero == Text::npos) return;
    if (zero + 1 > kMaxPosition) throw Failure(kOverflow);
    text.resize(zero);
}

}  // namespace

Text ReadRegistryString(Registry& registry, RegHandle root, TextView subkey_path, TextView value_name,
                        TextView default_text, std::uint32_t view) {
    RegHandle key = 0;
    (void)registry.open_key(root, subkey_path, view, &key);  // on failure key stays 0 and the query fails

    struct Closer {
        Registry& registry;
        RegHandle key;
        ~Closer() { registry.close_key(key); }
    } closer{registry, key};

    Text result;
    ReadRegistryString(registry, key, value_name, default_text, result);
    return result;
}

void ReadRegistryString(Registry& registry, RegHandle key, TextView value_name, TextView default_text, Text& result) {
    // Whatever room the buffer has is offered at once; only a larger text
    // needs a second call, with the size the first one gave.
    if (result.size() < result.capacity()) result.resize(result.capacity());
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::uint32_t type = 0;
        auto size = static_cast<std::uint32_t>(std::min<std::size_t>(result.size() * 2, UINT32_MAX));
        const long status =
            registry.query_value_ex(key, value_name, &type, reinterpret_cast<std::uint8_t*>(result.data()), &size);
        if (status == kErrorMoreData && attempt == 0) {
            result.resize((static_cast<std::size_t>(size) + 1) / 2);
            continue;
        }
        if (status != kErrorSuccess || (type != kRegSz && type != kRegExpandSz)) break;
        CutText(result, size);
        return;
    }
    result.assign(default_text);
}

Text DrivePathFrom(TextView text) {
    const std::size_t colon = text.rfind(u':');
    if (colon == TextView::npos) return {};
    if (colon == 0) throw Failure(kInvalidProcedureCall);
    return Text(text.substr(colon - 1));
}

bool FileExists(Desktop& desktop, TextView path, ProgramView view) noexcept {
    return JudgeTarget(desktop, path, view).state != TargetState::NotFound;
}

}  // namespace ssr
