// What the user is told to stop a prefix's wineserver.
#include "platform/wine/prefix/server_lock.h"

#include <gtest/gtest.h>

namespace ssr::wine {
namespace {

// Typed as shown, the command must stop this prefix's server, whatever its
// folder's name holds, and not the default prefix's.
TEST(ServerRunningAdvice, NamesThePrefixInACommandTypedAsShown) {
    const std::string advice = ServerRunningAdvice("/home/a b/it's");
    EXPECT_NE(advice.find("\"WINEPREFIX='/home/a b/it'\\''s' wineserver -k\""), std::string::npos) << advice;
    EXPECT_NE(advice.find("Wine prefix /home/a b/it's,"), std::string::npos) << advice;
}

}  // namespace
}  // namespace ssr::wine
