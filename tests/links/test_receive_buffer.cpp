// The datagram link's report of a receive buffer smaller than it asked for.
#include "links/UDPOperNetwork.h"

#include <gtest/gtest.h>

TEST(UdpReceiveBuffer, AShortfallIsReportedWithWhatWasGranted) {
    EXPECT_EQ(Network::ReceiveBufferShortfall(1000, 1000), "");
    EXPECT_EQ(Network::ReceiveBufferShortfall(1000, 4000), "");
    EXPECT_EQ(Network::ReceiveBufferShortfall(109440000, 4194304),
              "UDP link: asked for a receive buffer of 109440000 bytes, the system granted "
              "4194304; a reader that holds the link up for long may lose data (raise "
              "net.core.rmem_max)");
    EXPECT_NE(Network::ReceiveBufferShortfall(1000, -1).find("granted 0;"), std::string::npos)
        << "a size that cannot be read back counts as none";
}
