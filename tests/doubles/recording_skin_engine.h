#pragma once
// A skin engine that accepts every call and keeps a record of it, so tests
// can check the order and the arguments of SkinApply's calls.

#include <cstdint>
#include <string>
#include <vector>

#include "application/appearance.h"

namespace ssr {

class RecordingSkinEngine : public SkinEngine {
public:
    void LoadSkin(TextView skin_path, TextView ini_name) override;
    [[nodiscard]] std::int32_t Options() override;
    void SetOptions(std::int32_t options) override;
    void SetMember5(bool value) override;
    void SetMember10(bool value) override;
    void ApplyWindow(std::int32_t window_handle) override;

    [[nodiscard]] const std::vector<std::string>& calls() const { return m_calls; }
    std::int32_t options = 0;

private:
    std::vector<std::string> m_calls;
};

}  // namespace ssr
