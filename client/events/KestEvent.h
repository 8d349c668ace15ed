// KestEvent: a one-shot action that runs on a thread of its own and sends through a
// KestClient. Start runs Run once on a new thread; Cancel wakes a waiting Run so that it sends
// nothing; the destructor waits for the thread.
//
// An event attaches itself to its client when started. A client destroyed before the event
// cancels it and waits for its thread first, so an event never sends through a client that
// is gone. The event and its client are destroyed on the same thread (the command thread).
#pragma once

#include "client/KestClientTask.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

class KestClient;

class KestEvent : public KestClientTask {
  public:
    explicit KestEvent(KestClient* client);
    // Waits until Run has returned. A derived event whose Run reads its own fields must wait
    // in its own destructor, before those fields go (Join).
    virtual ~KestEvent();
    KestEvent(const KestEvent&) = delete;
    KestEvent& operator=(const KestEvent&) = delete;

    // The action, on the event's thread; returns 0.
    virtual int Run() = 0;

    // Starts the thread that runs Run once. False when the event was started before or has
    // no client.
    bool Start();
    // Wakes a Run that waits in WaitFor; from then on the event sends nothing more.
    void Cancel();
    // True from Start until Run has returned.
    bool IsRunning() const { return running_.load(); }
    bool IsCancelled() const;
    // Waits for the thread, if one was started.
    void Join();

  protected:
    // Waits `ms` milliseconds on a monotonic clock. False when cancelled before or meanwhile.
    bool WaitFor(int ms);
    // Null once the client is gone.
    KestClient* Client() const { return client_; }

  private:
    void CancelAndWait() override;
    void ClientGone() override;

    KestClient* client_;
    std::thread worker_;
    std::mutex joinMutex_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;
    bool started_ = false;
    std::atomic<bool> running_{false};
};
