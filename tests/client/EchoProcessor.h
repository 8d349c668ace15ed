// A stand-in for the processor's side of confirmed writes: a thread that takes every
// property write published in a sink and answers it into a cache, as the link thread would
// hand the processor's echo to the cache. It can answer faithfully, answer with another
// value, or stay silent.
#pragma once

#include "ClientKit.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace clientkit {

class EchoProcessor {
  public:
    enum class Mode { Echo, Alter, Silent };

    EchoProcessor(CountingSink& sink, KestCache& cache, Mode mode,
                  std::chrono::milliseconds delay = std::chrono::milliseconds(2))
        : sink_(sink), cache_(cache), mode_(mode), delay_(delay), thread_([this] { Serve(); }) {}
    ~EchoProcessor() {
        stop_.store(true);
        thread_.join();
    }

    int Answered() const { return answered_.load(); }

  private:
    void Serve() {
        while (!stop_.load()) {
            for (Bytes& packet : sink_.Take()) {
                auto* config = reinterpret_cast<KestConfigPacket*>(packet.data());
                if (config->header.timestamp != 1 || mode_ == Mode::Silent) {
                    continue;
                }
                std::this_thread::sleep_for(delay_);
                config->header.procId = kKestProcessorId;
                config->header.moduleId = config->moduleId;
                config->header.timestamp = 5000;
                if (mode_ == Mode::Alter && config->RecordLength() > 4) {
                    config->Record()[4] ^= 1; // the value's low bit: bool, int and selection
                }
                // Counted before it lands: a write woken by its echo may look at once.
                answered_.fetch_add(1);
                cache_.ProcKestPacket(&config->header);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }

    CountingSink& sink_;
    KestCache& cache_;
    Mode mode_;
    std::chrono::milliseconds delay_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::thread thread_;
};

} // namespace clientkit
