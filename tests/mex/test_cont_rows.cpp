// The last step of "cont": rows cut to the last electrode's count, short rows ending in NaN.
#include "mex/KestMexFcn/ContRows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using KestMexFcn::FinishRows;

namespace {

// A column-major rows x columns matrix whose element (k, j) is 100 k + j.
std::vector<double> Matrix(std::size_t rows, std::size_t columns) {
    std::vector<double> values(rows * columns);
    for (std::size_t j = 0; j < columns; ++j) {
        for (std::size_t k = 0; k < rows; ++k) {
            values[j * rows + k] = double(100 * k + j);
        }
    }
    return values;
}

TEST(ContRows, ShortRowsEndInNaNUpToTheLastRowsCount) {
    std::vector<double> values = Matrix(3, 5);
    EXPECT_EQ(FinishRows(values.data(), {5, 3, 5}), 5u);
    for (std::size_t j = 0; j < 5; ++j) {
        EXPECT_EQ(values[j * 3 + 0], double(j));
        EXPECT_EQ(values[j * 3 + 2], double(200 + j));
        if (j < 3) {
            EXPECT_EQ(values[j * 3 + 1], double(100 + j));
        } else {
            EXPECT_TRUE(std::isnan(values[j * 3 + 1])) << j;
        }
    }
}

TEST(ContRows, LongerRowsAreCutAndShorterOnesPaddedToTheLastRow) {
    std::vector<double> values = Matrix(3, 6);
    EXPECT_EQ(FinishRows(values.data(), {6, 1, 4}), 4u);
    // Columns 0 ... 3 are kept: row 1 has one sample, the rest NaN; rows 0 and 2 unchanged.
    EXPECT_EQ(values[1], 100.0);
    for (std::size_t j = 1; j < 4; ++j) {
        EXPECT_TRUE(std::isnan(values[j * 3 + 1])) << j;
    }
    for (std::size_t j = 0; j < 6; ++j) {
        EXPECT_EQ(values[j * 3], double(j));
    }
    // Beyond the kept columns nothing is written.
    EXPECT_EQ(values[4 * 3 + 1], 104.0);
}

TEST(ContRows, NothingDeliveredByTheLastRowKeepsNoColumns) {
    std::vector<double> values = Matrix(2, 3);
    const std::vector<double> before = values;
    EXPECT_EQ(FinishRows(values.data(), {3, 0}), 0u);
    EXPECT_EQ(values, before);
    EXPECT_EQ(FinishRows(nullptr, {}), 0u);
    EXPECT_EQ(FinishRows(nullptr, {0, 0}), 0u);
}

} // namespace
