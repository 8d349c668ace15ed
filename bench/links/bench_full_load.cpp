// The library against an emulated processor at full load: paxsim with 16 front ends of 32
// channels of raw data at 30 kHz, started as a child process on loopback.
//
//   bench_full_load --paxsim PATH --port-base P --opens N
//       The first open of the process, then N more (each closed again), against the
//       streaming processor: one line "opens first_ms=.. median_ms=.. p95_ms=.. n=N".
//   bench_full_load --paxsim PATH --port-base P --transport udp|tcp --reader none|window
//                   [--warmup S] [--seconds S]
//       Opens, lets the rings fill for the warm-up, then measures for S seconds, with no
//       reader or with one taking the whole 5.12 s window of all 512 electrodes every 100 ms:
//       one line "full_load transport=.. reader=.. lost=.. ..." (see PrintRun).
//
// Lost samples are the gap markers the cache holds in place of samples that never arrived,
// found by a checker that reads the new part of one electrode of every front end twice a
// second (each of a front end's 32 channels misses the same ticks); samples the processor
// had sent by the end but the cache did not yet hold are reported apart (behind_at_end), with
// whether the processor gave up on a TCP stream that fell 64 MiB behind (stream_dropped). Socket
// drops are the drops column of /proc/net/udp for this process's sockets. The link's CPU share
// comes from /proc/self/task/<tid>/stat of the threads the open started. kl_time lag is paxsim's
// clock (its control channel's "time") minus kl_time, sampled every 50 ms; the lag behind what
// was sent is the clock as of paxsim's last pass that sent data ("sent", asked right after)
// minus kl_time: the first includes how late the emulator itself was, the second only what
// the link and the cache add.
#include "cache/KestCache.h"
#include "client/Connection.h"
#include "include/kestlib.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <set>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr unsigned kFrontEnds = 16;
constexpr unsigned kElectrodes = kFrontEnds * 32;
constexpr std::uint32_t kWindow = 153600; // 5.12 s at 30 kHz
constexpr double kTicksPerMs = 30.0;

struct Options {
    std::string paxsim;
    unsigned portBase = 0;
    unsigned opens = 0;
    std::string transport = "udp";
    std::string reader = "none";
    double warmup = 6;
    double seconds = 20;
};

[[noreturn]] void Fail(const std::string& text) {
    std::fprintf(stderr, "bench_full_load: %s\n", text.c_str());
    std::exit(1);
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            Fail(option + " needs a value");
        }
        const std::string value = argv[++i];
        if (option == "--paxsim") {
            o.paxsim = value;
        } else if (option == "--port-base") {
            o.portBase = unsigned(std::stoul(value));
        } else if (option == "--opens") {
            o.opens = unsigned(std::stoul(value));
        } else if (option == "--transport") {
            o.transport = value;
        } else if (option == "--reader") {
            o.reader = value;
        } else if (option == "--warmup") {
            o.warmup = std::stod(value);
        } else if (option == "--seconds") {
            o.seconds = std::stod(value);
        } else {
            Fail("unknown option " + option);
        }
    }
    if (o.paxsim.empty() || o.portBase == 0 || o.portBase > 65000) {
        Fail("--paxsim and --port-base are needed");
    }
    if ((o.transport != "udp" && o.transport != "tcp") ||
        (o.reader != "none" && o.reader != "window")) {
        Fail("--transport takes udp or tcp, --reader none or window");
    }
    return o;
}

bool IsLoopback(const char* net) {
    return net != nullptr && std::strncmp(net, "127.", 4) == 0;
}

// --- The emulated processor as a child process, and its control channel.

