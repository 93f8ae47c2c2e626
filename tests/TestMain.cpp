#include <gtest/gtest.h>

#include "OdbcTestSupport.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Whatever a test opens, the ODBC data sources it sees are the tests' own.
    odbctest::UseTestConfiguration();
    return RUN_ALL_TESTS();
}
