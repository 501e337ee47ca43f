#pragma once

#include <gtest/gtest.h>

#include "link/QNComPacket.h"
#include "link/ServiceContract.h"
#include "support/RawPeer.h"

namespace vd::test {

// Plays the service's side of a login on the next connection `peer` takes, for tests that hold
// a client at the door until they let it in: greeting, identity accepted, success.
inline void acceptAndLogin(RawPeer& peer)
{
    const auto send = [&](const QNComPacket::Dictionary& packet) {
        QNComPacket wire;
        wire.dic() = packet;
        ASSERT_TRUE(peer.send(*wire.toData()));
    };
    ASSERT_TRUE(peer.accept());
    send({{"c", 1}, {"m", contract::kGreetingToken}});
    ASSERT_TRUE(peer.readPacket());
    send({{"c", contract::kCodeIdentityAccepted}});
    ASSERT_TRUE(peer.readPacket());
    send({{"c", contract::kCodeSuccess}});
}

} // namespace vd::test