class Processor {
  public:
    Processor(const Options& o) {
        controlPort_ = o.portBase + 10;
        const std::string base = std::to_string(o.portBase);
        const std::string control = std::to_string(controlPort_);
        setenv("KEST_PORT_BASE", base.c_str(), 1);
        std::vector<std::string> args = {
            o.paxsim,         "--frontends", "16",      "--channels",           "32",
            "--mode",         o.transport,   "--quiet", "--port-base",          base,
            "--control-port", control,       "--off",   "stim,lfp,spk,analog1k"};
        pid_ = fork();
        if (pid_ < 0) {
            Fail("fork failed");
        }
        if (pid_ == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM); // no processor outlives a benchmark that failed
            std::vector<char*> argv;
            for (std::string& a : args) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (!Connect()) {
            if (Clock::now() > deadline) {
                Fail("paxsim's control channel did not come up");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~Processor() {
        if (fd_ >= 0) {
            close(fd_);
        }
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }

    // One command, its one-line answer.
    std::string Ask(const std::string& command) {
        const std::string line = command + "\n";
        if (send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != ssize_t(line.size())) {
            Fail("control channel lost");
        }
        for (;;) {
            const std::size_t end = pending_.find('\n');
            if (end != std::string::npos) {
                std::string answer = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return answer;
            }
            char buffer[1024];
            const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                Fail("control channel lost");
            }
            pending_.append(buffer, std::size_t(n));
        }
    }

    std::uint32_t Now() { return Tick("time"); }
    // The clock as of the emulator's last pass that sent data.
    std::uint32_t SentUpTo() { return Tick("sent"); }

    // The numbers of a "stats" answer by name.
    std::map<std::string, double> Stats() {
        std::map<std::string, double> out;
        std::istringstream in(Ask("stats"));
        std::string word;
        while (in >> word) {
            const std::size_t eq = word.find('=');
            if (eq != std::string::npos) {
                out[word.substr(0, eq)] = std::stod(word.substr(eq + 1));
            }
        }
        return out;
    }

  private:
    std::uint32_t Tick(const std::string& command) {
        const std::string answer = Ask(command);
        return std::uint32_t(std::stoul(answer.substr(3)));
    }

    bool Connect() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(std::uint16_t(controlPort_));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
            return true;
        }
        close(fd_);
        fd_ = -1;
        return false;
    }

    pid_t pid_ = -1;
    unsigned controlPort_ = 0;
    int fd_ = -1;
    std::string pending_;
};

// --- /proc figures.

std::set<long> Tasks() {
    std::set<long> out;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                out.insert(std::atol(entry->d_name));
            }
        }
        closedir(dir);
    }
    return out;
}

// utime + stime of a thread in clock ticks.
long TaskCpuTicks(long tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t paren = text.rfind(')');
    if (paren == std::string::npos) {
        return 0;
    }
    std::istringstream fields(text.substr(paren + 2));
    std::string field;
    long utime = 0, stime = 0;
    // Fields after the name start at the state (field 3); utime and stime are 14 and 15.
    for (int index = 3; index <= 15 && (fields >> field); ++index) {
        if (index == 14) {
            utime = std::atol(field.c_str());
        } else if (index == 15) {
            stime = std::atol(field.c_str());
        }
    }
    return utime + stime;
}

// Drops of this process's UDP sockets, summed.
unsigned long long SocketDrops() {
    std::set<std::string> inodes;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) {
            char target[128] = {};
            const std::string path = std::string("/proc/self/fd/") + entry->d_name;
            const ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
            if (n > 0 && std::strncmp(target, "socket:[", 8) == 0) {
                std::string inode(target + 8);
                inode.pop_back();
                inodes.insert(inode);
            }
        }
        closedir(dir);
    }
    unsigned long long drops = 0;
    for (const char* table : {"/proc/net/udp", "/proc/net/udp6"}) {
        std::ifstream in(table);
        std::string line;
        std::getline(in, line); // header
        while (std::getline(in, line)) {
            std::istringstream fields(line);
            std::vector<std::string> words;
            std::string word;
            while (fields >> word) {
                words.push_back(word);
            }
            if (words.size() >= 13 && inodes.count(words[9]) != 0) {
                drops += std::stoull(words.back());
            }
        }
    }
    return drops;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, std::size_t(share * double(values.size())));
    return values[at];
}

double Median(const std::vector<double>& values) {
    return Percentile(values, 0.5);
}

// Nearest-rank p95: the smallest value with at least 95 % of the values at or below it.
double P95(std::vector<double> values) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    std::size_t rank = (values.size() * 95 + 99) / 100;
    return values[std::max<std::size_t>(rank, 1) - 1];
}

