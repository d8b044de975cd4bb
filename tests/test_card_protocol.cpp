// SPDX-License-Identifier: GPL-3.0-or-later
#include "card_model.h"
#include "card_server.h"
#include "protocol.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace vnet;
using Bytes = std::vector<std::uint8_t>;

TEST(CardProtocol, PacketsRoundTrip) {
    for (bool reply : {false, true}) {
        for (int op = 1; op <= 10; ++op) {
            const Packet p{reply, static_cast<Op>(op), 0xDEADBEEF, 0x01020304u * static_cast<std::uint32_t>(op),
                           Bytes{1, 2, 3, static_cast<std::uint8_t>(op)}};
            const auto bytes = Encode(p);
            ASSERT_EQ(bytes.size(), kHeaderSize + 4);
            const auto back = Decode(bytes);
            ASSERT_TRUE(back);
            EXPECT_EQ(back->reply, reply);
            EXPECT_EQ(back->op, p.op);
            EXPECT_EQ(back->seq, p.seq);
            EXPECT_EQ(back->session, p.session);
            EXPECT_EQ(back->payload, p.payload);
        }
    }
    const Bytes header{'M', 'O', 'X', 'Q', 2, 6, 0, 0, 1, 2, 0xCA, 0xFE, 0xBA, 0xBE, 0, 0};
    EXPECT_EQ(Encode(Packet{false, Op::ADResult_DV, 258, 0xCAFEBABE, {}}), header)
        << "big-endian sequence number and session";
}

struct Malformed {
    const char* what;
    Bytes bytes;
};

class MalformedPacket : public ::testing::TestWithParam<Malformed> {};

TEST_P(MalformedPacket, IsRejected) { EXPECT_FALSE(Decode(GetParam().bytes)) << GetParam().what; }

