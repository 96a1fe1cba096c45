#pragma once
// A failure of a step: what the error report shows as its first line.
// Platform code translates its own error codes into one of these at the edge;
// the handlers catch them in the step runner and nowhere else.

#include <exception>
#include <string>

#include "platform/text.h"

namespace ssr {

inline constexpr char16_t kOverflow[] = u"Overflow";
inline constexpr char16_t kInvalidProcedureCall[] = u"Invalid procedure call or argument";
inline constexpr char16_t kIndexOutOfBounds[] = u"Index out of bounds";
inline constexpr char16_t kFileNotFound[] = u"File not found";
inline constexpr char16_t kInvalidPicture[] = u"Invalid picture";

class Failure : public std::exception {
public:
    explicit Failure(Text description) : m_description(std::move(description)), m_utf8(ToUtf8(m_description)) {}
    [[nodiscard]] const Text& description() const noexcept { return m_description; }
    [[nodiscard]] const char* what() const noexcept override { return m_utf8.c_str(); }

private:
    Text m_description;
    std::string m_utf8;
};

}  // namespace ssr
