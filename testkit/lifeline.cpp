// Linked into every test and benchmark. The process gets a folder of its own
// for temporary files (TMPDIR, so every QTemporaryDir lands in it) and a
// watchdog that no kill of the process, its group or its tree reaches. When
// the process ends, however it ends (SIGKILL, a ctest time-out, a group kill
// by scripts/mutate, or a plain exit), the watchdog stops every process that
// carries the folder in its environment (harrox, postgres, a relay, even one
// that left for a session of its own), removes the process's network
// namespaces ("lan<pid>…") and the folder.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// $1 the folder, $2 the pid. A postmaster is asked first, so that it takes
// its shared memory with it (5 s at most); then the rest is killed.
constexpr const char *Watchdog = R"sh(
read -r _
ours() { grep -lzx "LINTRA_RUN=$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3; }
for f in $(find "$1" -name postmaster.pid 2>/dev/null); do
    p=$(head -n1 "$f"); i=0
    grep -qzx "LINTRA_RUN=$1" "/proc/$p/environ" 2>/dev/null && kill -QUIT "$p" &&
    while [ $i -lt 50 ] && grep -qzx "LINTRA_RUN=$1" "/proc/$p/environ" 2>/dev/null; do sleep 0.1; i=$((i+1)); done
done
for p in $(ours "$1"); do kill -KILL "$p" 2>/dev/null; done
for n in $(ip netns list 2>/dev/null | cut -d' ' -f1); do
    case $n in "lan$2"[!0-9]*) ip netns del "$n";; esac; done
chmod -R u+rwX "$1" 2>/dev/null; rm -rf "$1"
)sh";

struct Lifeline
{
    Lifeline()
    {
        const char *base = std::getenv("TMPDIR");
        char dir[4096];
        std::snprintf(dir, sizeof dir, "%s/lintra-run.XXXXXX", base && *base ? base : "/tmp");
        int ends[2];
        if (!::mkdtemp(dir) || ::pipe2(ends, O_CLOEXEC) != 0) {
            std::perror("lifeline"); // the test still runs, only without clean-up
            return;
        }
        // Others may pass through to folders made for them (postgres, nobody), not list it.
        ::chmod(dir, 0711);
        ::setenv("TMPDIR", dir, 1);
        ::setenv("LINTRA_RUN", dir, 1);
        char pid[16];
        std::snprintf(pid, sizeof pid, "%d", int(::getpid()));
        const pid_t first = ::fork();
        if (first == 0) {
            // A session of its own and a parent that is gone: out of every kill's reach.
            ::setsid();
            if (::fork() != 0)
                ::_exit(0);
            ::dup2(ends[0], 0);
            const int null = ::open("/dev/null", O_WRONLY);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::syscall(SYS_close_range, 3U, ~0U, 0U); // ctest waits for its pipes to close
            // Not marked itself, or it would wait for and kill itself.
            ::unsetenv("LINTRA_RUN");
            ::execl("/bin/sh", "sh", "-c", Watchdog, "lifeline", dir, pid, static_cast<char *>(nullptr));
            ::_exit(127);
        }
        ::close(ends[0]);
        while (first > 0 && ::waitpid(first, nullptr, 0) < 0 && errno == EINTR) {
        }
        // ends[1] stays open for the process's life; only its end closes it.
    }
};

const Lifeline lifeline;

} // namespace
