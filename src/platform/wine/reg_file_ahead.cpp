// Reading a key's children's values ahead on a second thread, while the
// first enumerates the children and asks each for the same few names.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <thread>

#include "platform/wine/reg_file.h"

namespace ssr::wine {

namespace {

// Below this many children a thread costs more than it saves.
constexpr std::size_t kFewestChildren = 256;
// How many children's answers are kept at a time: the memory it costs
// stays small whatever the key holds.
constexpr std::size_t kSlots = 1024;
// The names the thread answers, the first ones asked of the children.
constexpr std::size_t kNames = 4;
// Room for a child's answers: its names and their data.
constexpr std::size_t kSlotBytes = 512 - 128;
// How many children the first thread goes on before it tells the second.
constexpr std::size_t kTellEvery = 32;
// How many children the first thread reads itself when the second is behind.
constexpr std::size_t kStretch = 16;
// How long the thread waits busily before it sleeps.
constexpr std::chrono::microseconds kSpin{2000};
constexpr std::size_t kNobody = std::numeric_limits<std::size_t>::max();

}  // namespace

// The thread reads only what parsing left (the bytes, the section table,
// the children and their sections), which nothing changes while it runs:
// every change to the file stops it first. The first thread never touches
// a slot the second may still fill, nor the second one the first may read:
// a slot holds child `index` once `ready` says index + 1, and is filled
// again (for index + kSlots) only after the first thread said it has gone
// past `index`.
class RegFile::Ahead {
public:
    Ahead(const RegFile& file, const Node* parent) : m_file(file), m_parent(parent) {
        m_thread = std::thread(&Ahead::Run, this);
    }
    ~Ahead() {
        m_stop.store(true);
        {
            const std::lock_guard lock(m_mutex);
            m_wake.notify_all();
        }
        m_thread.join();
    }
    Ahead(const Ahead&) = delete;
    Ahead& operator=(const Ahead&) = delete;

    [[nodiscard]] const Node* parent() const { return m_parent; }

    // The first thread's side: called for each name asked of child `index`.
    AheadAnswer Ask(std::size_t index, const Lookups::Spelling& spelling, RegValue& out) {
        if (index < m_asked) return AheadAnswer::Unknown;  // its slot may hold a later child
        if (index > m_asked) {
            m_asked = index;
            // Told now and then rather than at each child, since each time
            // costs a fetch of the place by the other thread.
            if (index >= m_told + kTellEvery) {
                m_told = index;
                m_position.store(index);
                if (index >= m_wake_at.load()) {
                    const std::lock_guard lock(m_mutex);
                    m_wake.notify_one();
                }
            }
        }
        std::size_t n = 0;
        while (n < m_named && !SameUnits(m_names[n].name, spelling.name)) ++n;
        if (n == m_named) {
            if (m_named < kNames) {
                m_names[n] = spelling;
                const std::lock_guard lock(m_mutex);
                m_published.store(++m_named, std::memory_order_release);
                m_wake.notify_one();
            }
            return AheadAnswer::Unknown;
        }
        const Slot& slot = m_slots[index % kSlots];
        // The next child's answers are asked for soon: they are fetched meanwhile.
        const auto* next = reinterpret_cast<const char*>(&m_slots[(index + 1) % kSlots]);
        for (std::size_t line = 0; line < 4 * 64; line += 64) __builtin_prefetch(next + line);
        if (slot.ready.load(std::memory_order_acquire) != index + 1 || n >= slot.names) {
            // The second thread is behind: it goes on a stretch further, and
            // the first does what lies between, so that neither does the other's work.
            if (index >= m_skipped) {
                m_skipped = index + kStretch;
                m_skip_to.store(m_skipped, std::memory_order_relaxed);
            }
            return AheadAnswer::Unknown;
        }
        const Slot::Answer& answer = slot.answers[n];
        if (!answer.found) return AheadAnswer::Absent;
        out.type = answer.type;
        const auto* units = reinterpret_cast<const char16_t*>(slot.bytes + answer.name_at);
        out.name.assign(units, answer.name_units);
        const auto* data = reinterpret_cast<const std::uint8_t*>(slot.bytes + answer.data_at);
        out.data.assign(data, data + answer.data_size);
        return AheadAnswer::Found;
    }

private:
    // One child's answers, kept in place, so that reading them is one
    // stretch of memory after the last child's.
    struct alignas(64) Slot {
        std::atomic<std::size_t> ready{0};  // the child's index + 1
        std::size_t names = 0;              // answered for the first `names` names
        struct Answer {
            bool found = false;
            std::uint32_t type = 0;
            std::uint32_t name_at = 0;  // the name as spelt, in `bytes`
            std::uint32_t name_units = 0;
            std::uint32_t data_at = 0;
            std::uint32_t data_size = 0;
        };
        std::array<Answer, kNames> answers;
        char bytes[kSlotBytes];
    };

    // Until `done` says so or the thread is to stop; false when it is.
    template <class Done>
    bool WaitFor(Done done) {
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [&] { return m_stop.load() || done(); });
        return !m_stop.load();
    }

