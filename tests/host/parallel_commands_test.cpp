#include "module_fixture.h"

#include <string>
#include <thread>
#include <vector>

namespace pointillo::test {
namespace {

using ParallelCommands = ModuleTest;

// Several effect instances set up at once on one host: every command gets its
// own parameters, and the host's counts add up exactly.
TEST_F(ParallelCommands, ParameterSetupAndAboutOnManyThreads) {
    constexpr int kThreads = 8;
    constexpr int kRounds = 5;
    std::vector<hostsim::Instance> instances(kThreads * kRounds);
    std::vector<PF_Err> results(kThreads * kRounds * 2, -1);
    std::vector<std::string> about(kThreads * kRounds);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int r = 0; r < kRounds; ++r) {
                const int slot = t * kRounds + r;
                hostsim::CommandIo setup;
                results[2 * slot] = hostsim::send_command(host, module, &instances[slot],
                                                          PF_Cmd_PARAMS_SETUP, setup);
                hostsim::CommandIo io;
                results[2 * slot + 1] =
                    hostsim::send_command(host, module, nullptr, PF_Cmd_ABOUT, io);
                about[slot] = io.out_data.return_msg;
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < results.size(); ++i) {
        EXPECT_EQ(results[i], PF_Err_NONE) << "command " << i;
    }
    for (std::size_t i = 0; i < instances.size(); ++i) {
        EXPECT_EQ(instances[i].param_count(), 76) << "instance " << i;
        EXPECT_STREQ(instances[i].definition(33).name, "Dot Size") << "instance " << i;
        EXPECT_EQ(about[i].substr(0, 14), "Pointillo 1.1\r") << "instance " << i;
    }
    EXPECT_EQ(host.calls.count("add_param"), kThreads * kRounds * 75);
}

} // namespace
} // namespace pointillo::test
