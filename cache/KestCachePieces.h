// KestCache::PieceReader: marks a read copied in pieces for as long as it runs, so that a
// link waiting for the cache lock goes before the read's next piece (see KestCacheTurns.cpp).
#pragma once

#include "cache/KestCache.h"

class KestCache::PieceReader {
  public:
    explicit PieceReader(KestCache& cache);
    ~PieceReader();
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

  private:
    KestCache& cache_;
};
