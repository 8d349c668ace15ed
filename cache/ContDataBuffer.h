// ContDataBuffer: the ring of the newest time samples of one continuous output stream.
//
// One row per time sample, one value per channel. The receive thread appends a row per
// continuous data packet and fills any gap in processor time with marker rows, so that a
// row's distance from the newest row always equals its distance in sample periods. A gap of
// a whole ring or more writes no markers: it only notes that every row before it is one,
// and reads return markers for those rows. Reads
// copy one channel, or every channel, either the newest rows or the rows from a given
// processor time on.
//
// Beyond its depth the ring keeps a slack of a quarter of the depth: rows that a read found
// held stay in place while the writer stores that many more, so that a long read can copy
// them a few rows at a time (CopyHeldRows), letting the writer in between, and still get
// exactly what the ring held when the read began. Its memory is allocated zeroed and
// untouched: pages are faulted in as the writer first reaches them.
//
// The cache lock covers every call; the ring has no lock of its own.
#pragma once

#include "cache/ZeroedArray.h"

#include <cstdint>

// Value stored for every channel of a time sample the processor did not deliver.
constexpr std::int16_t kContGapMarker = -32768;

// Processor clock ticks that every ring holds, whatever its stream's rate.
constexpr std::uint32_t kContRingTicks = 153600;

template <typename T> class ContDataBuffer {
  public:
    using Value = T;

    // A ring whose period is not positive, whose depth or channel count is 0, or whose size
    // (slack included) would exceed kMaxValues cannot store anything: it keeps no memory, drops
    // every sample and every read returns 0 values.
    static constexpr std::uint64_t kMaxValues = std::uint64_t(1) << 28;

    ContDataBuffer(std::uint32_t depth, std::uint32_t channels, std::int32_t period, double scale);
    virtual ~ContDataBuffer();
    ContDataBuffer(const ContDataBuffer&) = delete;
    ContDataBuffer& operator=(const ContDataBuffer&) = delete;

    // Stores one row of GetChannels() values taken at processor time `time`. A time that is
    // not at least one period after the newest row is dropped; a time several periods on
    // writes marker rows for the missing samples first, or, a ring or more on, marks every
    // row held as one without writing it.
    void AddTimeSample(const T* values, std::uint32_t time);

    // Processor time of the newest row; 0 before the first row.
    std::uint32_t GetLastTime() const { return lastTime_; }

    // Newest `count` values of `channel` (taken mod 32), oldest first, into dest. *outTime
    // (when given) receives the time of the first value. Returns the number written.
    std::uint32_t GetDataFromTop(std::uint32_t* outTime, float* dest, std::uint32_t channel,
                                 std::uint32_t count, bool scale) const;
    // Up to `count` values of `channel` from the first row at or after `time`. A time more
    // than one ring before the newest row or later than one period after it prints a warning
    // and returns 0.
    std::uint32_t GetDataByTimeStamp(float* dest, std::uint32_t time, std::uint32_t channel,
                                     std::uint32_t count, bool scale) const;
    // As the two above for every channel: dest receives rows of GetChannels() values.
    std::uint32_t GetAllData(std::uint32_t* outTime, float* dest, std::uint32_t* outChannels,
                             std::uint32_t count, bool scale) const;
    std::uint32_t GetAllDataByTimeStamp(float* dest, std::uint32_t* outChannels, std::uint32_t time,
                                        std::uint32_t count, bool scale) const;

    // --- Reads in pieces. A read notes the rows it wants (RowsFrom) and the far jumps made
    // so far (GetJumps) under one hold of the cache lock, then copies them under as many
    // short holds as it likes.
    static constexpr std::uint32_t kNotHeld = 0xFFFFFFFFu;
    static constexpr std::uint32_t kAllChannels = 0xFFFFFFFFu;
    // Rows from the first row at or after `time` to the newest, both included; a time more
    // than one ring before the newest row or later than one period after it prints the
    // warning and gives kNotHeld.
    std::uint32_t RowsFrom(std::uint32_t time) const;
    // True once the ring stored a row.
    bool HasRows() const { return stored_; }
    // Gaps of a whole ring or more stored so far.
    std::uint32_t GetJumps() const { return jumps_; }
    // Copies `count` rows of `channel` (taken mod 32), or of every channel for kAllChannels,
    // from the first row at or after `time`: rows that RowsFrom found held when the ring had
    // made `jumps` far jumps. Nothing is copied and the result is false when the ring no
    // longer holds them unchanged: the writer stored more than the slack since, or jumped.
    bool CopyHeldRows(float* dest, std::uint32_t time, std::uint32_t count, std::uint32_t channel,
                      bool scale, std::uint32_t jumps) const;
    // As CopyHeldRows for every channel, but the stored values themselves (a marker for every
    // value of a row that reads as one), for a caller that converts them (ToFloat) after
    // letting go of the lock.
    bool CopyHeldRaw(T* dest, std::uint32_t time, std::uint32_t count, std::uint32_t jumps) const;
    // A stored value as the reads give it, with or without the ring's scale.
    static float ToFloat(T value, bool scale, double ringScale) {
        return scale && ringScale != 1.0
                   ? static_cast<float>(static_cast<double>(value) * ringScale)
                   : static_cast<float>(value);
    }

    void SetADCToMicroVolts(double scale) { scale_ = scale; }

    std::uint32_t GetDepth() const { return depth_; }
    // Rows kept beyond the depth (see CopyHeldRows).
    std::uint32_t GetSlack() const { return rows_ - depth_; }
    std::uint32_t GetChannels() const { return channels_; }
    std::int32_t GetPeriod() const { return period_; }
    double GetScale() const { return scale_; }
    // False for a ring that cannot store anything (see kMaxValues).
    bool CanStore() const { return size_ != 0; }

  private:
    // Rows between the first row at or after `time` and the newest row, both included
    // (unbounded: compare with the depth or the rows kept).
    std::uint32_t Since(std::uint32_t time) const;
    // Rows between the first row at or after `time` and the newest row, both included;
    // prints the warning and returns 0 when that is more than the ring holds.
    bool RowsSince(std::uint32_t time, std::uint32_t* rows) const;
    // Copies `count` rows of one channel (or of every channel when channel is kAll), oldest
    // first, starting with the row `firstBack` rows before the next write position. The rows
    // are read in at most two contiguous runs, before and after the end of the ring.
    void CopyRows(float* dest, std::uint32_t firstBack, std::uint32_t count, std::uint32_t channel,
                  bool scale) const;
    // Row index `back` rows (1 ... rows kept) before the next write position.
    std::uint32_t RowStart(std::uint32_t back) const;

    static constexpr std::uint32_t kAll = kAllChannels;

    ZeroedArray<T> ring_;
    std::uint32_t depth_ = 0;
    // Rows kept: the depth and the slack beyond it.
    std::uint32_t rows_ = 0;
    std::uint32_t channels_ = 0;
    std::uint32_t size_ = 0;
    // Row that the next sample goes into, always below rows_. Kept as a row index rather
    // than a running count of values so that it never wraps out of step with the ring.
    std::uint32_t writeRow_ = 0;
    // Newest rows (up to rows_) written since the last gap of a whole ring or more; the
    // rows before them read as markers whatever they hold.
    std::uint32_t fresh_ = 0;
    // Gaps of a whole ring or more so far: a read in pieces that sees this change stops.
    std::uint32_t jumps_ = 0;
    std::int32_t period_ = 0;
    std::uint32_t lastTime_ = 0;
    bool stored_ = false;
    double scale_ = 1.0;
};

extern template class ContDataBuffer<short>;
extern template class ContDataBuffer<float>;
