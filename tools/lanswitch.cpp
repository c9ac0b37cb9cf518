// lanswitch: a switch between TAP devices in network namespaces, for
// shaping a test LAN where the kernel has no netem. Each frame read from one
// port goes out of the others (learning which port holds which address) after
// the delay it is given, unless it is lost or the link is cut.
//
//   lanswitch [options] NETNS:TAP NETNS:TAP...
//     --delay MS      one-way delay of every frame
//     --jitter MS     each frame's delay varies by up to this, either way
//     --reorder PCT   frames that may overtake those before them (with jitter)
//     --loss PCT      frames dropped at random
//     --rate KBIT     kilobits per second out of each port (0: no limit); a
//                     port holds at most --queue-ms of frames, drops the rest
//     --queue-ms MS   (default 100)
//     --seed N        the random choices repeat for the same seed (default 1)
//     --cut-for MS    SIGUSR1 cuts for this long (0: until the next SIGUSR1)
//     --pidfile FILE  written once every port is open
// SIGUSR1 cuts the link (every frame dropped, in flight ones too) or restores
// it; SIGTERM ends the switch. The TAP devices must exist (ip tuntap add).
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <queue>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <linux/if.h>
#include <linux/if_tun.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using Frame = std::vector<unsigned char>;
constexpr size_t MaxFrame = 65536;
constexpr size_t MacBytes = 6;

volatile sig_atomic_t cutSignals = 0;
volatile sig_atomic_t stopping = 0;

struct Pending
{
    Clock::time_point at;
    unsigned long order; // ties leave in arrival order
    Frame frame;
    bool operator>(const Pending &o) const { return at != o.at ? at > o.at : order > o.order; }
};

struct Port
{
    int fd = -1;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> queue;
    Clock::time_point lastAt{}; // the latest a frame leaves, for order
    Clock::time_point busyUntil{}; // the rate limit's wire
};

struct Options
{
    double delayMs = 0, jitterMs = 0, reorderPct = 0, lossPct = 0, rateKbit = 0, queueMs = 100;
    unsigned seed = 1;
    int cutForMs = 0;
    std::string pidfile;
};

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "lanswitch: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// Opens the TAP device dev inside network namespace ns.
int openTap(const std::string &ns, const std::string &dev)
{
    const int self = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int there = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (self < 0 || there < 0 || ::setns(there, CLONE_NEWNET) != 0)
        fail("namespace " + ns);
    const int fd = ::open("/dev/net/tun", O_RDWR | O_CLOEXEC | O_NONBLOCK);
    ifreq request{};
    request.ifr_flags = IFF_TAP | IFF_NO_PI;
    std::snprintf(request.ifr_name, IFNAMSIZ, "%s", dev.c_str());
    if (fd < 0 || ::ioctl(fd, TUNSETIFF, &request) != 0)
        fail("tap " + ns + ":" + dev);
    if (::setns(self, CLONE_NEWNET) != 0)
        fail("back from " + ns);
    ::close(self);
    ::close(there);
    return fd;
}

Clock::duration ms(double value)
{
    return std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(value));
}

class Switch
{
public:
    Switch(const Options &options, std::vector<Port> ports)
        : m_options(options), m_ports(std::move(ports)), m_random(options.seed)
    {
    }

    void run()
    {
        std::vector<pollfd> fds;
        for (const Port &p : m_ports)
            fds.push_back({p.fd, POLLIN, 0});
        while (!stopping) {
            takeSignals();
            const int wait = msToNext();
            if (::poll(fds.data(), fds.size(), wait) < 0 && errno != EINTR)
                fail("poll");
            for (size_t i = 0; i < fds.size(); ++i) {
                // A device removed with its namespace: the LAN is gone.
                if (fds[i].revents & (POLLERR | POLLHUP | POLLNVAL))
                    return;
                if (fds[i].revents & POLLIN)
                    readPort(i);
            }
            sendDue();
        }
    }

private:
    double uniform(double from, double to)
    {
        return std::uniform_real_distribution<double>(from, to)(m_random);
    }
    bool chance(double pct) { return pct > 0 && uniform(0, 100) < pct; }

    void takeSignals()
    {
        const int signals = cutSignals;
        cutSignals = 0;
        bool cut = signals % 2 == 1 ? !m_cut : m_cut;
        if (cut && m_cut && m_cutEnds != Clock::time_point{} && Clock::now() >= m_cutEnds)
            cut = false;
        if (cut == m_cut)
            return;
        m_cut = cut;
        if (m_cut) {
            m_cutEnds = m_options.cutForMs > 0 ? Clock::now() + ms(m_options.cutForMs)
                                               : Clock::time_point{};
            for (Port &p : m_ports)
                p.queue = {}; // what was on the wire is lost with it
        }
        std::fprintf(stderr, "lanswitch: link %s\n", m_cut ? "cut" : "restored");
    }

