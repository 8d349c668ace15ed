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
// The cache lock covers every call; the ring has no lock of its own.
#pragma once

#include <cstdint>
#include <vector>

// Value stored for every channel of a time sample the processor did not deliver.
constexpr std::int16_t kContGapMarker = -32768;

// Processor clock ticks that every ring holds, whatever its stream's rate.
constexpr std::uint32_t kContRingTicks = 153600;

template <typename T> class ContDataBuffer {
  public:
    // A ring whose period is not positive, whose depth or channel count is 0, or whose size
    // would exceed kMaxValues cannot store anything: it keeps no memory, drops every sample
    // and every read returns 0 values.
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

    void SetADCToMicroVolts(double scale) { scale_ = scale; }

    std::uint32_t GetDepth() const { return depth_; }
    std::uint32_t GetChannels() const { return channels_; }
    std::int32_t GetPeriod() const { return period_; }
    double GetScale() const { return scale_; }
    // False for a ring that cannot store anything (see kMaxValues).
    bool CanStore() const { return size_ != 0; }

  private:
    // Rows between the first row at or after `time` and the newest row, both included;
    // prints the warning and returns 0 when that is more than the ring holds.
    bool RowsSince(std::uint32_t time, std::uint32_t* rows) const;
    // Copies `count` rows of one channel (or of every channel when channel is kAll), oldest
    // first, starting with the row `firstBack` rows before the next write position. The rows
    // are read in at most two contiguous runs, before and after the end of the ring.
    void CopyRows(float* dest, std::uint32_t firstBack, std::uint32_t count, std::uint32_t channel,
                  bool scale) const;
    // Row index `back` rows (1 ... depth) before the next write position.
    std::uint32_t RowStart(std::uint32_t back) const;

    static constexpr std::uint32_t kAll = 0xFFFFFFFFu;

    std::vector<T> ring_;
    std::uint32_t depth_ = 0;
    std::uint32_t channels_ = 0;
    std::uint32_t size_ = 0;
    // Row that the next sample goes into, always below depth_. Kept as a row index rather
    // than a running count of values so that it never wraps out of step with the ring.
    std::uint32_t writeRow_ = 0;
    // Newest rows (up to depth_) written since the last gap of a whole ring or more; the
    // rows before them read as markers whatever they hold.
    std::uint32_t fresh_ = 0;
    std::int32_t period_ = 0;
    std::uint32_t lastTime_ = 0;
    bool stored_ = false;
    double scale_ = 1.0;
};

extern template class ContDataBuffer<short>;
extern template class ContDataBuffer<float>;
