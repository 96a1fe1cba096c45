// The in-memory registry answers as the real ones do.
#include "doubles/memory_registry.h"

#include <gtest/gtest.h>

namespace ssr {
namespace {

std::vector<Text> Enumerate(Registry& registry, TextView path) {
    RegHandle key = 0;
    std::vector<Text> names;
    if (registry.open_key_ex(kHkeyLocalMachine, path, 0, kKeyEnumerateSubKeys, &key) != kErrorSuccess) return names;
    for (std::uint32_t i = 0;; ++i) {
        char16_t name[255];
        char16_t cls[255];
        std::uint32_t name_length = 255;
        std::uint32_t class_length = 255;
        if (registry.enum_key_ex(key, i, name, &name_length, cls, &class_length) != kErrorSuccess) break;
        names.emplace_back(name, name_length);
    }
    registry.close_key(key);
    return names;
}

TEST(MemoryRegistryTest, NamesIgnoreCaseAndKeepIt) {
    MemoryRegistry registry;
    registry.CreateKey(u"Root\\MixedCase");
    registry.CreateKey(u"ROOT\\mixedcase\\Child");
    registry.CreateKey(u"root\\Second");
    EXPECT_EQ(Enumerate(registry, u"rOOt"), (std::vector<Text>{u"MixedCase", u"Second"}));
    EXPECT_TRUE(registry.KeyExists(u"root\\MIXEDCASE\\child"));
}

TEST(MemoryRegistryTest, ResultCodesFollowTheRegistry) {
    MemoryRegistry registry;
    registry.SetText(u"Root\\Key", u"Text", u"abc");
    RegHandle key = 0;
    EXPECT_EQ(registry.open_key(kHkeyLocalMachine, u"Root\\Missing", &key), kErrorFileNotFound);
    EXPECT_EQ(key, 0U);
    EXPECT_EQ(registry.close_key(0), kErrorInvalidHandle);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(registry.query_value_ex(0, u"Text", &type, nullptr, &size), kErrorInvalidHandle);
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, u"Root\\Key", &key), kErrorSuccess);
    EXPECT_EQ(registry.query_value_ex(key, u"Text", &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 8U);  // three UTF-16 units and the terminator
    std::uint8_t small[2];
    std::uint32_t small_size = 2;
    EXPECT_EQ(registry.query_value_ex(key, u"Text", &type, small, &small_size), kErrorMoreData);
    EXPECT_EQ(small_size, 8U);
    EXPECT_EQ(registry.query_value_ex(key, u"Missing", &type, nullptr, &size), kErrorFileNotFound);
    EXPECT_EQ(registry.close_key(key), kErrorSuccess);
    EXPECT_EQ(registry.OpenHandleCount(), 0U);
}

TEST(MemoryRegistryTest, ValuesEnumerateWithTheQueryBufferRules) {
    MemoryRegistry registry;
    registry.SetText(u"K", u"First", u"abc");
    registry.SetDword(u"K", u"Second", 5);
    RegHandle key = 0;
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, u"K", &key), kErrorSuccess);
    char16_t name[8];
    std::uint32_t name_length = 8;
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    // Without a buffer: name, type and the size needed.
    ASSERT_EQ(registry.enum_value(key, 0, name, &name_length, &type, nullptr, &size), kErrorSuccess);
    EXPECT_EQ(Text(name, name_length), u"First");
    EXPECT_EQ(type, kRegSz);
    EXPECT_EQ(size, 8U);
    std::uint8_t data[8];
    size = 4;
    name_length = 8;
    EXPECT_EQ(registry.enum_value(key, 0, name, &name_length, &type, data, &size), kErrorMoreData);
    EXPECT_EQ(size, 8U);
    name_length = 6;  // "Second" needs 7 with its terminator
    size = 8;
    EXPECT_EQ(registry.enum_value(key, 1, name, &name_length, &type, data, &size), kErrorMoreData);
    name_length = 7;
    ASSERT_EQ(registry.enum_value(key, 1, name, &name_length, &type, data, &size), kErrorSuccess);
    EXPECT_EQ(Text(name, name_length), u"Second");
    EXPECT_EQ(size, 4U);
    EXPECT_EQ(data[0], 5);
    name_length = 8;
    EXPECT_EQ(registry.enum_value(key, 2, name, &name_length, &type, data, &size), kErrorNoMoreItems);
    EXPECT_EQ(registry.enum_value(kHkeyLocalMachine, 0, name, &name_length, &type, data, &size), kErrorInvalidHandle);
    registry.close_key(key);
}

TEST(MemoryRegistryTest, DeletionTakesTheWholeSubtreeOrNothing) {
    MemoryRegistry registry;
    registry.SetText(u"U\\App\\Sub\\Deep", u"v", u"x");
    registry.CreateKey(u"U\\Kept");
    registry.CreateKey(u"U\\Locked\\Inner");
    registry.MarkUndeletable(u"U\\Locked\\Inner");
    EXPECT_EQ(registry.delete_tree(kHkeyLocalMachine, u"u\\APP"), kErrorSuccess);
    EXPECT_FALSE(registry.KeyExists(u"U\\App\\Sub"));
    EXPECT_EQ(registry.delete_tree(kHkeyLocalMachine, u"U\\App"), kErrorFileNotFound);
    EXPECT_EQ(registry.delete_tree(kHkeyLocalMachine, u"U\\Locked"), kErrorAccessDenied);
    EXPECT_TRUE(registry.KeyExists(u"U\\Locked\\Inner"));
    EXPECT_EQ(registry.SubkeyNames(u"U"), (std::vector<Text>{u"Kept", u"Locked"}));
}

TEST(MemoryRegistryTest, AnOpenHandleOfADeletedKeyStopsWorking) {
    MemoryRegistry registry;
    registry.SetText(u"U\\App", u"v", u"x");
    RegHandle key = 0;
    ASSERT_EQ(registry.open_key(kHkeyLocalMachine, u"U\\App", &key), kErrorSuccess);
    ASSERT_EQ(registry.delete_tree(kHkeyLocalMachine, u"U\\App"), kErrorSuccess);
    std::uint32_t type = 0;
    std::uint32_t size = 0;
    EXPECT_EQ(registry.query_value_ex(key, u"v", &type, nullptr, &size), kErrorKeyDeleted);
    registry.close_key(key);
}

}  // namespace
}  // namespace ssr
