#pragma once
// A test with a JACK server of its own, on the dummy driver, and a client of the test's on it
// under the name it is given. Skipped where jackd is not installed.

#include "tests/sound/jack_dummy_server.h"
#include "tests/sound/jack_test_client.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

class JackServerTest : public testing::Test {
protected:
    explicit JackServerTest(std::string clientName) : m_clientName(std::move(clientName)) {}

    void SetUp() override
    {
        if (!JackDummyServer::Available())
            GTEST_SKIP() << "jackd is not installed";
        server = JackDummyServer::Start();
        ASSERT_TRUE(server);
        client = JackTestClient::Open(m_clientName);
        ASSERT_TRUE(client);
    }
    void TearDown() override
    {
        client.reset();
        server.reset();
    }

    std::unique_ptr<JackDummyServer> server;
    std::unique_ptr<JackTestClient> client;

private:
    std::string m_clientName;
};
