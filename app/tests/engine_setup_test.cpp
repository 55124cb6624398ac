#include "app/engine_setup.h"

#include <gtest/gtest.h>

namespace {

TEST(EngineSettings, KeysBecomeTheEngineProcessSettings) {
    struct Case {
        std::string peerListen;
        std::string address;
        uint16_t port;
    } cases[] = {
        {"0.0.0.0:7001", "0.0.0.0", 7001},
        {"[::]:7002", "::", 7002},
        {"192.0.2.7:0", "192.0.2.7", 0},
        {"", "", 0},
        {"7001", "", 0},
        {":7001", "", 0},
        {"host:65536", "", 0},
        {"host:12x", "", 0},
    };
    for (const Case& c : cases) {
        EngineConfig config;
        config.peerListen = c.peerListen;
        const EngineProcessSettings s = EngineSettingsOf(config);
        EXPECT_EQ(s.peerAddress, c.address) << c.peerListen;
        EXPECT_EQ(s.peerPort, c.port) << c.peerListen;
    }

    EngineConfig config;
    config.lookupServer = "lookup.example:7000";
    config.uploadKiBPerSecond = 512;
    config.uploadConnections = 6;
    EngineProcessSettings s = EngineSettingsOf(config);
    EXPECT_EQ(s.lookupServer, "lookup.example:7000");
    EXPECT_EQ(s.seedSeconds, kSeedWhileTheProcessLives) << "seeding is on unless turned off";
    EXPECT_EQ(s.uploadBytesPerSecond, 512u * 1024);
    EXPECT_EQ(s.uploadConnections, 6u);
    config.seed = false;
    config.uploadKiBPerSecond = 5000000;  // more than 32 bits of bytes
    s = EngineSettingsOf(config);
    EXPECT_EQ(s.seedSeconds, 0u);
    EXPECT_EQ(s.uploadBytesPerSecond, UINT32_MAX);
}

TEST(EngineSettings, AnEngineThatIsOffIsNotSetUp) {
    EngineConfig config;  // "engine" absent
    EXPECT_FALSE(SetUpEngine(config));
    EXPECT_FALSE(EngineInProcess());
}

}  // namespace
