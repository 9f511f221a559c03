#include "core/query/ntp_burst.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/fake/fake_platform.h"
#include "tests/support/fake_ntp_server.h"

namespace tempikon::core {
namespace {

TEST(IsNistHost, OnlyNamesUnderNistGov) {
    EXPECT_TRUE(IsNistHost("time.nist.gov"));
    EXPECT_TRUE(IsNistHost("TIME-A-G.NIST.GOV."));
    EXPECT_FALSE(IsNistHost("nist.gov.example.com"));
    EXPECT_FALSE(IsNistHost("notnist.gov"));
    EXPECT_FALSE(IsNistHost("ptbtime1.ptb.de"));
}

}  // namespace
}  // namespace tempikon::core
