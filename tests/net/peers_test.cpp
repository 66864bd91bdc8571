#include "support/peers.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace tarnwick::test;

// The real servers the network tests lean on start, serve and stop cleanly.
TEST(Peers, StartServeAndStop)
{
    TempDir root;
    std::ofstream(root.file("hello.txt")) << "hello";
    NginxPeer nginx;
    nginx.start(root.path());
    TinyproxyPeer proxy;
    proxy.start();
    SmtpSink sink;
    sink.start();
    for (int port : {nginx.port(), proxy.port(), sink.port()}) {
        SCOPED_TRACE(port);
        EXPECT_TRUE(loopbackAccepts(port));
    }
    EXPECT_TRUE(sink.messages().empty());
    nginx.stop();
    proxy.stop();
    sink.stop();
    EXPECT_FALSE(loopbackAccepts(nginx.port()));
}
