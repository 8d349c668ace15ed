// Turns at the cache lock between the link and long reads. A read copied in pieces lets go
// of the lock after every piece; without help it would mostly take it straight back, since
// the link it woke needs longer to run than the read needs to ask again. So while such a
// read runs, a link announces that it waits, and the read lets it go first.
#include "cache/KestCache.h"
#include "cache/KestCachePieces.h"

#include <thread>

KestCache::PieceReader::PieceReader(KestCache& cache) : cache_(cache) {
    cache_.pieceReaders_.fetch_add(1, std::memory_order_relaxed);
}

KestCache::PieceReader::~PieceReader() {
    cache_.pieceReaders_.fetch_sub(1, std::memory_order_relaxed);
}

std::unique_lock<std::mutex> KestCache::TakeForIntakeInTurn() {
    intakeWaiting_.fetch_add(1, std::memory_order_relaxed);
    std::unique_lock<std::mutex> hold(lock_);
    intakeWaiting_.fetch_sub(1, std::memory_order_relaxed);
    return hold;
}

void KestCache::TakeForPiece(std::unique_lock<std::mutex>& hold) {
    while (intakeWaiting_.load(std::memory_order_relaxed) != 0) {
        std::this_thread::yield();
    }
    // The link holds the lock for a packet at a time: a few tries find it free without
    // putting the read to sleep.
    for (int i = 0; i < 256; ++i) {
        if (hold.try_lock()) {
            return;
        }
    }
    hold.lock();
}
