// The rows' arena: chunks come back once empty, and never twice; and the
// entry list gives every chunk back whatever it was asked to do.
#include "platform/row_arena.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/entry_list.h"

namespace ssr {
namespace {

// Hands out heap memory and checks each chunk comes back once, at its size.
class CountingChunks final : public std::pmr::memory_resource {
public:
    ~CountingChunks() override { EXPECT_TRUE(m_out.empty()) << m_out.size() << " chunks never came back"; }
    [[nodiscard]] std::size_t out() const { return m_out.size(); }

private:
    void* do_allocate(std::size_t bytes, std::size_t alignment) override {
        void* chunk = std::pmr::new_delete_resource()->allocate(bytes, alignment);
        m_out[chunk] = bytes;
        return chunk;
    }
    void do_deallocate(void* chunk, std::size_t bytes, std::size_t alignment) override {
        const auto found = m_out.find(chunk);
        ASSERT_NE(found, m_out.end()) << "a chunk came back twice, or was never given";
        EXPECT_EQ(found->second, bytes);
        m_out.erase(found);
        std::pmr::new_delete_resource()->deallocate(chunk, bytes, alignment);
    }
    [[nodiscard]] bool do_is_equal(const std::pmr::memory_resource& other) const noexcept override { return this == &other; }
    std::map<void*, std::size_t> m_out;
};

struct Held {
    void* block;
    std::size_t bytes;
    std::uint16_t chunk;
};

// A script: "a N" allocates N bytes, "f K" frees the K-th block allocated,
// "r" releases everything; `chunks` is how many the source has out at the end.
struct ArenaCase {
    std::string name;
    std::vector<std::string> script;
    std::size_t chunks;
};

class RowArenaTest : public testing::TestWithParam<ArenaCase> {};

TEST_P(RowArenaTest, GivesChunksBackOnceEmpty) {
    CountingChunks source;
    {
        RowArena arena(&source);
        std::vector<Held> held;
        for (const std::string& step : GetParam().script) {
            if (step[0] == 'a') {
                Held h{nullptr, std::stoul(step.substr(2)), 0};
                h.block = arena.Allocate(h.bytes, h.chunk);
                ASSERT_EQ(reinterpret_cast<std::uintptr_t>(h.block) % RowArena::kAlignment, 0U);
                // Blocks never overlap a live one.
                for (const Held& other : held) {
                    if (!other.block) continue;
                    EXPECT_TRUE(static_cast<char*>(h.block) + h.bytes <= other.block ||
                                static_cast<char*>(other.block) + other.bytes <= h.block);
                }
                held.push_back(h);
            } else if (step[0] == 'f') {
                Held& h = held.at(std::stoul(step.substr(2)));
                arena.Free(h.block, h.bytes, h.chunk);
                h.block = nullptr;
            } else {
                arena.Release();
                held.clear();
            }
        }
        EXPECT_EQ(source.out(), GetParam().chunks);
        EXPECT_EQ(arena.ChunkCount(), GetParam().chunks);
        RowArena moved(std::move(arena));
        EXPECT_EQ(moved.ChunkCount(), GetParam().chunks);
    }
    EXPECT_EQ(source.out(), 0U);
}

const std::vector<std::string> kFillTwoChunks = {"a 40000", "a 40000", "a 400000"};

INSTANTIATE_TEST_SUITE_P(
    Scripts, RowArenaTest,
    testing::Values(
        ArenaCase{"NothingAskedTakesNoChunk", {}, 0},
        ArenaCase{"SmallBlocksShareOneChunk", {"a 1", "a 200", "a 3000"}, 1},
        ArenaCase{"AFullChunkLeadsToALargerOne", kFillTwoChunks, 2},
        ArenaCase{"AChunkLeftBehindGoesBackWithItsLastRow", {"a 40000", "a 40000", "a 400000", "f 0"}, 1},
        ArenaCase{"AChunkLeftBehindStaysWhileARowLivesInIt", {"a 40000", "a 40000", "a 400000", "f 1"}, 2},
        ArenaCase{"TheCurrentChunkStaysWhenEmptied", {"a 100", "a 100", "f 0", "f 1"}, 1},
        ArenaCase{"ABlockLargerThanAChunkHasItsOwn", {"a 100", "a 5000000"}, 2},
        ArenaCase{"ABlockOfItsOwnGoesBackWithIt", {"a 100", "a 5000000", "f 1"}, 1},
        ArenaCase{"ReleaseGivesAllBack", {"a 40000", "a 40000", "a 400000", "a 5000000", "r"}, 0},
        ArenaCase{"AfterReleaseChunksStartSmallAgain", {"a 40000", "a 40000", "a 400000", "r", "a 60000", "a 60000"}, 2}),
    [](const testing::TestParamInfo<ArenaCase>& info) { return info.param.name; });

TEST(RowArenaTest, TheBlockGivenOutLastIsTakenBackAtOnce) {
    CountingChunks source;
    RowArena arena(&source);
    std::uint16_t chunk = 0;
    void* kept = arena.Allocate(100, chunk);
    void* last = arena.Allocate(100, chunk);
    arena.Free(last, 100, chunk);
    EXPECT_EQ(arena.Allocate(300, chunk), last);
    static_cast<void>(kept);
}

// Whatever the list was asked, every chunk is back when it is gone, and no
// row ever reads another's bytes.
TEST(RowArenaTest, TheListGivesEveryChunkBack) {
    CountingChunks source;
    {
        EntryList list(&source);
        for (int i = 1; i <= 3000; ++i) {
            const int at = list.Add(u"row " + DecimalText(i));
            list.SetSubItem(at, 1, i % 7 == 0 ? u"wide \u0100" : u"narrow");
        }
        for (int i = 3000; i >= 1; i -= 3) list.Remove(i);
        list.SetSubItem(5, 2, u"set again after packing");
        EXPECT_EQ(list.ItemText(5), u"row 7");
        EXPECT_EQ(list.SubItem(5, 1), u"wide \u0100");
        EXPECT_EQ(list.SubItem(5, 2), u"set again after packing");
        EXPECT_EQ(list.ItemText(list.Count()), u"row 2999");
        EntryList moved = std::move(list);
        EXPECT_EQ(moved.Count(), 2000);
        moved.Clear();
        EXPECT_EQ(source.out(), 0U);
        moved.Add(u"one more");
    }
    EXPECT_EQ(source.out(), 0U);
}

}  // namespace
}  // namespace ssr
