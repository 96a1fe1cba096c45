// A skin engine that records its calls for tests.
#include "doubles/recording_skin_engine.h"

namespace ssr {

void RecordingSkinEngine::LoadSkin(TextView skin_path, TextView ini_name) {
    m_calls.push_back("2(" + ToUtf8(skin_path) + "," + ToUtf8(ini_name) + ")");
}
std::int32_t RecordingSkinEngine::Options() {
    m_calls.emplace_back("1 get");
    return options;
}
void RecordingSkinEngine::SetOptions(std::int32_t value) {
    options = value;
    m_calls.push_back("1 put " + std::to_string(value));
}
void RecordingSkinEngine::SetMember5(bool value) { m_calls.push_back(std::string("5 put ") + (value ? "true" : "false")); }
void RecordingSkinEngine::SetMember10(bool value) { m_calls.push_back(std::string("10 put ") + (value ? "true" : "false")); }
void RecordingSkinEngine::ApplyWindow(std::int32_t window_handle) { m_calls.push_back("3(" + std::to_string(window_handle) + ")"); }

}  // namespace ssr
