#include "cache/ContDataBuffer.h"

#include <algorithm>
#include <cstdio>

namespace {

// One value as a float; scaled values are multiplied in double and then narrowed.
template <bool Scaled, typename T> inline float Convert(T value, double scale) {
    if constexpr (Scaled) {
        return static_cast<float>(static_cast<double>(value) * scale);
    } else {
        return static_cast<float>(value);
    }
}

// Copies `rows` consecutive ring rows starting at value index `first`: one value per row
// (the channel offset is already in `first`) or, when `width` is not 0, `width` values per row.
template <bool Scaled, typename T>
inline float* CopySegment(const T* first, std::uint32_t rows, std::uint32_t stride,
                          std::uint32_t width, float* dest, double scale) {
    if (width == 0) {
        for (std::uint32_t i = 0; i < rows; ++i) {
            *dest++ = Convert<Scaled>(first[std::size_t(i) * stride], scale);
        }
        return dest;
    }
    const std::size_t values = std::size_t(rows) * width;
    for (std::size_t i = 0; i < values; ++i) {
        *dest++ = Convert<Scaled>(first[i], scale);
    }
    return dest;
}

void WarnInvalidTimestamp() {
    std::fputs("warning: invalid timestamp\n", stderr);
}

} // namespace

template <typename T>
ContDataBuffer<T>::ContDataBuffer(std::uint32_t depth, std::uint32_t channels, std::int32_t period,
                                  double scale)
    : channels_(channels), period_(period), scale_(scale) {
    const std::uint64_t rows = std::uint64_t(depth) + depth / 4;
    const std::uint64_t values = rows * channels;
    if (period > 0 && values != 0 && values <= kMaxValues) {
        depth_ = depth;
        rows_ = static_cast<std::uint32_t>(rows);
        fresh_ = rows_; // the zeros of a new ring read as they are
        size_ = static_cast<std::uint32_t>(values);
        ring_ = ZeroedArray<T>(size_);
    }
}

template <typename T> ContDataBuffer<T>::~ContDataBuffer() = default;

template <typename T> void ContDataBuffer<T>::AddTimeSample(const T* values, std::uint32_t time) {
    if (size_ == 0) {
        return;
    }
    if (stored_) {
        const std::int32_t elapsed = static_cast<std::int32_t>(time - lastTime_);
        if (elapsed < period_) {
            return; // same time again, a time behind, or less than a whole period on
        }
        const std::uint32_t missing = static_cast<std::uint32_t>(elapsed / period_) - 1;
        if (missing >= depth_) {
            // Every row held would become a marker: note that instead of writing them, so a
            // far jump costs no more than a short gap. Reads show markers for rows older
            // than the fresh ones.
            writeRow_ = static_cast<std::uint32_t>((std::uint64_t(writeRow_) + missing) % rows_);
            fresh_ = 0;
            ++jumps_;
        } else if (missing != 0) {
            const std::uint32_t tail = std::min(missing, rows_ - writeRow_);
            T* ring = ring_.data();
            std::fill_n(ring + std::size_t(writeRow_) * channels_, std::size_t(tail) * channels_,
                        T(kContGapMarker));
            std::fill_n(ring, std::size_t(missing - tail) * channels_, T(kContGapMarker));
            writeRow_ += missing;
            if (writeRow_ >= rows_) {
                writeRow_ -= rows_;
            }
            fresh_ = std::min(rows_, fresh_ + missing);
        }
    }
    std::copy_n(values, channels_, ring_.data() + std::size_t(writeRow_) * channels_);
    if (++writeRow_ == rows_) {
        writeRow_ = 0;
    }
    fresh_ = std::min(rows_, fresh_ + 1);
    lastTime_ = time;
    stored_ = true;
}

template <typename T> std::uint32_t ContDataBuffer<T>::RowStart(std::uint32_t back) const {
    const std::uint32_t row = writeRow_ >= back ? writeRow_ - back : writeRow_ + (rows_ - back);
    return row;
}

template <typename T>
void ContDataBuffer<T>::CopyRows(float* dest, std::uint32_t firstBack, std::uint32_t count,
                                 std::uint32_t channel, bool scale) const {
    const std::uint32_t width = channel == kAll ? channels_ : 0;
    // Rows older than the fresh ones lie before a gap of a whole ring or more: markers.
    const std::uint32_t stale = firstBack > fresh_ ? std::min(count, firstBack - fresh_) : 0;
    if (stale != 0) {
        const T marker = T(kContGapMarker);
        const float value =
            scale && scale_ != 1.0 ? Convert<true>(marker, scale_) : Convert<false>(marker, scale_);
        const std::size_t values = std::size_t(stale) * (width == 0 ? 1 : width);
        dest = std::fill_n(dest, values, value);
        firstBack -= stale;
        count -= stale;
        if (count == 0) {
            return;
        }
    }
    const std::uint32_t firstRow = RowStart(firstBack);
    const std::uint32_t headRows = std::min(count, rows_ - firstRow);
    const std::uint32_t offset = channel == kAll ? 0 : channel;
    const T* ring = ring_.data();
    const T* first = ring + std::size_t(firstRow) * channels_ + offset;
    const T* wrapped = ring + offset;
    if (scale && scale_ != 1.0) {
        dest = CopySegment<true>(first, headRows, channels_, width, dest, scale_);
        CopySegment<true>(wrapped, count - headRows, channels_, width, dest, scale_);
    } else {
        dest = CopySegment<false>(first, headRows, channels_, width, dest, scale_);
        CopySegment<false>(wrapped, count - headRows, channels_, width, dest, scale_);
    }
}

