// Reading a whole hive file: every byte, whatever its size against the
// buffer, the spill that finds the end and the pages of the store's mapping.

#include "platform/wine/posix/posix_file.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "prefix_files.h"

namespace ssr::wine {
namespace {

TEST(ReadWholeFile, ReadsEveryByteAtSizesAroundItsBuffers) {
    test::TempFolder folder;
    for (const std::size_t size : {0UL, 1UL, 4095UL, 4096UL, 4097UL, 65536UL, 65537UL, 3'000'017UL}) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
        const auto path = folder.path() / ("file-" + std::to_string(size));
        test::WriteBytes(path, bytes);
        const ReadResult read = ReadWholeFile(path);
        EXPECT_EQ(read.error, IoError::None) << size;
        EXPECT_TRUE(read.bytes == bytes) << size << " bytes, got " << read.bytes.size();
        EXPECT_EQ(read.identity, IdentityOf(path)) << size;
    }
    EXPECT_EQ(ReadWholeFile(folder.path() / "missing").error, IoError::NotFound);
    EXPECT_EQ(ReadWholeFile(folder.path()).error, IoError::Other);
    // A FIFO, and a link to one, are refused at once instead of waiting for a writer.
    ::mkfifo((folder.path() / "fifo").c_str(), 0600);
    std::filesystem::create_symlink(folder.path() / "fifo", folder.path() / "link");
    EXPECT_EQ(ReadWholeFile(folder.path() / "fifo").error, IoError::Other);
    EXPECT_EQ(ReadWholeFile(folder.path() / "link").error, IoError::Other);
    EXPECT_EQ(ReadSmallFile(folder.path() / "fifo", 4096).error, IoError::Other);
    EXPECT_EQ(ReadSmallFile(folder.path() / "file-65536", 4096).code, EFBIG) << "larger than its limit";
}

}  // namespace
}  // namespace ssr::wine
