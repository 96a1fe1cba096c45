// Reading registry texts, and the path helpers of the listing and the operations.
#include "catalogue/reg.h"

#include <algorithm>

#include "catalogue/target_verdict.h"
#include "platform/desktop.h"
#include "platform/failure.h"

namespace ssr {

namespace {
// Positions of the first zero are held in a signed 16-bit counter.
constexpr std::size_t kMaxPosition = 32767;
}  // namespace

Text ReadRegistryString(Registry& registry, RegHandle root, TextView subkey_path, TextView value_name,
                        TextView default_text, std::uint32_t view) {
    Text result(default_text);
    RegHandle key = 0;
    (void)registry.open_key(root, subkey_path, view, &key);  // on failure key stays 0 and the query fails

    struct Closer {
        Registry& registry;
        RegHandle key;
        ~Closer() { registry.close_key(key); }
    } closer{registry, key};

    std::uint32_t type = 0;
    std::uint32_t size = 0;
    if (registry.query_value_ex(key, value_name, &type, nullptr, &size) == kErrorSuccess &&
        (type == kRegSz || type == kRegExpandSz)) {
        // The buffer is blank characters, as many bytes as the value holds.
        Text text((size + 1) / 2, u' ');
        type = 0;
        std::uint32_t received = size;
        (void)registry.query_value_ex(key, value_name, &type, reinterpret_cast<std::uint8_t*>(text.data()), &received);
        const std::size_t zero = text.find(u'\0');
        if (zero == Text::npos) {
            result = std::move(text);
        } else {
            if (zero + 1 > kMaxPosition) throw Failure(kOverflow);
            text.resize(zero);
            result = std::move(text);
        }
    }
    return result;
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
