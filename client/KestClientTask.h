// Work that runs on a thread of its own and sends through a KestClient (a timed event).
// The client cancels and waits for every task still attached when it is destroyed, so that
// no task sends through a client that no longer exists.
#pragma once

class KestClientTask {
  public:
    // Wakes the task if it waits, so that it sends nothing more, and returns once its thread
    // has ended. Called by the client's destructor, on the thread that destroys the client.
    virtual void CancelAndWait() = 0;
    // The client is gone: the task must not detach itself from it later.
    virtual void ClientGone() = 0;

  protected:
    ~KestClientTask() = default;
};
