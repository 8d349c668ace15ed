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
    : m_channels(channels), m_period(period), m_scale(scale) {
    const std::uint64_t values = std::uint64_t(depth) * channels;
    if (period > 0 && values != 0 && values <= kMaxValues) {
        m_depth = depth;
        m_size = static_cast<std::uint32_t>(values);
        m_ring.assign(m_size, T(0));
    }
}

template <typename T> ContDataBuffer<T>::~ContDataBuffer() = default;

template <typename T> void ContDataBuffer<T>::AddTimeSample(const T* values, std::uint32_t time) {
    if (m_size == 0) {
        return;
    }
    if (m_stored) {
        const std::int32_t elapsed = static_cast<std::int32_t>(time - m_lastTime);
        if (elapsed < m_period) {
            return; // same time again, a time behind, or less than a whole period on
        }
        const std::uint32_t missing = static_cast<std::uint32_t>(elapsed / m_period) - 1;
        if (missing >= m_depth) {
            // The whole ring would be overwritten by markers: write each row once and move
            // the write position as far as the missing rows would have moved it.
            std::fill(m_ring.begin(), m_ring.end(), T(kContGapMarker));
            m_writeRow =
                static_cast<std::uint32_t>((std::uint64_t(m_writeRow) + missing) % m_depth);
        } else if (missing != 0) {
            const std::uint32_t tail = std::min(missing, m_depth - m_writeRow);
            T* ring = m_ring.data();
            std::fill_n(ring + std::size_t(m_writeRow) * m_channels, std::size_t(tail) * m_channels,
                        T(kContGapMarker));
            std::fill_n(ring, std::size_t(missing - tail) * m_channels, T(kContGapMarker));
            m_writeRow += missing;
            if (m_writeRow >= m_depth) {
                m_writeRow -= m_depth;
            }
        }
    }
    std::copy_n(values, m_channels, m_ring.data() + std::size_t(m_writeRow) * m_channels);
    if (++m_writeRow == m_depth) {
        m_writeRow = 0;
    }
    m_lastTime = time;
    m_stored = true;
}

template <typename T> std::uint32_t ContDataBuffer<T>::RowStart(std::uint32_t back) const {
    const std::uint32_t row =
        m_writeRow >= back ? m_writeRow - back : m_writeRow + (m_depth - back);
    return row;
}

template <typename T>
void ContDataBuffer<T>::CopyRows(float* dest, std::uint32_t firstBack, std::uint32_t count,
                                 std::uint32_t channel, bool scale) const {
    const std::uint32_t firstRow = RowStart(firstBack);
    const std::uint32_t headRows = std::min(count, m_depth - firstRow);
    const std::uint32_t width = channel == kAll ? m_channels : 0;
    const std::uint32_t offset = channel == kAll ? 0 : channel;
    const T* ring = m_ring.data();
    const T* first = ring + std::size_t(firstRow) * m_channels + offset;
    const T* wrapped = ring + offset;
    if (scale && m_scale != 1.0) {
        dest = CopySegment<true>(first, headRows, m_channels, width, dest, m_scale);
        CopySegment<true>(wrapped, count - headRows, m_channels, width, dest, m_scale);
    } else {
        dest = CopySegment<false>(first, headRows, m_channels, width, dest, m_scale);
        CopySegment<false>(wrapped, count - headRows, m_channels, width, dest, m_scale);
    }
}

template <typename T>
bool ContDataBuffer<T>::RowsSince(std::uint32_t time, std::uint32_t* rows) const {
    const std::uint32_t period = static_cast<std::uint32_t>(m_period);
    const std::uint32_t since = (m_lastTime + period - time) / period;
    if (since > m_depth) {
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
    if (m_size == 0 || !m_stored || channel >= m_channels) {
        return 0;
    }
    count = std::min(count, m_depth);
    if (outTime != nullptr) {
        *outTime = m_lastTime - (count - 1) * static_cast<std::uint32_t>(m_period);
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
    if (m_size == 0 || channel >= m_channels) {
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
    if (m_size == 0 || !m_stored) {
        return 0;
    }
    if (outChannels != nullptr) {
        *outChannels = m_channels;
    }
    count = std::min(count, m_depth);
    if (outTime != nullptr) {
        *outTime = m_lastTime - (count - 1) * static_cast<std::uint32_t>(m_period);
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
    if (m_size == 0) {
        return 0;
    }
    std::uint32_t rows = 0;
    if (!RowsSince(time, &rows)) {
        return 0;
    }
    if (outChannels != nullptr) {
        *outChannels = m_channels;
    }
    count = std::min(count, rows);
    if (count == 0) {
        return 0;
    }
    CopyRows(dest, rows, count, kAll, scale);
    return count;
}

template class ContDataBuffer<short>;
template class ContDataBuffer<float>;
