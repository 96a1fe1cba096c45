// The environment Wine gives a prefix's programs, from the prefix itself.
#include "platform/wine/prefix/prefix_environment.h"

#include <cstdint>
#include <utility>
#include <vector>

namespace ssr::wine {

namespace {

constexpr TextView kSystemEnvironment = u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr TextView kWindowsVersion = u"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr TextView kWindowsNtVersion = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr TextView kProfileList = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// Value names and data of this size are far beyond anything these keys hold.
constexpr std::uint32_t kNameBuffer = 16384;

struct StringValue {
    Text name;
    std::uint32_t type = 0;
    Text text;
};

// A string value's text, cut at its first zero; nothing for other types.
std::optional<Text> TextOf(std::uint32_t type, const std::vector<std::uint8_t>& data) {
    if (type != kRegSz && type != kRegExpandSz) return std::nullopt;
    Text text(data.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    if (const std::size_t zero = text.find(u'\0'); zero != Text::npos) text.resize(zero);
    return text;
}

// One key of a hive, opened in the view a program of the prefix's own
// architecture sees, and closed when done.
class Key {
public:
    Key(Registry& hives, RegHandle root, TextView path) : m_hives(hives) {
        const std::uint32_t view = root == kHkeyLocalMachine && hives.has_32bit_view() ? kKeyWow64_64Key : 0;
        if (hives.open_key(root, path, view, &m_key) != kErrorSuccess) m_key = 0;
    }
    ~Key() { (void)m_hives.close_key(m_key); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    [[nodiscard]] std::optional<Text> String(TextView name) const {
        if (!m_key) return std::nullopt;
        std::uint32_t type = 0, size = 0;
        if (m_hives.query_value_ex(m_key, name, &type, nullptr, &size) != kErrorSuccess) return std::nullopt;
        std::vector<std::uint8_t> data(size);
        if (m_hives.query_value_ex(m_key, name, &type, data.data(), &size) != kErrorSuccess) return std::nullopt;
        data.resize(size);
        return TextOf(type, data);
    }

    // The string values in the store's order, which is the file's.
    [[nodiscard]] std::vector<StringValue> Strings() const {
        std::vector<StringValue> values;
        if (!m_key) return values;
        std::vector<char16_t> name(kNameBuffer);
        std::vector<std::uint8_t> data;
        for (std::uint32_t index = 0;; ++index) {
            std::uint32_t name_length = kNameBuffer, type = 0, size = 0;
            if (m_hives.enum_value(m_key, index, name.data(), &name_length, &type, nullptr, &size) != kErrorSuccess)
                break;
            data.resize(size);
            name_length = kNameBuffer;
            if (m_hives.enum_value(m_key, index, name.data(), &name_length, &type, data.data(), &size) != kErrorSuccess)
                break;
            data.resize(size);
            if (std::optional<Text> text = TextOf(type, data))
                values.push_back({Text(name.data(), name_length), type, std::move(*text)});
        }
        return values;
    }

private:
    Registry& m_hives;
    RegHandle m_key = 0;
};

class Builder {
public:
    void Set(TextView name, TextView value) { m_variables[LowerCase(name)] = Text(value); }
    [[nodiscard]] std::optional<Text> Get(TextView name) const {
        const auto it = m_variables.find(LowerCase(name));
        return it == m_variables.end() ? std::nullopt : std::optional<Text>(it->second);
    }
    [[nodiscard]] Text Expand(TextView text) const {
        bool complete = true;
        return ExpandReferences(text, [this](TextView name) { return Get(name); }, complete);
    }

    // The values of one environment key, in the order Wine adds them: a
    // REG_EXPAND_SZ text is expanded with what is set so far, and the
    // user's PATH goes after the system's.
    void AddKey(const Key& key, bool user) {
        for (StringValue& value : key.Strings()) {
            const Text lower = LowerCase(value.name);
            if (lower.empty() || lower == u"systemroot" || lower == u"systemdrive") continue;
            Text text = value.type == kRegExpandSz ? Expand(value.text) : std::move(value.text);
            if (text.empty()) continue;
            if (user && lower == u"path") {
                if (const auto system = Get(u"PATH")) text = *system + u";" + text;
            }
            Set(value.name, text);
        }
    }

    [[nodiscard]] std::map<Text, Text> Take() { return std::move(m_variables); }

private:
    std::map<Text, Text> m_variables;
};

}  // namespace

PrefixEnvironment PrefixEnvironment::FromHives(Registry& hives) {
    const Key version(hives, kHkeyLocalMachine, kWindowsVersion);
    const Key profiles(hives, kHkeyLocalMachine, kProfileList);
    Builder env;

    // Wine's Windows folder is C:\windows unless the prefix says otherwise.
    const Text root = Key(hives, kHkeyLocalMachine, kWindowsNtVersion).String(u"SystemRoot").value_or(u"C:\\windows");
    env.Set(u"SystemRoot", root);
    env.Set(u"SystemDrive", root.substr(0, 2));
    env.AddKey(Key(hives, kHkeyLocalMachine, kSystemEnvironment), false);
    env.AddKey(Key(hives, kHkeyCurrentUser, u"Environment"), true);
    env.AddKey(Key(hives, kHkeyCurrentUser, u"Volatile Environment"), true);
    if (const auto data = profiles.String(u"ProgramData")) {
        env.Set(u"ALLUSERSPROFILE", env.Expand(*data));
        env.Set(u"ProgramData", env.Expand(*data));
    }
    if (const auto pub = profiles.String(u"Public")) env.Set(u"PUBLIC", env.Expand(*pub));

    PrefixEnvironment result;
    result.m_has_32bit_view = hives.has_32bit_view();
    const auto program = version.String(u"ProgramFilesDir");
    const auto program_x86 = version.String(u"ProgramFilesDir (x86)");
    const auto common = version.String(u"CommonFilesDir");
    const auto common_x86 = version.String(u"CommonFilesDir (x86)");
    // The program folders depend on the program: a 32-bit one in a 64-bit
    // prefix is given the x86 folders under the plain names.
    if (result.m_has_32bit_view) {
        if (program) env.Set(u"ProgramW6432", *program);
        if (program_x86) env.Set(u"ProgramFiles(x86)", *program_x86);
        if (common) env.Set(u"CommonProgramW6432", *common);
        if (common_x86) env.Set(u"CommonProgramFiles(x86)", *common_x86);
    }
    if (program) env.Set(u"ProgramFiles", *program);
    if (common) env.Set(u"CommonProgramFiles", *common);
    result.m_native = env.Take();
    if (result.m_has_32bit_view) {
        result.m_32bit = result.m_native;
        if (program_x86) result.m_32bit[u"programfiles"] = *program_x86;
        if (common_x86) result.m_32bit[u"commonprogramfiles"] = *common_x86;
    }
    return result;
}

std::optional<Text> PrefixEnvironment::Value(TextView name, ProgramView view) const {
    const Variables& variables = view == ProgramView::ThirtyTwoBit && m_has_32bit_view ? m_32bit : m_native;
    const auto it = variables.find(LowerCase(name));
    if (it == variables.end()) return std::nullopt;
    return it->second;
}

}  // namespace ssr::wine
