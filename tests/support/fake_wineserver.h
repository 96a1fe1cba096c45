#pragma once
// Test support for the Wine prefix code.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace ssr::testing {

namespace fs = std::filesystem;

// A stand-in for a running wineserver: a child process holds the write lock
// on byte 0 of the server folder's lock file, found the way Debian's Wine
// names it (the folder named in <prefix>/wineserver, under $TMPDIR).
class FakeServer {
public:
    explicit FakeServer(const fs::path& prefix, const fs::path& tmpdir) {
        struct stat st {};
        ::stat(prefix.c_str(), &st);
        char name[64];
        std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino));
        m_lock = tmpdir / "wine-fake" / name / "lock";
        fs::create_directories(m_lock.parent_path());
        std::ofstream(prefix / "wineserver") << "wine-fake";
        std::ofstream(m_lock).flush();
        ::setenv("TMPDIR", tmpdir.c_str(), 1);
    }
    ~FakeServer() {
        Stop();
        ::unsetenv("TMPDIR");
    }
    void Start() {
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        m_child = ::fork();
        if (m_child == 0) {
            const int fd = ::open(m_lock.c_str(), O_RDWR);
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            lock.l_len = 1;
            const char ok = ::fcntl(fd, F_SETLK, &lock) == 0 ? '1' : '0';
            // As the real one: named wineserver, working in its server folder.
            ::prctl(PR_SET_NAME, "wineserver");
            static_cast<void>(::chdir(m_lock.parent_path().c_str()));
            static_cast<void>(::write(ready[1], &ok, 1));
            ::pause();
            ::_exit(0);
        }
        char ok = 0;
        ASSERT_EQ(::read(ready[0], &ok, 1), 1);
        ::close(ready[0]);
        ::close(ready[1]);
        ASSERT_EQ(ok, '1');
    }
    void Stop() {
        if (m_child <= 0) return;
        ::kill(m_child, SIGKILL);
        ::waitpid(m_child, nullptr, 0);
        m_child = -1;
    }

    [[nodiscard]] const fs::path& lock() const { return m_lock; }

private:
    fs::path m_lock;
    pid_t m_child = -1;
};

}  // namespace ssr::testing