INSTANTIATE_TEST_SUITE_P(
    Datagrams, MalformedPacket,
    ::testing::Values(Malformed{"empty", {}},
                      Malformed{"short header", {'M', 'O', 'X', 'Q', 2, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0}},
                      Malformed{"bad magic", {'M', 'O', 'X', 'Z', 2, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
                      Malformed{"old version", {'M', 'O', 'X', 'Q', 1, 1, 0, 0, 0, 1, 0, 0}},
                      Malformed{"bad version", {'M', 'O', 'X', 'Q', 3, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
                      Malformed{"operation 0", {'M', 'O', 'X', 'Q', 2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
                      Malformed{"operation 12", {'M', 'O', 'X', 'A', 2, 12, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0}},
                      Malformed{"length beyond data", {'M', 'O', 'X', 'Q', 2, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 4, 1, 2}},
                      Malformed{"data beyond length", {'M', 'O', 'X', 'Q', 2, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 1, 2}},
                      Malformed{"length over the limit",
                                {'M', 'O', 'X', 'Q', 2, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0xFF, 0xFF}}));

TEST(CardProtocol, ReaderFailsPastTheEndWithoutReading) {
    const Bytes b{0, 0, 0, 7, 1};
    Reader r(b);
    EXPECT_EQ(r.I32(), 7);
    EXPECT_EQ(r.I32(), 0);
    EXPECT_FALSE(r.ok());
    EXPECT_TRUE(r.Bytes(1).empty());
}

class CardServer : public ::testing::Test {
protected:
    double now = 10.0;
    vcard::VirtualCard card{[this] { return now; }};

    std::optional<Packet> Ask(Op op, const Bytes& payload, LinkView link = {}) {
        return Serve(card, Packet{false, op, 42, 0x5E55, payload}, &link);
    }
    static std::int32_t Status(const Packet& p) {
        Reader r(p.payload);
        return r.I32();
    }
};

TEST_F(CardServer, IdentityAndNetworkStatusThroughIOCtl) {
    auto reply = Ask(Op::IOCtl, Writer().I32(3).I32(100).Bytes(Bytes{70, 64, 0}).Take());
    ASSERT_TRUE(reply);
    EXPECT_TRUE(reply->reply);
    EXPECT_EQ(reply->seq, 42u);
    EXPECT_EQ(reply->session, 0x5E55u);
    EXPECT_EQ(reply->payload, (Bytes{0, 0, 0, 5, 77, 10, 10, 16, 1}));

    const LinkView link{{10, 0, 0, 7}, 300};
    reply = Ask(Op::IOCtl, Writer().I32(3).I32(100).Bytes(Bytes{130, 64, 0}).Take(), link);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, (Bytes{0, 0, 0, 7, 0, 10, 0, 0, 7, 1, 44}));

    reply = Ask(Op::IOCtl, Writer().I32(3).I32(4).Bytes(Bytes{130, 64, 0}).Take(), link);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, (Bytes{0, 0, 0, 4, 0, 10, 0, 0})) << "no more than the caller's buffer";

    // Without a view of its own (a driver bridge), the card's reply passes.
    const auto own =
        Serve(card, Packet{false, Op::IOCtl, 43, 1, Writer().I32(3).I32(100).Bytes(Bytes{130, 64, 0}).Take()}, nullptr);
    ASSERT_TRUE(own);
    vcard::VirtualCard other{[this] { return now; }};
    std::array<std::uint8_t, 100> in{130, 64, 0};
    std::array<std::uint8_t, 100> out{};
    const auto n = other.IOCtl(3, in.data(), 100, out.data());
    Bytes expected{0, 0, 0, static_cast<std::uint8_t>(n)};
    expected.insert(expected.end(), out.begin(), out.begin() + n);
    EXPECT_EQ(own->payload, expected);
}

TEST_F(CardServer, AcquisitionAndOutputs) {
    auto reply = Ask(Op::StartIntr, Writer().I32(10).I32(300).I32(0).I32(32).I32(1000).I32(0).I32(1).Take());
    ASSERT_TRUE(reply);
    EXPECT_EQ(Status(*reply), 1);
    ASSERT_TRUE(Ask(Op::Mox_DA, Writer().I32(1).I32(3072).Take()));
    now += 1;
    reply = Ask(Op::ADResult_DV, Writer().I32(0).I32(32).I32(1).I32(1).F32(20).Take());
    ASSERT_TRUE(reply);
    Reader r(reply->payload);
    EXPECT_EQ(r.I32(), 20);
    EXPECT_NEAR(r.F32(), 0.0, 0.01);
    EXPECT_NEAR(r.F32(), 2.5, 0.01);
    EXPECT_EQ(reply->payload.size(), 4u + 32 * 4);

    ASSERT_TRUE(Ask(Op::Mox_DO, Writer().I32(1).I32(0x5A).Take()));
    ASSERT_TRUE(Ask(Op::Mox_DOBit, Writer().I32(0).I32(1).Take()));
    reply = Ask(Op::Mox_DI, Writer().I32(2).Take());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->payload, (Bytes{0, 0, 0, 1, 0, 1, 0, 0x5A}));

    reply = Ask(Op::StartIntr, Writer().I32(0).I32(300).I32(0).I32(32).I32(1000).I32(0).I32(1).Take());
    EXPECT_EQ(Status(*reply), 0);
    EXPECT_EQ(Status(*Ask(Op::GetLastADError, {})), vcard::kBadRate);
}

TEST_F(CardServer, RefusesMalformedRequests) {
    EXPECT_FALSE(Serve(card, Packet{true, Op::StopIntr, 1, 0, {}}, nullptr)) << "a reply is not a request";
    EXPECT_FALSE(Ask(Op::Mox_DA, Bytes{0, 0, 0, 1})) << "short";
    EXPECT_FALSE(Ask(Op::StopIntr, Bytes{0})) << "trailing bytes";
    EXPECT_FALSE(Ask(Op::Ping, Bytes{0})) << "a heartbeat carries nothing";
    EXPECT_FALSE(Ask(Op::IOCtl, Writer().I32(300).I32(100).Take())) << "more request bytes than carried";
    EXPECT_FALSE(Ask(Op::IOCtl, Writer().I32(-1).I32(100).Take()));
    EXPECT_FALSE(Ask(Op::IOCtl, Writer().I32(5).I32(100).Bytes(Bytes{70, 64}).Take()));
    const auto tooMany = Ask(Op::ADResult_DV, Writer().I32(0).I32(33).I32(1).I32(1).F32(20).Take());
    ASSERT_TRUE(tooMany);
    EXPECT_EQ(tooMany->payload, (Bytes{0, 0, 0, 0})) << "more channels than the card has: refused, nothing sent";
}

TEST_F(CardServer, AHeartbeatIsAnsweredWithoutTouchingTheCard) {
    ASSERT_EQ(Status(*Ask(Op::StartIntr, Writer().I32(10).I32(300).I32(0).I32(32).I32(1000).I32(0).I32(1).Take())), 1);
    ASSERT_TRUE(Ask(Op::Mox_DO, Writer().I32(0).I32(0x11).Take()));
    now += 1;
    const auto readings = [&] { return Ask(Op::ADResult_DV, Writer().I32(0).I32(4).I32(0).I32(0).F32(0).Take()); };
    const auto before = readings();
    const auto ping = Ask(Op::Ping, {});
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->payload, (Bytes{0, 0, 0, 1}));
    EXPECT_EQ(readings()->payload, before->payload);
    EXPECT_EQ(Ask(Op::Mox_DI, Writer().I32(2).Take())->payload, (Bytes{0, 0, 0, 1, 0, 0x11, 0, 0}));
}

// A request that does not check out as a whole is not executed at all, not
// even the part of it that was well formed.
struct PartlyGood {
    const char* what;
    Op op;
    Bytes payload;
};

class MalformedRequestTest : public CardServer, public ::testing::WithParamInterface<PartlyGood> {};

TEST_P(MalformedRequestTest, ChangesNothingOnTheCard) {
    ASSERT_EQ(Status(*Ask(Op::StartIntr, Writer().I32(10).I32(300).I32(0).I32(32).I32(1000).I32(0).I32(1).Take())), 1);
    ASSERT_TRUE(Ask(Op::Mox_DA, Writer().I32(0).I32(1000).Take()));
    ASSERT_TRUE(Ask(Op::Mox_DO, Writer().I32(0).I32(0x11).Take()));
    const auto before = Ask(Op::Mox_DI, Writer().I32(2).Take());
    now += 1;
    const auto readings = [&] { return Ask(Op::ADResult_DV, Writer().I32(0).I32(4).I32(0).I32(0).F32(0).Take()); };
    const auto expected = readings();

    EXPECT_FALSE(Ask(GetParam().op, GetParam().payload)) << GetParam().what;

    EXPECT_EQ(Ask(Op::Mox_DI, Writer().I32(2).Take())->payload, before->payload) << GetParam().what;
    const auto after = readings();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->payload, expected->payload) << GetParam().what << ": still acquiring, DA0 unchanged";
}

INSTANTIATE_TEST_SUITE_P(
    Requests, MalformedRequestTest,
    ::testing::Values(PartlyGood{"Mox_DO with a byte too many", Op::Mox_DO, Bytes{0, 0, 0, 0, 0, 0, 0, 0x77, 9}},
                      PartlyGood{"Mox_DOBit with junk", Op::Mox_DOBit, Bytes{0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 3}},
                      PartlyGood{"StopIntr with trailing junk", Op::StopIntr, Bytes{1, 2}},
                      PartlyGood{"Mox_DA with junk", Op::Mox_DA, Bytes{0, 0, 0, 0, 0, 0, 0x0F, 0xFF, 0}},
                      PartlyGood{"StartIntr with junk", Op::StartIntr,
                                 Writer().I32(10).I32(300).I32(8).I32(1).I32(10).I32(0).I32(1).I32(5).Take()},
                      PartlyGood{"Initial with junk", Op::Initial, Writer().I32(0).I32(0).I32(0).I32(0).I32(1).Take()},
                      PartlyGood{"IOCtl with junk after its bytes", Op::IOCtl,
                                 Writer().I32(3).I32(100).Bytes(Bytes{70, 64, 0, 1}).Take()}));

// Requests arriving in the order given, each one a write or a read, and
// whether the card runs it: a write overtaken on the way by a newer one that
// already ran is stale; reads never are; sequence numbers wrap around.
struct Arrival {
    std::uint32_t seq;
    Op op;
    bool stale;
};

struct OrderCase {
    const char* what;
    std::vector<Arrival> arrivals;
};

class WriteOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(WriteOrderTest, RefusesOnlyWritesOlderThanTheNewestRun) {
    WriteOrder order;
    const Endpoint pc{{127, 0, 0, 1}, 5000};
    for (const auto& a : GetParam().arrivals) {
        const Bytes payload = a.op == Op::Mox_DI ? Writer().I32(2).Take() : Writer().I32(0).I32(1).Take();
        const Packet request{false, a.op, a.seq, 0x5E55, payload};
        EXPECT_EQ(order.Stale(pc, request), a.stale) << GetParam().what << ", seq " << a.seq;
        if (!order.Stale(pc, request)) order.Ran(pc, request);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Arrivals, WriteOrderTest,
    ::testing::Values(
        OrderCase{"in order", {{10, Op::Mox_DA, false}, {11, Op::Mox_DA, false}, {12, Op::Mox_DO, false}}},
        OrderCase{"overtaken", {{11, Op::Mox_DA, false}, {10, Op::Mox_DA, true}, {12, Op::Mox_DA, false}}},
        OrderCase{"overtaken by another write", {{11, Op::Mox_DOBit, false}, {10, Op::StopIntr, true}}},
        OrderCase{"the same number again", {{11, Op::Mox_DA, false}, {11, Op::Mox_DA, true}}},
        OrderCase{"reads are never stale", {{11, Op::Mox_DA, false}, {5, Op::Mox_DI, false}, {6, Op::Ping, false}}},
        OrderCase{"a read newer than the write moves nothing",
                  {{10, Op::Mox_DA, false}, {20, Op::Mox_DI, false}, {15, Op::Mox_DA, false}}},
        OrderCase{"across the wrap",
                  {{0xFFFFFFFE, Op::Mox_DA, false},
                   {1, Op::Mox_DA, false},
                   {0xFFFFFFFF, Op::Mox_DA, true},
                   {2, Op::Mox_DO, false}}},
        OrderCase{"wrapped in order", {{0xFFFFFFFF, Op::Mox_DA, false}, {0, Op::Mox_DA, false}}},
        OrderCase{"half the space ahead is behind",
                  {{100, Op::Mox_DA, false}, {100 + 0x80000001u, Op::Mox_DA, true}}}));

TEST(WriteOrder, EachSessionAndSenderKeepsItsOwnOrder) {
    WriteOrder order;
    const Endpoint pc{{127, 0, 0, 1}, 5000};
    const Endpoint other{{127, 0, 0, 1}, 5001};
    const Bytes da = Writer().I32(0).I32(3072).Take();
    order.Ran(pc, Packet{false, Op::Mox_DA, 500, 1, da});
    EXPECT_TRUE(order.Stale(pc, Packet{false, Op::Mox_DA, 499, 1, da}));
    EXPECT_FALSE(order.Stale(pc, Packet{false, Op::Mox_DA, 7, 2, da})) << "another run of the driver";
    EXPECT_FALSE(order.Stale(other, Packet{false, Op::Mox_DA, 7, 1, da})) << "another sender";
    // IOCtl: the identity and the network status are reads, others writes.
    const auto ioctl = [](std::uint8_t command) {
        return Packet{false, Op::IOCtl, 3, 1, Writer().I32(3).I32(100).Bytes(Bytes{command, 0, 0}).Take()};
    };
    EXPECT_FALSE(order.Stale(pc, ioctl(vcard::kCmdNetStatus)));
    EXPECT_FALSE(order.Stale(pc, ioctl(vcard::kCmdIdentity)));
    EXPECT_TRUE(order.Stale(pc, ioctl(200)));
    // Sessions beyond the last kSessions are forgotten, never mixed up.
    for (std::uint32_t s = 100; s < 100 + WriteOrder::kSessions; ++s)
        order.Ran(pc, Packet{false, Op::Mox_DA, 9, s, da});
    EXPECT_FALSE(order.Stale(pc, Packet{false, Op::Mox_DA, 499, 1, da}));
    EXPECT_TRUE(order.Stale(pc, Packet{false, Op::Mox_DA, 8, 100 + WriteOrder::kSessions - 1, da}));
}

// A driver that writes as many elements as it is told, and notes the
// largest count it was handed.
class CountingCard final : public vcard::CardApi {
public:
    std::int32_t Initial(std::int32_t, std::int32_t, std::int32_t, std::int32_t) override { return 1; }
    std::int32_t IOCtl(std::int32_t, const std::uint8_t*, std::int32_t outLen, std::uint8_t* out) override {
        largest = std::max(largest, outLen);
        std::fill_n(out, std::max(outLen, 0), std::uint8_t{7});
        return outLen;
    }
    std::int32_t StartIntr(std::int16_t, std::int32_t, std::int16_t, std::int16_t, std::int32_t, std::int32_t,
                           std::int16_t) override {
        return 1;
    }
    std::int32_t StopIntr() override { return 1; }
    std::int32_t GetLastADError() override { return 0; }
    std::int32_t ADResult_DV(std::int32_t, std::int32_t count, std::int32_t, std::int32_t, float,
                             float* results) override {
        largest = std::max(largest, count);
        std::fill_n(results, std::max(count, 0), 1.5f);
        return count;
    }
    std::int32_t Mox_DA(std::int16_t, std::int16_t) override { return 1; }
    std::int32_t Mox_DO(std::int16_t, std::int16_t) override { return 1; }
    std::int32_t Mox_DOBit(std::int16_t, std::int16_t) override { return 1; }
    std::int32_t Mox_DI(std::int32_t count, std::int16_t* inputs) override {
        largest = std::max(largest, count);
        std::fill_n(inputs, std::max(count, 0), std::int16_t{3});
        return 1;
    }
    std::int32_t largest = 0;
};

struct Bound {
    const char* what;
    Op op;
    Bytes payload;
    std::int32_t largestHanded; // the largest count the driver may be handed
    Bytes reply;
};

class CardServerBounds : public ::testing::TestWithParam<Bound> {};

// Every count a request carries is checked against the buffer the driver is
// handed; one that does not fit is answered as failed (status 0, no data)
// without the driver being called.
TEST_P(CardServerBounds, TheDriverIsNeverHandedMoreThanItsBuffer) {
    CountingCard card;
    const auto reply = Serve(card, Packet{false, GetParam().op, 1, 2, GetParam().payload}, nullptr);
    ASSERT_TRUE(reply) << GetParam().what;
    EXPECT_EQ(card.largest, GetParam().largestHanded) << GetParam().what;
    EXPECT_EQ(reply->payload, GetParam().reply) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Counts, CardServerBounds,
    ::testing::Values(
        Bound{"Mox_DI 2", Op::Mox_DI, Writer().I32(2).Take(), 2, {0, 0, 0, 1, 0, 3, 0, 3}},
        Bound{"Mox_DI 3", Op::Mox_DI, Writer().I32(3).Take(), 0, {0, 0, 0, 0}},
        Bound{"Mox_DI 200", Op::Mox_DI, Writer().I32(200).Take(), 0, {0, 0, 0, 0}},
        Bound{"Mox_DI 2000", Op::Mox_DI, Writer().I32(2000).Take(), 0, {0, 0, 0, 0}},
        Bound{"Mox_DI 0", Op::Mox_DI, Writer().I32(0).Take(), 0, {0, 0, 0, 0}},
        Bound{"Mox_DI -5", Op::Mox_DI, Writer().I32(-5).Take(), 0, {0, 0, 0, 0}},
        Bound{"ADResult_DV 33", Op::ADResult_DV, Writer().I32(0).I32(33).I32(1).I32(1).F32(1).Take(), 0, {0, 0, 0, 0}},
        Bound{"ADResult_DV channels 16..47",
              Op::ADResult_DV,
              Writer().I32(16).I32(32).I32(1).I32(1).F32(1).Take(),
              0,
              {0, 0, 0, 0}},
        Bound{"ADResult_DV first -1",
              Op::ADResult_DV,
              Writer().I32(-1).I32(2).I32(1).I32(1).F32(1).Take(),
              0,
              {0, 0, 0, 0}},
        Bound{"ADResult_DV first huge",
              Op::ADResult_DV,
              Writer().I32(0x7FFFFFFF).I32(2).I32(1).I32(1).F32(1).Take(),
              0,
              {0, 0, 0, 0}},
        Bound{"ADResult_DV channels 30, 31",
              Op::ADResult_DV,
              Writer().I32(30).I32(2).I32(1).I32(1).F32(1).Take(),
              2,
              {0, 0, 0, 2, 0x3F, 0xC0, 0, 0, 0x3F, 0xC0, 0, 0}},
        Bound{"IOCtl reply of 100000", Op::IOCtl, Writer().I32(1).I32(100000).Bytes(Bytes{9}).Take(), kMaxIoBytes, [] {
                  Bytes b{0, 0, 1, 0};
                  b.insert(b.end(), 256, 7);
                  return b;
              }()}));
