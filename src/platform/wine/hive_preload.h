#pragma once
// Reads and parses a prefix's two hives on a thread of their own, so that
// the work overlaps what the program does before it first asks for them
// (starting the toolkit and building the window). A large system.reg is
// read and parsed in pieces on more threads still (LoadHive).

#include <filesystem>
#include <future>
#include <memory>
#include <optional>
#include <thread>

#include "platform/wine/posix_file.h"
#include "platform/wine/reg_file.h"

namespace ssr::wine {

// What the background read made of one hive file.
struct PreloadedHive {
    FileIdentity identity;
    std::unique_ptr<RegFile> file;
};

class HivePreload {
public:
    // Starts at once: system.reg first, then user.reg, which is read as the
    // prefix's architecture (from system.reg) says, as the store reads it.
    HivePreload(std::filesystem::path machine, std::filesystem::path user);
    ~HivePreload();
    HivePreload(const HivePreload&) = delete;
    HivePreload& operator=(const HivePreload&) = delete;

    // Hive 0 (system.reg) or 1 (user.reg) as parsed in the background,
    // waiting for it if need be. Empty when the file was missing, could not
    // be read or parsed, or was taken before: the caller then reads it
    // itself and meets any failure, with its message, as it always did.
    std::optional<PreloadedHive> Take(int hive);

private:
    void Run(std::filesystem::path machine, std::filesystem::path user);

    std::promise<std::optional<PreloadedHive>> m_promised[2];
    std::future<std::optional<PreloadedHive>> m_results[2];
    std::thread m_thread;
};

}  // namespace ssr::wine