    int msToNext() const
    {
        Clock::time_point next = Clock::time_point::max();
        for (const Port &p : m_ports) {
            if (!p.queue.empty())
                next = std::min(next, p.queue.top().at);
        }
        if (m_cut && m_cutEnds != Clock::time_point{})
            next = std::min(next, m_cutEnds);
        if (next == Clock::time_point::max())
            return 1000; // signals are looked at at least this often
        const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
        return int(std::clamp<long long>(left + 1, 0, 1000));
    }

    void readPort(size_t from)
    {
        unsigned char buffer[MaxFrame];
        for (;;) {
            const ssize_t n = ::read(m_ports[from].fd, buffer, sizeof buffer);
            if (n <= 0)
                return;
            if (size_t(n) < 2 * MacBytes)
                continue;
            const std::string source(reinterpret_cast<char *>(buffer) + MacBytes, MacBytes);
            const std::string destination(reinterpret_cast<char *>(buffer), MacBytes);
            m_where[source] = from;
            if (m_cut || chance(m_options.lossPct))
                continue;
            const auto known = m_where.find(destination);
            for (size_t to = 0; to < m_ports.size(); ++to) {
                if (to != from && (known == m_where.end() || known->second == to))
                    enqueue(to, Frame(buffer, buffer + n));
            }
        }
    }

    void enqueue(size_t to, Frame frame)
    {
        Port &port = m_ports[to];
        const Clock::time_point now = Clock::now();
        Clock::time_point at =
                now + ms(m_options.delayMs + uniform(-m_options.jitterMs, m_options.jitterMs));
        if (m_options.rateKbit > 0) {
            // The frame takes the wire after those before it; a full queue drops it.
            const Clock::time_point start = std::max(now, port.busyUntil);
            if (start - now > ms(m_options.queueMs))
                return;
            port.busyUntil = start + ms(double(frame.size()) * 8 / m_options.rateKbit);
            at = std::max(at, port.busyUntil + ms(m_options.delayMs));
        }
        if (!chance(m_options.reorderPct))
            at = std::max(at, port.lastAt);
        port.lastAt = std::max(port.lastAt, at);
        port.queue.push({at, m_order++, std::move(frame)});
    }

    void sendDue()
    {
        const Clock::time_point now = Clock::now();
        for (Port &p : m_ports) {
            while (!p.queue.empty() && p.queue.top().at <= now) {
                const Frame &f = p.queue.top().frame;
                // A full device drops the frame, as a busy wire would.
                if (::write(p.fd, f.data(), f.size()) < 0 && errno != EAGAIN)
                    fail("write");
                p.queue.pop();
            }
        }
    }

    Options m_options;
    std::vector<Port> m_ports;
    std::mt19937 m_random;
    std::map<std::string, size_t> m_where; // address -> port
    unsigned long m_order = 0;
    bool m_cut = false;
    Clock::time_point m_cutEnds{};
};

} // namespace

int main(int argc, char *argv[])
{
    Options options;
    std::vector<Port> ports;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "lanswitch: %s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--delay")
            options.delayMs = std::stod(value());
        else if (arg == "--jitter")
            options.jitterMs = std::stod(value());
        else if (arg == "--reorder")
            options.reorderPct = std::stod(value());
        else if (arg == "--loss")
            options.lossPct = std::stod(value());
        else if (arg == "--rate")
            options.rateKbit = std::stod(value());
        else if (arg == "--queue-ms")
            options.queueMs = std::stod(value());
        else if (arg == "--seed")
            options.seed = unsigned(std::stoul(value()));
        else if (arg == "--cut-for")
            options.cutForMs = std::stoi(value());
        else if (arg == "--pidfile")
            options.pidfile = value();
        else if (const size_t colon = arg.find(':'); colon != std::string::npos && arg[0] != '-') {
            ports.push_back({});
            ports.back().fd = openTap(arg.substr(0, colon), arg.substr(colon + 1));
        } else {
            std::fprintf(stderr,
                         "usage: lanswitch [--delay MS] [--jitter MS] [--reorder PCT] [--loss PCT] "
                         "[--rate KBIT] [--queue-ms MS] [--seed N] [--cut-for MS] [--pidfile FILE] "
                         "NETNS:TAP NETNS:TAP...\n");
            return 2;
        }
    }
    if (ports.size() < 2) {
        std::fprintf(stderr, "lanswitch: two ports at least\n");
        return 2;
    }
    struct sigaction cut
    { };
    cut.sa_handler = [](int) { cutSignals = cutSignals + 1; };
    ::sigaction(SIGUSR1, &cut, nullptr);
    struct sigaction stop
    { };
    stop.sa_handler = [](int) { stopping = 1; };
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    if (!options.pidfile.empty()) {
        // Written whole under another name first: a reader never sees half.
        const std::string part = options.pidfile + ".part";
        if (FILE *f = std::fopen(part.c_str(), "w")) {
            std::fprintf(f, "%d\n", int(::getpid()));
            std::fclose(f);
            std::rename(part.c_str(), options.pidfile.c_str());
        }
    }
    Switch(options, std::move(ports)).run();
    return 0;
}
