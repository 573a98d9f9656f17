// The plug-in's host layer connected straight to a stand-in host, for tests of the layer and of
// plug-in parts that are not reachable through the module yet.
#pragma once

#include <gtest/gtest.h>

#include "host.h"
#include "host/connection.h"

namespace flarion_test {

class ConnectedHost : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_EQ(ek::host::connect(&host_.api(), 0), ek::host::ConnectResult::Connected);
  }
  // Derived fixtures release what they hold of the host first, then call this.
  void TearDown() override {
    ek::host::disconnect();
    for (const std::string &misuse : host_.misuses()) {
      ADD_FAILURE() << "host recorded misuse: " << misuse;
    }
  }

  standin::Host host_;
};

} // namespace flarion_test
