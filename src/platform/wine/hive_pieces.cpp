// LoadHive: one hive file read and parsed, a large one in pieces at once.
#include "platform/wine/hive_pieces.h"

#include <malloc.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <thread>
#include <utility>

#include "platform/wine/huge_pages.h"

namespace ssr::wine {

namespace {

// Below this a thread more costs about what it saves; an empty prefix's
// system.reg (about 3 MB) is read as it always was.
constexpr std::size_t kPiecesFrom = std::size_t{4} << 20;
constexpr unsigned kMostThreads = 4;
constexpr std::size_t kPiecesPerThread = 4;

LoadedHive LoadWhole(const std::filesystem::path& path, Architecture known, HiveReading reading) {
    HiveRead read = ReadHiveFile(path);
    LoadedHive loaded;
    loaded.reading = reading;
    loaded.error = read.error;
    loaded.code = read.code;
    if (read.error != IoError::None) return loaded;
    loaded.identity = read.identity;
    loaded.file = RegFile::Parse(std::move(read.bytes), known);
    return loaded;
}

// What a piece published once its bytes were read: where its index starts.
constexpr std::int64_t kPending = -1;
constexpr std::int64_t kFailed = -2;   // its bytes could not be read
constexpr std::int64_t kNoStart = -3;  // no place in it to start: the piece before reads on through it

// The pieces are more than the threads, and each thread takes the next
// piece to read, then the next to index, until none is left: a thread that
// gets less of the machine (the toolkit starts beside them) does less.
class Pieces {
public:
    Pieces(const RangedFile& file, HiveBytes& bytes, std::vector<std::size_t> bounds, Architecture known)
        : m_file(file),
          m_data(bytes.data()),
          m_all(bytes.view()),
          m_bounds(std::move(bounds)),
          m_known(known),
          m_count(m_bounds.size() - 1),
          m_published(std::make_unique<std::atomic<std::int64_t>[]>(m_count)),
          m_indexed(std::make_unique<std::atomic<bool>[]>(m_count)),
          m_parsed(m_count) {
        for (std::size_t i = 0; i < m_count; ++i) {
            m_published[i].store(kPending, std::memory_order_relaxed);
            m_indexed[i].store(false, std::memory_order_relaxed);
        }
    }

    [[nodiscard]] std::size_t count() const { return m_count; }

    // What each thread runs. Every piece is taken to be read before any is
    // indexed, and reading one never waits, so an index that waits for the
    // start of a later piece waits for a read under way. Each indexed piece
    // is joined to those before it as soon as they are all indexed, by
    // whichever thread finds it so, while the others index on.
    void Work() noexcept {
        for (std::size_t i; (i = m_next_read.fetch_add(1)) < m_count;) Read(i);
        for (std::size_t i; (i = m_next_index.fetch_add(1)) < m_count;) {
            Index(i);
            m_indexed[i].store(true);
            JoinReady();
        }
    }

    [[nodiscard]] bool Failed() const { return m_failed.load(); }

    // Only after every thread is done: the first piece with all the others
    // joined to it, and whether they could be; nothing when the file is no registry.
    [[nodiscard]] std::unique_ptr<RegFile> Joined(bool& apart) {
        JoinReady();
        apart = m_apart;
        return std::move(m_joined_file);
    }

private:
    // Reads piece `i` and says where its index starts.
    void Read(std::size_t i) {
        std::int64_t start = kFailed;
        if (m_file.Read(m_data + m_bounds[i], m_bounds[i], m_bounds[i + 1] - m_bounds[i]) == 0) {
            const std::size_t at = i == 0 ? 0 : RegFile::SafeSplit(m_all, m_bounds[i], m_bounds[i + 1]);
            start = i == 0 || at != 0 ? static_cast<std::int64_t>(at) : kNoStart;
        } else {
            m_failed.store(true);
        }
        m_published[i].store(start, std::memory_order_release);
        m_published[i].notify_all();
    }

    // Indexes piece `i` up to the start of the next piece that has one.
    void Index(std::size_t i) {
        const std::int64_t start = Await(i);
        if (start < 0) return;
        std::size_t end = m_all.size();
        for (std::size_t j = i + 1; j < m_count; ++j) {
            const std::int64_t next = Await(j);
            if (next == kFailed) return;
            if (next >= 0) {
                end = static_cast<std::size_t>(next);
                break;
            }
        }
        try {
            m_parsed[i] = RegFile::ParsePiece(m_all.substr(0, end), static_cast<std::size_t>(start), m_known,
                                              i == 0 ? m_all.size() : 0);
        } catch (...) {
            m_failed.store(true);
        }
    }

    // Joins the pieces indexed so far in file order, unless another thread
    // is at it: that one then sees the piece this thread has just marked.
    void JoinReady() noexcept {
        for (;;) {
            if (m_joining.test_and_set()) return;
            std::size_t next = m_joined.load();
            for (; next < m_count && m_indexed[next].load(); m_joined.store(++next)) JoinOne(next);
            m_joining.clear();
            if (next == m_count || !m_indexed[next].load()) return;
        }
    }

