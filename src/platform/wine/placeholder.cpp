// Placeholder until the prefix store lands: every call fails cleanly.
#include "platform/wine/wine_prefix.h"
#include "platform/wine/wine_registry.h"

#include <cstdlib>

namespace ssr {
namespace wine {
std::filesystem::path DefaultPrefix() {
    const char* env = std::getenv("WINEPREFIX");
    if (env && *env) return env;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "/") / ".wine";
}
std::optional<std::filesystem::path> MapWindowsPath(const std::filesystem::path&, TextView) { return std::nullopt; }
bool WindowsPathExists(const std::filesystem::path&, TextView) noexcept { return false; }
bool ServerRunning(const std::filesystem::path&) noexcept { return false; }
}  // namespace wine

struct WinePrefixRegistry::State {
    std::filesystem::path prefix;
};
WinePrefixRegistry::WinePrefixRegistry(std::filesystem::path prefix) : m_state(std::make_unique<State>()) {
    m_state->prefix = std::move(prefix);
}
WinePrefixRegistry::~WinePrefixRegistry() = default;
const std::filesystem::path& WinePrefixRegistry::prefix() const { return m_state->prefix; }
long WinePrefixRegistry::open_key_ex(RegHandle, TextView, std::uint32_t, std::uint32_t, RegHandle* r) { *r = 0; return kErrorFileNotFound; }
long WinePrefixRegistry::enum_key_ex(RegHandle, std::uint32_t, char16_t*, std::uint32_t*, char16_t*, std::uint32_t*) { return kErrorInvalidHandle; }
long WinePrefixRegistry::open_key(RegHandle, TextView, RegHandle* r) { *r = 0; return kErrorFileNotFound; }
long WinePrefixRegistry::query_value_ex(RegHandle, TextView, std::uint32_t*, std::uint8_t*, std::uint32_t*) { return kErrorInvalidHandle; }
long WinePrefixRegistry::close_key(RegHandle) { return kErrorInvalidHandle; }
long WinePrefixRegistry::delete_tree(RegHandle, TextView) { return kErrorFileNotFound; }
}  // namespace ssr
