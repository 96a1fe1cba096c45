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

// The text that fills `size` bytes of `room`, cut before its first zero:
// an odd last byte is a character of its own.
TextView CutText(Text& room, std::uint32_t size) {
    const std::size_t units = (static_cast<std::size_t>(size) + 1) / 2;
    if (size % 2 != 0) room[units - 1] = static_cast<char16_t>(room[units - 1] & 0x00ff);
    const TextView text(room.data(), units);
    const std::size_t zero = Find(text, u'\0');
    if (zero == TextView::npos) return text;
    if (zero + 1 > kMaxPosition) throw Failure(kOverflow);
    return text.substr(0, zero);
}

// What the store is offered at first: a usual name or command fits.
constexpr std::size_t kRoom = 512;

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
    // The store writes into room of this thread's that is never blanked;
    // only a larger text makes it grow, and the text is then copied once
    // into `result`, whose own room serves again. A second call, with the
    // size the first one gave, only for a text larger than the room.
    thread_local Text room(kRoom, u'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::uint32_t type = 0;
        auto size = static_cast<std::uint32_t>(std::min<std::size_t>(room.size() * 2, UINT32_MAX));
        const long status =
            registry.query_value_ex(key, value_name, &type, reinterpret_cast<std::uint8_t*>(room.data()), &size);
        if (status == kErrorMoreData && attempt == 0) {
            room.resize((static_cast<std::size_t>(size) + 1) / 2);
            continue;
        }
        if (status != kErrorSuccess || (type != kRegSz && type != kRegExpandSz)) break;
        result.assign(CutText(room, size));
        // A rare huge text does not keep its room for the rest of the run.
        if (room.size() > 16 * kRoom) Text(kRoom, u'\0').swap(room);
        return;
    }
    if (room.size() > 16 * kRoom) Text(kRoom, u'\0').swap(room);
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