    void JoinOne(std::size_t i) noexcept {
        // A piece with no start of its own was indexed with the one before.
        if (!m_apart || m_published[i].load() < 0) return;
        std::unique_ptr<RegFile> piece = std::move(m_parsed[i]);
        if (i == 0) {
            m_joined_file = std::move(piece);  // nothing when the file is no registry
        } else if (m_joined_file && piece) {
            try {
                m_apart = m_joined_file->Join(*piece);
            } catch (...) {
                m_failed.store(true);  // out of memory, half joined
                m_apart = false;
            }
        }
    }

    std::int64_t Await(std::size_t i) {
        std::int64_t start;
        while ((start = m_published[i].load(std::memory_order_acquire)) == kPending)
            m_published[i].wait(kPending, std::memory_order_acquire);
        return start;
    }

    const RangedFile& m_file;
    char* m_data;
    std::string_view m_all;
    std::vector<std::size_t> m_bounds;  // piece i's bytes are [m_bounds[i], m_bounds[i + 1])
    Architecture m_known;
    std::size_t m_count;
    std::unique_ptr<std::atomic<std::int64_t>[]> m_published;
    std::unique_ptr<std::atomic<bool>[]> m_indexed;
    std::vector<std::unique_ptr<RegFile>> m_parsed;  // each written by the thread that indexed it
    std::atomic<std::size_t> m_next_read{0};
    std::atomic<std::size_t> m_next_index{0};
    std::atomic<bool> m_failed{false};
    // The joining, by one thread at a time: the pieces before m_joined are in m_joined_file.
    std::atomic_flag m_joining;
    std::atomic<std::size_t> m_joined{0};
    std::unique_ptr<RegFile> m_joined_file;
    bool m_apart = true;
};

// The processors this process may run on: a start pinned to one (as a
// benchmark may be) gains nothing from more threads.
unsigned Threads() {
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    const int count = ::sched_getaffinity(0, sizeof allowed, &allowed) == 0 ? CPU_COUNT(&allowed) : 0;
    const unsigned usable = count > 0 ? static_cast<unsigned>(count) : std::thread::hardware_concurrency();
    return std::min(std::max(usable, 1U), kMostThreads);
}

std::vector<std::size_t> Bounds(std::size_t size, const HivePieceHook* hook) {
    std::vector<std::size_t> bounds{0};
    if (hook) {
        for (const std::size_t start : hook->starts)
            if (start > bounds.back() && start < size) bounds.push_back(start);
    } else if (size >= kPiecesFrom && Threads() > 1) {
        // Whole huge pages each, so that no two threads fault in the same one.
        const std::size_t step = std::max(kHugePage, size / (Threads() * kPiecesPerThread) / kHugePage * kHugePage);
        for (std::size_t at = step; at < size; at += step) bounds.push_back(at);
    }
    bounds.push_back(size);
    return bounds;
}

}  // namespace

LoadedHive LoadHive(const std::filesystem::path& path, Architecture known, const HivePieceHook* hook) {
    RangedFile file;
    // What the ranged open refuses, the one reading refuses with its own error.
    if (file.Open(path) != 0) return LoadWhole(path, known, HiveReading::Whole);
    std::vector<std::size_t> bounds = Bounds(file.size(), hook);
    if (bounds.size() < 3) return LoadWhole(path, known, HiveReading::Whole);

    HiveBytes bytes;
    if (!bytes.Reserve(file.size())) return LoadWhole(path, known, HiveReading::Whole);
    bytes.SetSize(file.size());
    if (hook && hook->before_read) hook->before_read();
    Pieces pieces(file, bytes, std::move(bounds), known);
    {
        const std::size_t helpers = std::min<std::size_t>(Threads(), pieces.count()) - 1;
        std::vector<std::jthread> threads;
        threads.reserve(helpers);
        try {
            while (threads.size() < helpers) threads.emplace_back([&pieces] { pieces.Work(); });
        } catch (...) {
            // Fewer threads: the ones there are take more pieces each.
        }
        pieces.Work();
    }
    LoadedHive loaded;
    loaded.reading = HiveReading::Pieces;
    if (pieces.Failed() || !file.Unchanged(loaded.identity)) {
        // Someone wrote while we read, or a read failed: the one reading
        // retries, and meets any failure with its own error.
        bytes = HiveBytes();
        return LoadWhole(path, known, HiveReading::ReadAgain);
    }
    bool apart = false;
    loaded.file = pieces.Joined(apart);
    if (!apart) {
        loaded.reading = HiveReading::PiecesParsedWhole;
        loaded.file = RegFile::Parse(std::move(bytes), known);
    } else if (loaded.file) {
        loaded.file->TakeBytes(std::move(bytes));
    }
#ifdef __GLIBC__
    // What the pieces built and dropped (their section tables, above all)
    // was freed into the pools of the threads that built it, which the
    // rest of the program never draws from: back to the system with it, or
    // it adds a megabyte to the program's peak at 30,000 records.
    static_cast<void>(::malloc_trim(0));
#endif
    return loaded;
}

}  // namespace ssr::wine
