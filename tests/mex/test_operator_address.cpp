// Operator addresses as "addoper" and "trial" take them: dotted texts of one to four
// numbers up to 255, and whole numbers 0-255.
#include "mex/KestMexFcn/OperatorAddress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using KestMexFcn::IsOperatorAddress;
using KestMexFcn::OperatorNumberText;

TEST(OperatorAddressTest, TextsOfOneToFourNumbers) {
    for (const char* text : {"128", "43.130", "168.43.130", "192.168.42.150", "0", "255.255"}) {
        EXPECT_TRUE(IsOperatorAddress(text)) << text;
    }
    for (const char* text : {"", "256", "43.300", "1.2.3.4.5", "43.", ".43", "43..1", "-1", "+1",
                             " 1", "1 ", "recording", "1.2x", "1000"}) {
        EXPECT_FALSE(IsOperatorAddress(text)) << text;
    }
}

// A number with a fraction once became its whole part (43.130 became host 43, a
// processor); only whole numbers 0-255 name a host.
TEST(OperatorAddressTest, NumbersMustBeWholeHosts) {
    EXPECT_EQ(OperatorNumberText(129), "129");
    EXPECT_EQ(OperatorNumberText(0), "0");
    EXPECT_EQ(OperatorNumberText(255), "255");
    for (double value : {43.13, 255.5, 256.0, -1.0, std::nan(""),
                         std::numeric_limits<double>::infinity(), 1e300}) {
        EXPECT_FALSE(OperatorNumberText(value).has_value()) << value;
    }
}