double MsSince(Clock::time_point begin) {
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

int Open(const Options& o) {
    return o.transport == "udp" ? kl_open_udp() : kl_open_tcp();
}

// --- Opens.

int RunOpens(const Options& o) {
    Processor processor(o);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::vector<double> times;
    double first = 0;
    for (unsigned i = 0; i <= o.opens; ++i) {
        const auto begin = Clock::now();
        if (Open(o) != KL_SUCCESS) {
            Fail("open " + std::to_string(i) + " failed");
        }
        const double ms = MsSince(begin);
        if (i == 0) {
            first = ms;
        } else {
            times.push_back(ms);
        }
        kl_close();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::printf("opens first_ms=%.1f median_ms=%.1f p95_ms=%.1f max_ms=%.1f n=%u\n", first,
                Median(times), P95(times), *std::max_element(times.begin(), times.end()), o.opens);
    return 0;
}

// --- Full load.

// Follows one electrode of every front end and counts the marker samples in what arrived.
class LossChecker {
  public:
    void Start() {
        for (unsigned fe = 0; fe < kFrontEnds; ++fe) {
            Follow& f = follow_[fe];
            f.electrode = fe * 32;
            if (gKestCache->GetOutputStreamDesc(int(f.electrode), "raw", &f.module, &f.stream) ==
                nullptr) {
                Fail("no raw stream on front end " + std::to_string(fe));
            }
            float newest = 0;
            std::uint32_t time = 0;
            const auto deadline = Clock::now() + std::chrono::seconds(5);
            while (gKestCache->GetContData(&time, &newest, 1, f.electrode, unsigned(f.module),
                                           unsigned(f.stream), 0, false) != 1) {
                if (Clock::now() > deadline) {
                    Fail("no raw samples on front end " + std::to_string(fe));
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            f.next = time + 1;
        }
        buffer_.assign(kWindow, 0);
    }

    // Reads what arrived since the last check; returns the marker samples among it, for all
    // 32 channels of every front end.
    unsigned long long Check() {
        unsigned long long lost = 0;
        const std::uint32_t now = kl_time();
        for (Follow& f : follow_) {
            const std::uint32_t wanted = now - f.next;
            if (std::int32_t(wanted) <= 0) {
                continue;
            }
            std::uint32_t start = 0;
            const int read = gKestCache->GetContData(
                &start, buffer_.data(), std::min(wanted, kWindow), f.electrode, unsigned(f.module),
                unsigned(f.stream), f.next, false);
            if (read <= 0) {
                // The ring has moved past the window: it was behind by more than it holds.
                if (wanted > kWindow) {
                    lost += 32ull * (wanted - 30);
                    f.next = now - 30;
                }
                continue;
            }
            unsigned long long markers = 0;
            for (int i = 0; i < read; ++i) {
                markers += buffer_[std::size_t(i)] == -32768.0f ? 32 : 0;
            }
            lost += markers;
            f.next += std::uint32_t(read);
            received_ += 32ull * std::uint32_t(read) - markers;
        }
        return lost;
    }

    // Samples that arrived (markers not counted).
    unsigned long long Received() const { return received_; }
    // Samples of every front end between what the checker has read and processor time
    // `now`: sent but not (yet) in the cache.
    unsigned long long Behind(std::uint32_t now) const {
        unsigned long long behind = 0;
        for (const Follow& f : follow_) {
            if (std::int32_t(now - f.next) > 0) {
                behind += 32ull * (now - f.next);
            }
        }
        return behind;
    }

  private:
    struct Follow {
        unsigned electrode = 0;
        int module = -1;
        int stream = -1;
        std::uint32_t next = 0;
    };
    Follow follow_[kFrontEnds];
    std::vector<float> buffer_;
    unsigned long long received_ = 0;
};

// Takes the whole window of every electrode every 100 ms.
class WindowReader {
  public:
    void Start() {
        for (unsigned e = 0; e < kElectrodes; ++e) {
            electrodes_[e] = e;
        }
        data_.assign(std::size_t(kElectrodes) * kWindow, 0.0f);
        thread_ = std::thread([this] { Run(); });
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    std::vector<double> Durations() const { return durations_; }

  private:
    void Run() {
        auto next = Clock::now();
        while (!stop_) {
            const auto begin = Clock::now();
            std::uint32_t start = 0;
            kl_cont_raw(&start, data_.data(), int(kWindow), electrodes_, int(kElectrodes), 0);
            durations_.push_back(MsSince(begin));
            next += std::chrono::milliseconds(100);
            if (next < Clock::now()) {
                next = Clock::now(); // behind: no burst of reads to catch up
            }
            std::this_thread::sleep_until(next);
        }
    }

    std::uint32_t electrodes_[kElectrodes] = {};
    std::vector<float> data_;
    std::vector<double> durations_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

int RunFullLoad(const Options& o) {
    Processor processor(o);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::set<long> before = Tasks();
    const auto openBegin = Clock::now();
    if (Open(o) != KL_SUCCESS) {
        Fail("open failed");
    }
    const double openMs = MsSince(openBegin);
    LossChecker checker;
    checker.Start();

    // Warm-up: the rings fill; loss here is reported on its own.
    unsigned long long lostWarmup = 0;
    const auto warmEnd = Clock::now() + std::chrono::duration<double>(o.warmup);
    while (Clock::now() < warmEnd) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        lostWarmup += checker.Check();
    }
    const unsigned long long receivedWarmup = checker.Received();

    // The library's threads: those that the open started and that still run.
    std::map<long, long> cpuBefore;
    for (long tid : Tasks()) {
        if (before.count(tid) == 0) {
            cpuBefore[tid] = TaskCpuTicks(tid);
        }
    }
    WindowReader reader;
    if (o.reader == "window") {
        reader.Start();
    }
    const unsigned long long dropsBefore = SocketDrops();
    std::map<std::string, double> statsBefore = processor.Stats();
    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration<double>(o.seconds);
    std::vector<double> lags, sentLags;
    unsigned long long lost = 0;
    auto nextCheck = begin + std::chrono::milliseconds(500);
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const std::uint32_t pax = processor.Now();
        const std::uint32_t sent = processor.SentUpTo();
        const std::uint32_t ours = kl_time();
        lags.push_back(double(std::int32_t(pax - ours)) / kTicksPerMs);
        sentLags.push_back(double(std::int32_t(sent - ours)) / kTicksPerMs);
        if (Clock::now() >= nextCheck) {
            lost += checker.Check();
            nextCheck += std::chrono::milliseconds(500);
        }
    }
    const double wallSeconds = MsSince(begin) / 1000.0;
    const unsigned long long drops = SocketDrops() - dropsBefore;
    std::map<std::string, double> statsAfter = processor.Stats();
    long linkTicks = 0, libraryTicks = 0;
    for (const auto& [tid, ticks] : cpuBefore) {
        const long used = std::max(0L, TaskCpuTicks(tid) - ticks);
        linkTicks = std::max(linkTicks, used);
        libraryTicks += used;
    }
    reader.Stop();
    lost += checker.Check();
    // What the processor has sent by now and the cache still lacks: a link that stalled (or
    // whose stream the processor gave up on) shows here rather than as gaps.
    const unsigned long long behind = checker.Behind(processor.Now());
    const bool streamDropped = o.transport == "tcp" && statsAfter["tcp-data"] == 0;
    kl_close();

    const double hz = double(sysconf(_SC_CLK_TCK));
    const double linkShare = 100.0 * double(linkTicks) / hz / wallSeconds;
    const double libraryShare = 100.0 * double(libraryTicks) / hz / wallSeconds;
    const std::vector<double> reads = reader.Durations();
    const unsigned long long received = checker.Received() - receivedWarmup;
    std::printf(
        "full_load transport=%s reader=%s seconds=%.1f open_ms=%.1f lost=%llu "
        "received=%llu behind_at_end=%llu stream_dropped=%d lost_warmup=%llu socket_drops=%llu "
        "sender_drops=%.0f "
        "link_cpu_pct=%.1f library_cpu_pct=%.1f lag_median_ms=%.2f lag_p99_ms=%.2f "
        "lag_max_ms=%.2f sent_lag_median_ms=%.2f sent_lag_p99_ms=%.2f sent_lag_max_ms=%.2f "
        "reads=%zu read_median_ms=%.1f read_max_ms=%.1f\n",
        o.transport.c_str(), o.reader.c_str(), wallSeconds, openMs, lost, received, behind,
        streamDropped ? 1 : 0, lostWarmup, drops,
        statsAfter["dropped-datagrams"] - statsBefore["dropped-datagrams"], linkShare, libraryShare,
        Median(lags), Percentile(lags, 0.99), *std::max_element(lags.begin(), lags.end()),
        Median(sentLags), Percentile(sentLags, 0.99),
        *std::max_element(sentLags.begin(), sentLags.end()), reads.size(), Median(reads),
        reads.empty() ? 0.0 : *std::max_element(reads.begin(), reads.end()));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    if (!IsLoopback(std::getenv("KEST_WIRED_NET")) ||
        !IsLoopback(std::getenv("KEST_WIRELESS_NET"))) {
        Fail("KEST_WIRED_NET and KEST_WIRELESS_NET must be loopback networks (127.x)");
    }
    signal(SIGPIPE, SIG_IGN);
    return o.opens > 0 ? RunOpens(o) : RunFullLoad(o);
}
