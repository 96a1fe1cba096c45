// HivePreload: the two hives read and parsed on a thread of their own.
#include "platform/wine/hive_preload.h"

#include <utility>

#include "platform/wine/hive_pieces.h"

namespace ssr::wine {

namespace {

std::optional<PreloadedHive> ReadAndParse(const std::filesystem::path& path, Architecture known, bool& missing) {
    LoadedHive loaded = LoadHive(path, known);
    missing = loaded.error == IoError::NotFound;
    if (loaded.error != IoError::None || !loaded.file) return std::nullopt;
    return PreloadedHive{loaded.identity, std::move(loaded.file)};
}

}  // namespace

HivePreload::HivePreload(std::filesystem::path machine, std::filesystem::path user) {
    for (int h = 0; h < 2; ++h) m_results[h] = m_promised[h].get_future();
    try {
        m_thread = std::thread(&HivePreload::Run, this, std::move(machine), std::move(user));
    } catch (...) {
        // No thread to be had: each hive is read where it is first used.
        for (auto& promised : m_promised) promised.set_value(std::nullopt);
    }
}

HivePreload::~HivePreload() {
    if (m_thread.joinable()) m_thread.join();
}

void HivePreload::Run(std::filesystem::path machine, std::filesystem::path user) {
    int h = 0;
    try {
        bool missing = false;
        std::optional<PreloadedHive> read = ReadAndParse(machine, Architecture::Unknown, missing);
        // The architecture as the store settles it. A system.reg that could
        // not be read leaves user.reg to the store, which reads them in that order.
        std::optional<Architecture> known;
        if (read || missing) known = PrefixArchitectureOf(read ? read->file.get() : nullptr);
        m_promised[h].set_value(std::move(read));
        ++h;
        std::optional<PreloadedHive> user_read = known ? ReadAndParse(user, *known, missing) : std::nullopt;
        m_promised[h].set_value(std::move(user_read));
        ++h;
    } catch (...) {
        // Out of memory, most likely: the store tries again itself.
        for (; h < 2; ++h) m_promised[h].set_value(std::nullopt);
    }
}

std::optional<PreloadedHive> HivePreload::Take(int hive) {
    if (hive < 0 || hive > 1 || !m_results[hive].valid()) return std::nullopt;
    return m_results[hive].get();
}

}  // namespace ssr::wine
