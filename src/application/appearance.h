#pragma once
// SkinApply and TitleApply: the window's look and the application title.

#include <cstdint>

#include "platform/text.h"

namespace ssr {

class Desktop;
class Form1;

inline constexpr char16_t kSkinFile[] = u"\\x\\o.cjs";
inline constexpr std::size_t kTitleLimit = 40;

// The skin control SkinFramework1, reached through its five members.
class SkinEngine {
public:
    virtual ~SkinEngine() = default;
    virtual void LoadSkin(TextView skin_path, TextView ini_name) = 0;  // member 2
    [[nodiscard]] virtual std::int32_t Options() = 0;                   // member 1, read
    virtual void SetOptions(std::int32_t options) = 0;                  // member 1, write
    virtual void SetMember5(bool value) = 0;                            // member 5
    virtual void SetMember10(bool value) = 0;                           // member 10
    virtual void ApplyWindow(std::int32_t window_handle) = 0;           // member 3
};

// This release ships no skin engine: this one accepts every call and keeps
// only the options word, so the window looks as its design says.
class NullSkinEngine final : public SkinEngine {
public:
    void LoadSkin(TextView /*skin_path*/, TextView /*ini_name*/) override {}
    [[nodiscard]] std::int32_t Options() override { return m_options; }
    void SetOptions(std::int32_t options) override { m_options = options; }
    void SetMember5(bool /*value*/) override {}
    void SetMember10(bool /*value*/) override {}
    void ApplyWindow(std::int32_t /*window_handle*/) override {}

private:
    std::int32_t m_options = 0;
};

// Button-face background and skin, only when a plain skin file is installed.
void SkinApply(Form1& form);

// Cuts `title` word by word, at least once, to at most 40 characters and
// makes it the application title. A title without a blank fails with
// "Invalid procedure call or argument" and leaves the title as it was.
void TitleApply(Desktop& desktop, TextView title);

}  // namespace ssr