    // The same, asking `done` over and over for a short while first: a
    // thread put to sleep takes longer to wake than the first thread takes
    // to need what it makes (much longer in a virtual machine), and this
    // thread's processor would otherwise idle anyway. False when it
    // should sleep after all.
    template <class Done>
    bool SpinFor(Done done) {
        const auto until = std::chrono::steady_clock::now() + kSpin;
        for (unsigned i = 1;; ++i) {
            if (done() || m_stop.load(std::memory_order_relaxed)) return true;
            // Any other thread that wants this processor has it first: on
            // a busy machine the first thread itself may be waiting for it.
            std::this_thread::yield();
            if (i % 16 == 0 && std::chrono::steady_clock::now() > until) return false;
        }
    }

    void Run() {
        const std::vector<Node*>& children = m_parent->children;
        std::vector<ValueLine> lines;
        Text scratch;
        RegValue value;
        const auto named = [this] { return m_published.load(std::memory_order_acquire) > 0; };
        if (!SpinFor(named) && !WaitFor(named)) return;
        if (m_stop.load()) return;
        for (std::size_t k = 0; k < children.size() && !m_stop.load(std::memory_order_relaxed);) {
            const std::size_t asked = m_position.load();
            // Children the first thread has passed, or reads itself, are of no use to it.
            k = std::max({k, asked, m_skip_to.load(std::memory_order_relaxed)});
            if (k >= children.size()) break;
            if (k >= asked + kSlots) {
                // Far enough ahead: on as soon as a slot is free, or after
                // a sleep until half of them are.
                if (SpinFor([this, k] { return m_position.load() + kSlots > k; })) continue;
                const std::size_t resume = k - kSlots / 2;
                m_wake_at.store(resume);
                const bool go = WaitFor([this, resume] { return m_position.load() >= resume; });
                m_wake_at.store(kNobody);
                if (!go) return;
                continue;
            }
            const std::size_t names = m_published.load(std::memory_order_acquire);
            Slot& slot = m_slots[k % kSlots];
            m_file.ValueLinesOf(children[k], lines);
            std::size_t used = 0;
            std::size_t n = 0;
            for (; n < names; ++n) {
                const Lookups::Spelling& name = m_names[n];
                const std::string_view plain = name.plain ? std::string_view(name.bytes) : std::string_view();
                Slot::Answer& answer = slot.answers[n];
                answer.found = m_file.ValueFromLines(lines, name.name, plain, scratch, value);
                if (!answer.found) continue;
                // An answer too large for the slot is left to the first thread, and those after it.
                const std::size_t name_bytes = value.name.size() * sizeof(char16_t);
                const std::size_t data_at = (used + name_bytes + 7) & ~std::size_t{7};
                if (data_at + value.data.size() > kSlotBytes) break;
                answer.type = value.type;
                answer.name_at = static_cast<std::uint32_t>(used);
                answer.name_units = static_cast<std::uint32_t>(value.name.size());
                if (name_bytes != 0) std::memcpy(slot.bytes + used, value.name.data(), name_bytes);
                answer.data_at = static_cast<std::uint32_t>(data_at);
                answer.data_size = static_cast<std::uint32_t>(value.data.size());
                if (!value.data.empty()) std::memcpy(slot.bytes + data_at, value.data.data(), value.data.size());
                used = data_at + value.data.size();
            }
            slot.names = n;
            slot.ready.store(k + 1, std::memory_order_release);
            ++k;
        }
    }

    const RegFile& m_file;
    const Node* const m_parent;
    // The first thread's own.
    std::size_t m_named = 0;  // names written to m_names
    std::size_t m_asked = 0;  // the last child asked
    std::size_t m_told = 0;   // the last child m_position was told
    std::size_t m_skipped = 0;  // the last child m_skip_to was told
    // Written by the first thread before `m_published` counts them, never after.
    alignas(64) std::array<Lookups::Spelling, kNames> m_names;
    alignas(64) std::atomic<std::size_t> m_published{0};
    alignas(64) std::atomic<std::size_t> m_position{0};
    // Where the second thread goes on from, when it fell behind.
    alignas(64) std::atomic<std::size_t> m_skip_to{0};
    // Where the second thread waits for m_position to be, while it waits.
    alignas(64) std::atomic<std::size_t> m_wake_at{kNobody};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::unique_ptr<Slot[]> m_slots{new Slot[kSlots]};
    std::thread m_thread;  // last: it starts when everything above is ready
};

RegFile::RegFile() = default;

RegFile::~RegFile() { StopReadingAhead(); }

void RegFile::StopReadingAhead() { m_ahead.reset(); }

void RegFile::ReadAheadBelow(const Node* parent) {
    // Each enumeration starts from its first child again.
    StopReadingAhead();
    if (!parent || parent->children.size() < kFewestChildren) return;
    try {
        m_ahead = std::make_unique<Ahead>(*this, parent);
    } catch (...) {
        // No thread to be had: every value is read where it is asked.
    }
}

RegFile::AheadAnswer RegFile::AskAhead(const Node* parent, std::size_t index, const Lookups::Spelling& spelling) {
    if (m_ahead->parent() != parent) return AheadAnswer::Unknown;
    return m_ahead->Ask(index, spelling, m_lookups.value);
}

}  // namespace ssr::wine
