// The soak's reader: reads the whole window of every electrode of the processor every 100 ms
// for a given time, closes and opens the connection a given number of times spread over it,
// opens again whenever the processor's restart ends the connection, and prints its resident
// memory (and the heap's bytes in use), threads and descriptors after the first read and at
// the end (open, then closed).
//
// Usage: soak_reader SECONDS CYCLES udp|tcp WINDOW
#include "include/kestlib.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <malloc.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReadEvery = std::chrono::milliseconds(100);
// A processor clock that stands still this long means the connection is gone (a restarted
// processor forgets its datagram clients): the reader opens again.
constexpr auto kStillClock = std::chrono::seconds(3);
constexpr int kElectrodes = 512;

struct Usage {
    long rssKb = -1;
    long heapKb = -1; // allocated and not freed, which fragmentation does not inflate
    long threads = -1;
    long descriptors = 0;
};

long StatusField(const char* name) {
    std::FILE* file = std::fopen("/proc/self/status", "r");
    if (file == nullptr) {
        return -1;
    }
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, file) != nullptr) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(file);
    return value;
}

Usage Measure() {
    Usage usage;
    usage.rssKb = StatusField("VmRSS");
    usage.threads = StatusField("Threads");
    const struct mallinfo2 heap = mallinfo2();
    usage.heapKb = long((heap.uordblks + heap.hblkhd) / 1024);
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') {
                ++usage.descriptors;
            }
        }
        closedir(dir);
        --usage.descriptors; // the listing's own
    }
    return usage;
}

void Print(const char* when, const Usage& usage) {
    std::printf("%-12s rss=%ld kB heap-in-use=%ld kB threads=%ld descriptors=%ld\n", when,
                usage.rssKb, usage.heapKb, usage.threads, usage.descriptors);
    std::fflush(stdout);
}

bool Open(bool tcp) {
    return (tcp ? kl_open_tcp() : kl_open_udp()) == KL_SUCCESS;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: soak_reader SECONDS CYCLES udp|tcp WINDOW\n");
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    const int cycles = std::atoi(argv[2]);
    const bool tcp = std::strcmp(argv[3], "tcp") == 0;
    const int window = std::atoi(argv[4]);
    if (seconds <= 0 || cycles < 0 || window <= 0) {
        std::fprintf(stderr, "soak_reader: bad arguments\n");
        return 2;
    }

    std::vector<std::uint32_t> electrodes(kElectrodes);
    for (int e = 0; e < kElectrodes; ++e) {
        electrodes[std::size_t(e)] = std::uint32_t(e);
    }
    std::vector<float> data(std::size_t(kElectrodes) * std::size_t(window));

    const auto first = Clock::now() + std::chrono::seconds(30);
    while (!Open(tcp)) {
        if (Clock::now() > first) {
            std::fprintf(stderr, "soak_reader: no processor answered\n");
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    std::uint32_t start = 0;
    kl_cont_raw(&start, data.data(), window, electrodes.data(), kElectrodes, 0);
    Print("start", Measure());

    const auto begin = Clock::now();
    const auto end = begin + std::chrono::duration<double>(seconds);
    const auto cycleEvery = std::chrono::duration<double>(seconds / (cycles + 1));
    auto nextCycle = begin + cycleEvery;
    auto nextRead = begin;
    int cyclesDone = 0;
    long reads = 0;
    long emptyReads = 0; // a window not (yet) held: just after an open
    long failedReads = 0;
    std::chrono::duration<double, std::milli> readTime{0};
    std::chrono::duration<double, std::milli> longestRead{0};
    long reopens = 0;
    long failedOpens = 0;
    bool open = true;
    std::uint32_t lastTime = kl_time();
    auto lastTick = Clock::now();
    while (Clock::now() < end) {
        std::this_thread::sleep_until(nextRead);
        nextRead += kReadEvery;
        if (Clock::now() > nextRead) {
            nextRead = Clock::now(); // a read that took longer: the next follows at once
        }
        if (cyclesDone < cycles && Clock::now() >= nextCycle) {
            kl_close();
            open = Open(tcp);
            failedOpens += open ? 0 : 1;
            ++cyclesDone;
            lastTick = Clock::now();
            nextCycle += std::chrono::duration_cast<Clock::duration>(cycleEvery);
        }
        if (!open) {
            kl_close();
            open = Open(tcp);
            failedOpens += open ? 0 : 1;
            reopens += open ? 1 : 0;
            lastTick = Clock::now();
            continue;
        }
        const std::uint32_t now = kl_time();
        if (now != lastTime) {
            lastTime = now;
            lastTick = Clock::now();
        } else if (Clock::now() - lastTick > kStillClock) {
            open = false;
            continue;
        }
        const auto before = Clock::now();
        const std::int32_t got =
            kl_cont_raw(&start, data.data(), window, electrodes.data(), kElectrodes, 0);
        const std::chrono::duration<double, std::milli> took = Clock::now() - before;
        readTime += took;
        longestRead = std::max(longestRead, took);
        if (got > 0) {
            ++reads;
        } else if (got == 0) {
            ++emptyReads;
        } else {
            ++failedReads;
            // A restart ends the connection: the calls then fail and the next one opens.
            open = got != KL_ERR_NOT_INITIALIZED;
        }
    }
    // A cycle left over (a slow machine) still happens, so every run makes them all.
    for (; cyclesDone < cycles; ++cyclesDone) {
        kl_close();
        open = Open(tcp);
        failedOpens += open ? 0 : 1;
    }
    // The end is measured open, as the start was: a processor just restarted gets time to
    // answer.
    const auto last = Clock::now() + std::chrono::seconds(30);
    while (!open && Clock::now() < last) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        kl_close();
        open = Open(tcp);
        failedOpens += open ? 0 : 1;
    }
    if (open) {
        kl_cont_raw(&start, data.data(), window, electrodes.data(), kElectrodes, 0);
    }
    const long allReads = reads + emptyReads + failedReads;
    std::printf(
        "reads=%ld empty-reads=%ld failed-reads=%ld mean-read=%.0f ms longest-read=%.0f ms\n",
        reads, emptyReads, failedReads, allReads > 0 ? readTime.count() / allReads : 0.0,
        longestRead.count());
    std::printf("cycles=%d reopens-after-restart=%ld failed-opens=%ld\n", cyclesDone, reopens,
                failedOpens);
    Print(open ? "end (open)" : "end (no open)", Measure());
    kl_close();
    Print("end (closed)", Measure());
    return 0;
}
