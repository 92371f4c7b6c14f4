// Namespaces of a test's own: network ones for its receivers, mount ones for a /dev of its own.
#pragma once

#include <cerrno>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

inline int g_refusals = -1; // in the child: where refuse() says why

// In inPrivate's child: this machine cannot give what the test needs; it skips saying `why`.
[[noreturn]] inline void refuse(const std::string &why)
{
    (void)!write(g_refusals, why.data(), why.size());
    _exit(77);
}

// Runs `body` in a child with `namespaces` (CLONE_NEW…) of its own, once the shell command `setUp`
// ("" for none) has succeeded there; skips, saying why, where either is refused (a container
// without CAP_SYS_ADMIN, a chroot whose "/" is no mount) or `body` refuses. The child has 60 s.
inline void inPrivate(int namespaces, const std::string &setUp, const std::function<void()> &body)
{
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    fflush(stdout);
    const pid_t child = fork();
    if (child == 0) {
        alarm(60), close(ends[0]), g_refusals = ends[1];
        const std::string no = namespaces == CLONE_NEWNET ? "no private network namespace here: "
            : namespaces == CLONE_NEWUTS                  ? "no private UTS namespace here: "
                                                          : "no private mount namespace here: ";
        if (unshare(namespaces) != 0)
            refuse(no + std::strerror(errno));
        if (!setUp.empty() && std::system(setUp.c_str()) != 0)
            refuse(no + "its set-up failed, as said above");
        body();
        fflush(stdout);
        _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    close(ends[1]);
    std::string why(512, '\0');
    why.resize(size_t(std::max<ssize_t>(read(ends[0], why.data(), why.size()), 0)));
    close(ends[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77 && !why.empty())
        GTEST_SKIP() << why;
    EXPECT_EQ(status, 0) << "the child failed, see above";
}

} // namespace testsupport
