#pragma once

#include "hostsim/command.h"

#include <gtest/gtest.h>

namespace pointillo::test {

// The built module, loaded into a fresh emulated host for each test. After
// every test each suite handed out must have been released.
class ModuleTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_TRUE(host.suites.all_released()) << "still out: " << host.suites.outstanding();
    }

    PF_Err send(PF_Cmd cmd, hostsim::CommandIo& io, hostsim::Instance* instance = nullptr) {
        return hostsim::send_command(host, module, instance, cmd, io);
    }

    hostsim::Module module{POINTILLO_MODULE_PATH};
    hostsim::Host host;
};

} // namespace pointillo::test
