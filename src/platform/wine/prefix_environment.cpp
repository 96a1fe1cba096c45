// The environment Wine gives a prefix's programs, from the prefix itself.
#include "platform/wine/prefix_environment.h"

#include <memory>

#include "platform/registry.h"
#include "platform/wine/posix_file.h"
#include "platform/wine/reg_file.h"

namespace ssr::wine {

namespace {

constexpr TextView kSystemEnvironment = u"System\\CurrentControlSet\\Control\\Session Manager\\Environment";
constexpr TextView kWindowsVersion = u"Software\\Microsoft\\Windows\\CurrentVersion";
constexpr TextView kWindowsNtVersion = u"Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr TextView kProfileList = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// A string value's text, cut at its first zero; nothing for other types.
std::optional<Text> TextOf(const RegValue& value) {
    if (value.type != kRegSz && value.type != kRegExpandSz) return std::nullopt;
    Text text(value.data.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(value.data[2 * i] | (value.data[2 * i + 1] << 8));
    if (const std::size_t zero = text.find(u'\0'); zero != Text::npos) text.resize(zero);
    return text;
}

class Hive {
public:
    explicit Hive(std::string bytes) : m_file(bytes.empty() ? nullptr : RegFile::Parse(std::move(bytes))) {}

    [[nodiscard]] RegFile::Node* Key(TextView path) const { return m_file ? m_file->Find(m_file->root(), path) : nullptr; }

    [[nodiscard]] std::optional<Text> StringValue(TextView key, TextView name) const {
        RegFile::Node* node = Key(key);
        if (!node) return std::nullopt;
        const RegValue* value = m_file->FindValue(node, name);
        return value ? TextOf(*value) : std::nullopt;
    }

    [[nodiscard]] const std::vector<RegValue>* Values(TextView key) const {
        RegFile::Node* node = Key(key);
        return node ? &m_file->Values(node) : nullptr;
    }

private:
    std::unique_ptr<RegFile> m_file;
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
    void AddKey(const Hive& hive, TextView key, bool user) {
        const std::vector<RegValue>* values = hive.Values(key);
        if (!values) return;
        for (const RegValue& value : *values) {
            const Text lower = LowerCase(value.name);
            if (lower.empty() || lower == u"systemroot" || lower == u"systemdrive") continue;
            std::optional<Text> text = TextOf(value);
            if (!text) continue;
            if (value.type == kRegExpandSz) text = Expand(*text);
            if (text->empty()) continue;
            if (user && lower == u"path") {
                if (const auto system = Get(u"PATH")) text = *system + u";" + *text;
            }
            Set(value.name, *text);
        }
    }

    [[nodiscard]] std::map<Text, Text> Take() { return std::move(m_variables); }

private:
    std::map<Text, Text> m_variables;
};

}  // namespace

PrefixEnvironment PrefixEnvironment::FromFiles(std::string system_reg, std::string user_reg) {
    const Hive machine(std::move(system_reg));
    const Hive user(std::move(user_reg));
    Builder env;

    // Wine's Windows folder is C:\windows unless the prefix says otherwise.
    const Text root = machine.StringValue(kWindowsNtVersion, u"SystemRoot").value_or(u"C:\\windows");
    env.Set(u"SystemRoot", root);
    env.Set(u"SystemDrive", root.substr(0, 2));
    env.AddKey(machine, kSystemEnvironment, false);
    env.AddKey(user, u"Environment", true);
    env.AddKey(user, u"Volatile Environment", true);
    if (const auto data = machine.StringValue(kProfileList, u"ProgramData")) {
        env.Set(u"ALLUSERSPROFILE", env.Expand(*data));
        env.Set(u"ProgramData", env.Expand(*data));
    }
    if (const auto pub = machine.StringValue(kProfileList, u"Public")) env.Set(u"PUBLIC", env.Expand(*pub));

    PrefixEnvironment result;
    result.m_has_32bit_view = machine.Key(u"Software\\Wow6432Node") != nullptr;
    const auto program = machine.StringValue(kWindowsVersion, u"ProgramFilesDir");
    const auto program_x86 = machine.StringValue(kWindowsVersion, u"ProgramFilesDir (x86)");
    const auto common = machine.StringValue(kWindowsVersion, u"CommonFilesDir");
    const auto common_x86 = machine.StringValue(kWindowsVersion, u"CommonFilesDir (x86)");
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

PrefixEnvironment PrefixEnvironment::Read(const std::filesystem::path& prefix) {
    ReadResult system_reg = ReadWholeFile(prefix / "system.reg");
    ReadResult user_reg = ReadWholeFile(prefix / "user.reg");
    return FromFiles(system_reg.error == IoError::None ? std::move(system_reg.bytes) : std::string(),
                     user_reg.error == IoError::None ? std::move(user_reg.bytes) : std::string());
}

std::optional<Text> PrefixEnvironment::Value(TextView name, ProgramView view) const {
    const Variables& variables = view == ProgramView::ThirtyTwoBit && m_has_32bit_view ? m_32bit : m_native;
    const auto it = variables.find(LowerCase(name));
    if (it == variables.end()) return std::nullopt;
    return it->second;
}

}  // namespace ssr::wine