template <typename T> std::uint32_t ContDataBuffer<T>::Since(std::uint32_t time) const {
    const std::uint32_t period = static_cast<std::uint32_t>(period_);
    return (lastTime_ + period - time) / period;
}

template <typename T>
bool ContDataBuffer<T>::RowsSince(std::uint32_t time, std::uint32_t* rows) const {
    const std::uint32_t since = Since(time);
    if (since > depth_) {
        WarnInvalidTimestamp();
        return false;
    }
    *rows = since;
    return true;
}

template <typename T>
std::uint32_t ContDataBuffer<T>::GetDataFromTop(std::uint32_t* outTime, float* dest,
                                                std::uint32_t channel, std::uint32_t count,
                                                bool scale) const {
    channel %= 32;
    // A ring that never stored a sample has nothing to report: its zeros were never
    // measured, and a start time computed from "last time" 0 would be made up.
    if (size_ == 0 || !stored_ || channel >= channels_) {
        return 0;
    }
    count = std::min(count, depth_);
    if (outTime != nullptr) {
        *outTime = lastTime_ - (count - 1) * static_cast<std::uint32_t>(period_);
    }
    if (count == 0) {
        return 0;
    }
    CopyRows(dest, count, count, channel, scale);
    return count;
}

template <typename T>
std::uint32_t ContDataBuffer<T>::GetDataByTimeStamp(float* dest, std::uint32_t time,
                                                    std::uint32_t channel, std::uint32_t count,
                                                    bool scale) const {
    channel %= 32;
    if (size_ == 0 || channel >= channels_) {
        return 0;
    }
    std::uint32_t rows = 0;
    if (!RowsSince(time, &rows)) {
        return 0;
    }
    count = std::min(count, rows);
    if (count == 0) {
        return 0;
    }
    CopyRows(dest, rows, count, channel, scale);
    return count;
}

template <typename T>
std::uint32_t ContDataBuffer<T>::GetAllData(std::uint32_t* outTime, float* dest,
                                            std::uint32_t* outChannels, std::uint32_t count,
                                            bool scale) const {
    if (size_ == 0 || !stored_) {
        return 0;
    }
    if (outChannels != nullptr) {
        *outChannels = channels_;
    }
    count = std::min(count, depth_);
    if (outTime != nullptr) {
        *outTime = lastTime_ - (count - 1) * static_cast<std::uint32_t>(period_);
    }
    if (count == 0) {
        return 0;
    }
    CopyRows(dest, count, count, kAll, scale);
    return count;
}

template <typename T>
std::uint32_t ContDataBuffer<T>::GetAllDataByTimeStamp(float* dest, std::uint32_t* outChannels,
                                                       std::uint32_t time, std::uint32_t count,
                                                       bool scale) const {
    if (size_ == 0) {
        return 0;
    }
    std::uint32_t rows = 0;
    if (!RowsSince(time, &rows)) {
        return 0;
    }
    if (outChannels != nullptr) {
        *outChannels = channels_;
    }
    count = std::min(count, rows);
    if (count == 0) {
        return 0;
    }
    CopyRows(dest, rows, count, kAll, scale);
    return count;
}

template <typename T> std::uint32_t ContDataBuffer<T>::RowsFrom(std::uint32_t time) const {
    std::uint32_t rows = 0;
    if (size_ == 0 || !RowsSince(time, &rows)) {
        return kNotHeld;
    }
    return rows;
}

template <typename T>
bool ContDataBuffer<T>::CopyHeldRows(float* dest, std::uint32_t time, std::uint32_t count,
                                     std::uint32_t channel, bool scale, std::uint32_t jumps) const {
    if (channel != kAll) {
        channel %= 32;
    }
    if (size_ == 0 || jumps != jumps_ || (channel != kAll && channel >= channels_)) {
        return false;
    }
    // Rows written since the read began only push its rows further back; once they lie
    // beyond the rows kept, the oldest of them may have been overwritten.
    const std::uint32_t back = Since(time);
    if (back > rows_ || count > back) {
        return false;
    }
    if (count != 0) {
        CopyRows(dest, back, count, channel, scale);
    }
    return true;
}

template <typename T>
bool ContDataBuffer<T>::CopyHeldRaw(T* dest, std::uint32_t time, std::uint32_t count,
                                    std::uint32_t jumps) const {
    if (size_ == 0 || jumps != jumps_) {
        return false;
    }
    std::uint32_t back = Since(time);
    if (back > rows_ || count > back) {
        return false;
    }
    const std::uint32_t stale = back > fresh_ ? std::min(count, back - fresh_) : 0;
    dest = std::fill_n(dest, std::size_t(stale) * channels_, T(kContGapMarker));
    back -= stale;
    count -= stale;
    if (count == 0) {
        return true;
    }
    const std::uint32_t firstRow = RowStart(back);
    const std::uint32_t headRows = std::min(count, rows_ - firstRow);
    const T* ring = ring_.data();
    dest = std::copy_n(ring + std::size_t(firstRow) * channels_, std::size_t(headRows) * channels_,
                       dest);
    std::copy_n(ring, std::size_t(count - headRows) * channels_, dest);
    return true;
}

template class ContDataBuffer<short>;
template class ContDataBuffer<float>;
