// SPDX-License-Identifier: GPL-3.0-or-later
// The driver's network transport against the card emulator on loopback.
#include "card_constants.h"
#include "card_server.h"
#include "emulator_process.h"
#include "protocol.h"
#include "remote_card.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using vnet::RemoteCard;
using SteadyClock = std::chrono::steady_clock;

namespace {

sockaddr_in LoopbackAddress(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

// A UDP socket bound to a free loopback port, and that port's address.
int BoundLoopbackSocket(sockaddr_in& address) {
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    address = LoopbackAddress(0);
    socklen_t len = sizeof address;
    EXPECT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&address), &len), 0);
    return s;
}

// Runs a call and checks that it did not block its caller for more than 50 ms.
template <typename F>
auto Timed(F&& f, double* worstMs = nullptr) {
    const auto t0 = SteadyClock::now();
    auto result = f();
    const double ms = std::chrono::duration<double, std::milli>(SteadyClock::now() - t0).count();
    EXPECT_LE(ms, 50.0);
    if (worstMs != nullptr && ms > *worstMs) *worstMs = ms;
    return result;
}

std::array<std::uint8_t, 8> Status(RemoteCard& card) {
    std::array<std::uint8_t, 100> in{130, 64, 0};
    std::array<std::uint8_t, 8> out{};
    Timed([&] { return card.IOCtl(100, in.data(), 8, out.data()); });
    return out;
}

class RemoteCardTest : public ::testing::Test {
protected:
    void SetUp() override {
        port = emulator.Start(0, {"--pc-address", "192.168.1.100"});
        ASSERT_NE(port, 0);
        card = std::make_unique<RemoteCard>(vnet::LoopbackEndpoint(port));
    }

    EmulatorProcess emulator;
    std::uint16_t port = 0;
    std::unique_ptr<RemoteCard> card;
};

} // namespace

TEST(AddressText, Parses) {
    EXPECT_TRUE(vnet::ParseAddress("127.0.0.1:7710"));
    EXPECT_TRUE(vnet::ParseAddress("192.168.1.10:1"));
    // Host names are refused at once rather than looked up on the caller's
    // thread; unusable addresses are refused with their reason.
    for (const char* bad : {"", "127.0.0.1", ":7710", "127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "1.2.3.4:x",
                            "1.2.3.4:-1", "1.2.3.4:70000", "localhost:7710", "no.such.host.invalid:7710",
                            "0.0.0.0:7710", "255.255.255.255:7710", "224.0.0.1:7710"}) {
        std::string why;
        const auto t0 = SteadyClock::now();
        EXPECT_FALSE(vnet::ParseAddress(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
        EXPECT_LT(SteadyClock::now() - t0, 5ms) << bad;
    }
    EXPECT_EQ(vnet::ParsePort("0"), 0);
    EXPECT_EQ(vnet::ParsePort("65535"), 65535);
    for (const char* bad : {"", "70000", "-1", "abc", "1x", "123456"}) EXPECT_FALSE(vnet::ParsePort(bad)) << bad;
}

TEST(RemoteCardSocket, ABusyLocalPortIsReportedNotSilent) {
    sockaddr_in a{};
    const int s = BoundLoopbackSocket(a);
    RemoteCard card(vnet::LoopbackEndpoint(9), ntohs(a.sin_port));
    EXPECT_NE(card.SocketError().find("in use"), std::string::npos) << card.SocketError();
    EXPECT_EQ(Timed([&] { return card.Initial(0, 0, 0, 0); }), 0);
    ::close(s);
}

using Datagrams = std::vector<std::vector<std::uint8_t>>;

// A card of our own making that answers each request as the test says.
class ScriptedCard {
public:
    ScriptedCard() { fd_ = BoundLoopbackSocket(address_); }
    ~ScriptedCard() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
        ::close(fd_);
    }
    vnet::Endpoint Address() const { return vnet::LoopbackEndpoint(ntohs(address_.sin_port)); }
    // answer(request) gives the datagrams to send back, in order.
    void Serve(const std::function<Datagrams(const vnet::Packet&)>& answer) {
        thread_ = std::thread([this, answer] {
            timeval tv{0, 20000};
            ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            std::array<std::uint8_t, vnet::kMaxDatagram> buf{};
            while (!done_) {
                sockaddr_in from{};
                socklen_t len = sizeof from;
                const ssize_t got =
                    ::recvfrom(fd_, buf.data(), buf.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
                if (got <= 0) continue;
                const auto request = vnet::Decode(std::span(buf.data(), static_cast<std::size_t>(got)));
                if (!request) continue;
                for (const auto& d : answer(*request)) {
                    ::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
                }
            }
        });
    }

private:
    int fd_ = -1;
    sockaddr_in address_{};
    std::atomic<bool> done_{false};
    std::thread thread_;
};

std::vector<std::uint8_t> ReplyTo(const vnet::Packet& request, std::vector<std::uint8_t> payload,
                                  std::uint32_t sessionXor = 0) {
    return vnet::Encode(vnet::Packet{true, request.op, request.seq, request.session ^ sessionXor, std::move(payload)});
}

TEST(RemoteCardForgery, ARightSequenceNumberWithoutTheSessionIsIgnored) {
    ScriptedCard fake;
    std::map<std::uint32_t, std::uint32_t> firstSeq; // of each session
    std::mutex m;
    fake.Serve([&](const vnet::Packet& r) {
        {
            std::lock_guard lock(m);
            firstSeq.try_emplace(r.session, r.seq);
        }
        // A forger who guessed the sequence number answers first.
        return Datagrams{ReplyTo(r, {0, 0, 0, 1, 0x77, 0x77, 0x77, 0x77}, 0x1),
                         ReplyTo(r, {0, 0, 0, 1, 0x12, 0x34, 0x00, 0x56})};
    });
    for (int run = 0; run < 3; ++run) {
        RemoteCard card(fake.Address());
        std::array<std::int16_t, 2> di{};
        ASSERT_EQ(Timed([&] { return card.Mox_DI(2, di.data()); }), 1);
        EXPECT_EQ(di[0], 0x1234);
        EXPECT_EQ(di[1], 0x56);
    }
    std::lock_guard lock(m); // the card may still be hearing the last run's requests
    ASSERT_EQ(firstSeq.size(), 3u) << "a new session for each run of the driver";
    std::set<std::uint32_t> starts;
    for (const auto& [session, seq] : firstSeq) starts.insert(seq);
    EXPECT_EQ(starts.size(), 3u) << "sequence numbers do not start at a fixed value";
}

// The reply says success but carries less than the call needs.
struct ShortCase {
    const char* what;
    vnet::Op op;
    std::vector<std::uint8_t> payload;
};

class RemoteCardShortReply : public ::testing::TestWithParam<ShortCase> {};

TEST_P(RemoteCardShortReply, IsAFailedCall) {
    ScriptedCard fake;
    fake.Serve([&](const vnet::Packet& r) {
        return Datagrams{r.op == GetParam().op ? ReplyTo(r, GetParam().payload) : ReplyTo(r, {0, 0, 0, 0})};
    });
    RemoteCard card(fake.Address());
    switch (GetParam().op) {
    case vnet::Op::ADResult_DV: {
        std::array<float, 34> r{};
        r.fill(7);
        EXPECT_EQ(card.ADResult_DV(0, 32, 1, 1, 20, r.data()), 0);
        EXPECT_EQ(r[0], 7);
        break;
    }
    case vnet::Op::Mox_DI: {
        std::array<std::int16_t, 2> di{5, 5};
        EXPECT_EQ(card.Mox_DI(2, di.data()), 0);
        EXPECT_EQ(di[0], 5);
        break;
    }
    default: {
        std::array<std::uint8_t, 100> in{70, 64, 0};
        std::array<std::uint8_t, 8> out{};
        out.fill(9);
        EXPECT_EQ(card.IOCtl(100, in.data(), 8, out.data()), 0);
        break;
    }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, RemoteCardShortReply,
    ::testing::Values(ShortCase{"results without data", vnet::Op::ADResult_DV, {0, 0, 0, 20}},
                      ShortCase{"results cut short", vnet::Op::ADResult_DV, {0, 0, 0, 20, 0x40, 0x20, 0, 0}},
                      ShortCase{"inputs without data", vnet::Op::Mox_DI, {0, 0, 0, 1}},
                      ShortCase{"inputs cut short", vnet::Op::Mox_DI, {0, 0, 0, 1, 0, 1}},
                      ShortCase{"identity without bytes", vnet::Op::IOCtl, {0, 0, 0, 5}},
                      ShortCase{"identity cut short", vnet::Op::IOCtl, {0, 0, 0, 5, 77, 10}}));

// A card that notes every call it runs with its arguments (a buffer as
// "buf") and answers 100 plus the operation's number, leaving buffers as
// they are. Its bodies come from the operations' list like its declarations.
class RecordingCard final : public vcard::CardApi {
public:
    MOX_CARD_OVERRIDES

    // The calls of one operation so far, as "Name(arg,arg)".
    std::vector<std::string> Calls(std::string_view name) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> found;
        for (const auto& call : calls_) {
            if (call.starts_with(std::string(name) + "(")) found.push_back(call);
        }
        return found;
    }

private:
    auto Note(std::string_view name, std::int32_t number) {
        return [this, name, number](auto... args) {
            std::ostringstream call;
            call << name << '(';
            const char* comma = "";
            [[maybe_unused]] const auto put = [&](auto arg) {
                call << comma;
                comma = ",";
                if constexpr (std::is_pointer_v<decltype(arg)>) {
                    call << "buf";
                } else {
                    call << +arg;
                }
            };
            (put(args), ...);
            call << ')';
            std::lock_guard lock(mutex_);
            calls_.push_back(call.str());
            return 100 + number;
        };
    }

    std::mutex mutex_;
    std::vector<std::string> calls_;
};

// `args` is the parenthesised argument list of the call itself.
#define MOX_RECORD_OP(name, number, effect, kind, params, args)                                                        \
    std::int32_t RecordingCard::name params { return Note(#name, number) args; } // NOLINT(bugprone-macro-parentheses)
MOX_CARD_OPS(MOX_RECORD_OP)
#undef MOX_RECORD_OP

struct OpCall {
    std::string_view op;
    std::function<std::int32_t(RemoteCard&)> call;
    std::string ran; // the call as the card must see it
};

std::string OpCallName(const ::testing::TestParamInfo<OpCall>& info) { return std::string(info.param.op); }

const std::vector<OpCall>& EveryOpCall() {
    static const std::vector<OpCall> calls{
        {"Initial", [](RemoteCard& c) { return c.Initial(1, -2, 70000, 4); }, "Initial(1,-2,70000,4)"},
        {"IOCtl",
         [](RemoteCard& c) {
             std::array<std::uint8_t, 3> in{vcard::kCmdIdentity, 64, 0};
             std::array<std::uint8_t, 5> out{};
             return c.IOCtl(3, in.data(), 5, out.data());
         },
         "IOCtl(3,buf,5,buf)"},
        {"StopIntr", [](RemoteCard& c) { return c.StopIntr(); }, "StopIntr()"},
        {"StartIntr", [](RemoteCard& c) { return c.StartIntr(7, 301, 2, 29, 999, -3, 1); },
         "StartIntr(7,301,2,29,999,-3,1)"},
        {"GetLastADError", [](RemoteCard& c) { return c.GetLastADError(); }, "GetLastADError()"},
        {"ADResult_DV",
         [](RemoteCard& c) {
             std::array<float, 4> results{};
             return c.ADResult_DV(3, 4, 1, 0, 2.5F, results.data());
         },
         "ADResult_DV(3,4,1,0,2.5,buf)"},
        {"Mox_DA", [](RemoteCard& c) { return c.Mox_DA(3, -2); }, "Mox_DA(3,-2)"},
        {"Mox_DO", [](RemoteCard& c) { return c.Mox_DO(1, 0x5A); }, "Mox_DO(1,90)"},
        {"Mox_DOBit", [](RemoteCard& c) { return c.Mox_DOBit(15, 1); }, "Mox_DOBit(15,1)"},
        {"Mox_DI",
         [](RemoteCard& c) {
             std::array<std::int16_t, 2> inputs{};
             return c.Mox_DI(2, inputs.data());
         },
         "Mox_DI(2,buf)"},
    };
    return calls;
}

TEST(RemoteCardOps, EveryOperationHasARoundTripCase) {
    std::set<std::string_view> listed;
    for (const auto& op : vcard::kOps) listed.insert(op.name);
    std::set<std::string_view> tried;
    for (const auto& c : EveryOpCall()) tried.insert(c.op);
    EXPECT_EQ(tried, listed);
}

class RemoteCardOp : public ::testing::TestWithParam<OpCall> {};

// A call packed on the driver's side reaches the same operation of the card
// with the same arguments through the card server, and its status comes back.
TEST_P(RemoteCardOp, ReachesTheSameOperationWithTheSameArguments) {
    const auto* info = [] {
        for (const auto& op : vcard::kOps) {
            if (op.name == GetParam().op) return &op;
        }
        return static_cast<const vcard::OpInfo*>(nullptr);
    }();
    ASSERT_NE(info, nullptr);
    RecordingCard recorder;
    ScriptedCard fake;
    fake.Serve([&](const vnet::Packet& r) {
        const auto reply = vnet::Serve(recorder, r, nullptr);
        return reply ? Datagrams{vnet::Encode(*reply)} : Datagrams{};
    });
    RemoteCard card(fake.Address());
    EXPECT_EQ(GetParam().call(card), 100 + info->number);
    const auto calls = recorder.Calls(GetParam().op);
    ASSERT_FALSE(calls.empty());
    // A read the link keeps fresh may have been asked more than once.
    for (const auto& call : calls) EXPECT_EQ(call, GetParam().ran);
}

INSTANTIATE_TEST_SUITE_P(Ops, RemoteCardOp, ::testing::ValuesIn(EveryOpCall()), OpCallName);

// Six threads at once against a quick card: a call that spent its time
// waiting for another caller must not count as the card failing, so the
// link never goes down and acquisition is never started again.
TEST(RemoteCardThreads, WaitingForTheLockIsNoCardFailure) {
    std::atomic<int> starts{0};
    ScriptedCard fake;
    fake.Serve([&](const vnet::Packet& r) {
        if (r.op == vnet::Op::StartIntr) ++starts;
        std::this_thread::sleep_for(3ms);
        if (r.op == vnet::Op::ADResult_DV) {
            vnet::Writer w;
            w.I32(20);
            for (int i = 0; i < 32; ++i) w.F32(0);
            return Datagrams{ReplyTo(r, w.Take())};
        }
        return Datagrams{ReplyTo(r, {0, 0, 0, 1})};
    });
    RemoteCard card(fake.Address());
    ASSERT_EQ(card.StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    std::vector<std::thread> callers;
    callers.reserve(6);
    const auto end = SteadyClock::now() + 1500ms;
    for (int t = 0; t < 6; ++t) {
        callers.emplace_back([&] {
            std::array<float, 34> r{};
            while (SteadyClock::now() < end) card.ADResult_DV(0, 32, 1, 1, 20, r.data());
        });
    }
    for (auto& c : callers) c.join();
    EXPECT_EQ(starts.load(), 1) << "acquisition restarted with no restart of the card";
    EXPECT_TRUE(card.LinkUp());
}

TEST_F(RemoteCardTest, IdentityAndLiveReadingsThroughTheNetwork) {
    std::array<std::uint8_t, 100> in{70, 64, 0};
    std::array<std::uint8_t, 8> out{};
    EXPECT_EQ(card->Initial(0, 0, 0, 0), 1);
    EXPECT_EQ(card->IOCtl(100, in.data(), 8, out.data()), 5);
    EXPECT_EQ(out[0] * 100 + out[1], 7710);
    EXPECT_EQ(Status(*card), (std::array<std::uint8_t, 8>{0, 192, 168, 1, 100, 0, 0, 0}));

    ASSERT_EQ(card->StopIntr(), 1);
    ASSERT_EQ(card->StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    ASSERT_EQ(card->Mox_DA(2, 3072), 1);
    std::this_thread::sleep_for(100ms);
    std::array<float, 34> a{}, b{};
    a.fill(-99);
    EXPECT_EQ(card->ADResult_DV(0, 32, 1, 1, 20, a.data()), 20);
    EXPECT_NEAR(a[2], 2.5, 0.02);
    EXPECT_NEAR(a[4], -4.0, 0.02);
    EXPECT_EQ(a[32], -99) << "writes no more than asked";
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(card->ADResult_DV(0, 32, 0, 0, 0, b.data()), 1);
    int changed = 0;
    for (int ch = 0; ch < 32; ++ch) changed += static_cast<int>(a[ch] != b[ch]);
    EXPECT_GE(changed, 28);

    ASSERT_EQ(card->Mox_DO(0, 0xA5), 1);
    ASSERT_EQ(card->Mox_DOBit(15, 1), 1);
    std::array<std::int16_t, 2> di{};
    EXPECT_EQ(card->Mox_DI(2, di.data()), 1);
    EXPECT_EQ(di[0], 0xA5);
    EXPECT_EQ(di[1], 0x80);
    EXPECT_EQ(card->ADResult_DV(0, 33, 1, 1, 20, a.data()), 0) << "refused before sending";
    EXPECT_EQ(card->StartIntr(0, 300, 0, 32, 1000, 0, 1), 0);
    EXPECT_EQ(card->GetLastADError(), 1);
}

TEST_F(RemoteCardTest, ReportsTheAddressItSeesUnlessTold) {
    EXPECT_EQ(emulator.Command("pc-address auto").rfind("ok", 0), 0u);
    EXPECT_EQ(Status(*card), (std::array<std::uint8_t, 8>{0, 127, 0, 0, 1, 0, 0, 0}));
}

TEST_F(RemoteCardTest, SurvivesDroppedRequests) {
    ASSERT_EQ(emulator.Command("drop 0.2").rfind("ok", 0), 0u);
    std::array<std::int16_t, 2> di{};
    // Before the card was ever heard, a lost first request or two can fail
    // the first reads; the link must then hold through the losses.
    const auto t0 = SteadyClock::now();
    while (card->Mox_DI(2, di.data()) != 1 && SteadyClock::now() - t0 < 1s) std::this_thread::sleep_for(5ms);
    ASSERT_EQ(card->Mox_DI(2, di.data()), 1);
    // Paced like a window's timer (faster), so the reads span many polls
    // and many of them are lost.
    int answered = 0;
    for (int i = 0; i < 200; ++i) {
        answered += static_cast<int>(Timed([&] { return card->Mox_DI(2, di.data()); }) == 1);
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_GE(answered, 190);
}

TEST_F(RemoteCardTest, AFreshAnswerIsServedWhileTheCardIsLate) {
    std::array<std::int16_t, 2> di{};
    bool timed = false;
    for (int attempt = 0; attempt < 5 && !timed; ++attempt) {
        ASSERT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
        // After a call, the next read asks the card anew: its answer is
        // then brand new when the card goes quiet.
        ASSERT_EQ(card->Mox_DO(0, static_cast<std::int16_t>(attempt)), 1);
        ASSERT_EQ(card->Mox_DI(2, di.data()), 1);
        const auto answered = SteadyClock::now();
        ASSERT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
        // Long enough for the next poll to go unanswered past its time,
        // well within the time an answer stays fresh.
        std::this_thread::sleep_for(80ms);
        di.fill(-1);
        const int result = card->Mox_DI(2, di.data());
        if (SteadyClock::now() - answered > 130ms) continue; // this machine was too slow to tell
        timed = true;
        EXPECT_EQ(result, 1);
        EXPECT_EQ(di[0], attempt);
    }
    ASSERT_TRUE(timed) << "never read within the time an answer stays fresh";
    // Once the answer is old, the silent card fails reads at once.
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(Timed([&] { return card->Mox_DI(2, di.data()); }), 0);
}

TEST_F(RemoteCardTest, DelayedRepliesWithinTheBudgetArrive) {
    ASSERT_EQ(emulator.Command("delay 14").rfind("ok", 0), 0u);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(Timed([&] { return card->Mox_DO(0, static_cast<std::int16_t>(i)); }), 1);
        std::array<std::int16_t, 2> di{};
        ASSERT_EQ(Timed([&] { return card->Mox_DI(2, di.data()); }), 1);
        EXPECT_EQ(di[0], i);
    }
}

TEST_F(RemoteCardTest, LateRepliesNeverBlockOrConfuseLaterCalls) {
    // Calls held to 40 ms, so that replies 70 ms late come after the calls
    // were given up, however the link measures the round trip.
    vnet::LinkTiming shortCalls;
    shortCalls.longestCall = shortCalls.callBudget;
    card = std::make_unique<RemoteCard>(vnet::LoopbackEndpoint(port), 0, shortCalls);
    ASSERT_EQ(card->Mox_DO(0, 0x11), 1);
    ASSERT_EQ(emulator.Command("delay 70").rfind("ok", 0), 0u);
    for (int i = 0; i < 5; ++i) {
        std::array<std::int16_t, 2> di{};
        EXPECT_EQ(Timed([&] { return card->Mox_DI(2, di.data()); }), 0);
        EXPECT_EQ(Timed([&] { return card->Mox_DO(0, static_cast<std::int16_t>(0x20 + i)); }), 0);
    }
    ASSERT_EQ(emulator.Command("delay 0").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(150ms); // the late replies arrive meanwhile
    std::array<std::int16_t, 2> di{};
    ASSERT_EQ(card->Mox_DI(2, di.data()), 1);
    EXPECT_EQ(di[0], 0x24) << "the late replies of earlier calls were not taken for this one";
    EXPECT_TRUE(card->LinkUp());
}

TEST_F(RemoteCardTest, OutageIsCountedAndTheLinkComesBack) {
    EXPECT_EQ(Status(*card)[1], 192);
    ASSERT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    double worstDown = 0;
    const auto t0 = SteadyClock::now();
    std::array<std::uint8_t, 8> status{};
    while (SteadyClock::now() - t0 < 3500ms) {
        const bool down = !card->LinkUp();
        status = Status(*card);
        std::array<float, 34> r{};
        double ms = 0;
        Timed([&] { return card->ADResult_DV(0, 32, 1, 1, 20, r.data()); }, &ms);
        if (down) worstDown = std::max(worstDown, ms);
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(card->LinkUp());
    EXPECT_EQ(status[1], 192) << "the last address the card reported";
    EXPECT_EQ(status[4], 100);
    EXPECT_GE(status[5] * 256 + status[6], 3);
    EXPECT_LT(worstDown, 5.0) << "with the link lost, calls fail at once";

    ASSERT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
    const auto resumed = SteadyClock::now();
    while (!card->LinkUp() && SteadyClock::now() - resumed < 1s) std::this_thread::sleep_for(10ms);
    EXPECT_TRUE(card->LinkUp());
    while (Status(*card)[6] != 0 && SteadyClock::now() - resumed < 1s) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(Status(*card)[6], 0) << "the card's own report again";
}

TEST_F(RemoteCardTest, AcquisitionIsRestartedAfterTheCardRestarts) {
    ASSERT_EQ(card->StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    std::array<float, 34> r{};
    ASSERT_GT(card->ADResult_DV(0, 32, 1, 1, 20, r.data()), 0);
    emulator.Kill();
    const auto killed = SteadyClock::now();
    while (card->LinkUp() && SteadyClock::now() - killed < 2s) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(Timed([&] { return card->ADResult_DV(0, 32, 1, 1, 20, r.data()); }), 0) << "no old data once lost";
    ASSERT_EQ(emulator.Start(port, {"--pc-address", "192.168.1.100"}), port);
    std::int32_t got = 0;
    for (const auto t0 = SteadyClock::now(); got == 0 && SteadyClock::now() - t0 < 2s;) {
        got = Timed([&] { return card->ADResult_DV(0, 32, 1, 1, 20, r.data()); });
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GT(got, 0) << "acquisition goes on without a new start from the program";
    EXPECT_NEAR(r[7], 4.0, 0.02);
    // Counted once for the program to see, though every kept reading found it.
    EXPECT_EQ(card->Restarts().found, 1u);
    EXPECT_EQ(card->Restarts().restarted, 1u);
}

TEST_F(RemoteCardTest, StoppedAcquisitionIsNotRestarted) {
    ASSERT_EQ(card->StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    ASSERT_EQ(card->StopIntr(), 1);
    std::array<float, 34> r{};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(card->ADResult_DV(0, 32, 1, 1, 20, r.data()), 0);
    EXPECT_EQ(card->Restarts().found, 0u);
    EXPECT_EQ(card->Restarts().restarted, 0u);
}

TEST_F(RemoteCardTest, ForeignAndMalformedPacketsChangeNothing) {
    std::atomic<bool> done{false};
    std::thread flood([&] {
        const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
        const sockaddr_in target = LoopbackAddress(card->LocalPort());
        std::mt19937 rng(1);
        for (std::uint32_t seq = 0; !done; ++seq) {
            std::vector<std::uint8_t> junk(rng() % 80);
            for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
            // Well-formed replies with plausible sequence numbers and wrong data, from a foreign port.
            const auto forged =
                vnet::Encode(vnet::Packet{true, vnet::Op::Mox_DI, seq % 64, seq, {0, 0, 0, 1, 0, 0x77, 0, 0x77}});
            ::sendto(s, junk.data(), junk.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
            ::sendto(s, forged.data(), forged.size(), 0, reinterpret_cast<const sockaddr*>(&target), sizeof target);
            std::this_thread::sleep_for(50us);
        }
        ::close(s);
    });
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(Timed([&] { return card->Mox_DO(0, static_cast<std::int16_t>(i)); }), 1);
        std::array<std::int16_t, 2> di{};
        ASSERT_EQ(Timed([&] { return card->Mox_DI(2, di.data()); }), 1);
        EXPECT_EQ(di[0], i);
        EXPECT_EQ(di[1], 0);
    }
    done = true;
    flood.join();
}

TEST(RemoteCardUnreachable, AnswersTheStatusItselfAndFailsTheRest) {
    // A port nobody listens on.
    sockaddr_in a{};
    const int s = BoundLoopbackSocket(a);
    ::close(s);
    const vnet::LinkTiming timing;
    RemoteCard card(vnet::LoopbackEndpoint(ntohs(a.sin_port)));
    // The first call waits for a first answer as long as a far card could
    // take; then the link counts as lost and everything fails at once.
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(card.Initial(0, 0, 0, 0), 0);
    EXPECT_LE(SteadyClock::now() - t0, timing.firstCall + 100ms);
    EXPECT_FALSE(card.LinkUp());
    EXPECT_EQ(Timed([&] { return card.StartIntr(10, 300, 0, 32, 1000, 0, 1); }), 0);
    EXPECT_EQ(Timed([&] { return card.GetLastADError(); }), vnet::kNoReplyError);
    std::array<std::uint8_t, 100> in{70, 64, 0};
    std::array<std::uint8_t, 8> out{};
    out.fill(9);
    EXPECT_EQ(Timed([&] { return card.IOCtl(100, in.data(), 8, out.data()); }), 0);
    EXPECT_EQ(out[0], 9) << "no identity is made up";
    std::array<std::int16_t, 2> di{7, 7};
    EXPECT_EQ(Timed([&] { return card.Mox_DI(2, di.data()); }), 0);
    EXPECT_EQ(di[0], 7);
    EXPECT_EQ(Status(card), (std::array<std::uint8_t, 8>{0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(EmulatorPort, ASecondEmulatorOnATakenPortRefusesToStart) {
    EmulatorProcess first, second;
    const std::uint16_t port = first.Start(0);
    ASSERT_NE(port, 0);
    EXPECT_EQ(second.Start(port), 0) << "two cards answering on one port";
    RemoteCard card(vnet::LoopbackEndpoint(port));
    EXPECT_EQ(Timed([&] { return card.Initial(0, 0, 0, 0); }), 1);
}

TEST(EmulatorDelay, ALoweredDelayAppliesToRepliesAlreadyWaiting) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0, {"--delay", "5000"});
    ASSERT_NE(port, 0);
    const int s = ::socket(AF_INET, SOCK_DGRAM, 0);
    timeval tv{1, 0};
    ::setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const sockaddr_in to = LoopbackAddress(port);
    const auto request = vnet::Encode(vnet::Packet{false, vnet::Op::StopIntr, 1, 2, {}});
    ::sendto(s, request.data(), request.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    std::this_thread::sleep_for(50ms);
    ASSERT_EQ(emulator.Command("delay 0").rfind("ok", 0), 0u);
    std::array<std::uint8_t, vnet::kMaxDatagram> buf{};
    const auto t0 = SteadyClock::now();
    const ssize_t got = ::recv(s, buf.data(), buf.size(), 0);
    EXPECT_GT(got, 0) << "the reply still waits for the old delay";
    EXPECT_LT(SteadyClock::now() - t0, 500ms);
    ::close(s);
}

// An outage of two seconds on a card of the given round trip: within a
// second of the card answering again, the status is normal and readings
// flow, with no new start from the program.
class RemoteCardRecovery : public ::testing::TestWithParam<int> {};

TEST_P(RemoteCardRecovery, TheLinkComesBackAfterAnOutage) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    RemoteCard card(vnet::LoopbackEndpoint(port));
    // Started on a quick link: a call must be confirmed within its budget,
    // which a slower card cannot do.
    ASSERT_EQ(card.StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    ASSERT_EQ(emulator.Command("delay " + std::to_string(GetParam())).rfind("ok", 0), 0u);
    std::array<float, 34> r{};
    const auto tick = [&] {
        const auto status = Status(card);
        const std::int32_t read = Timed([&] { return card.ADResult_DV(0, 32, 1, 1, 20, r.data()); });
        return status[5] == 0 && status[6] == 0 && read > 0;
    };
    const auto ticksUntil = [&](std::chrono::milliseconds limit) {
        for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < limit;) {
            if (tick()) return true;
            std::this_thread::sleep_for(100ms);
        }
        return false;
    };
    ASSERT_TRUE(ticksUntil(1s)) << "readings never came at this round trip";
    ASSERT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < 2s;) {
        tick();
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(card.LinkUp());
    ASSERT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
    EXPECT_TRUE(ticksUntil(1s)) << "round trip " << GetParam() << " ms: still down a second after the card answered";
    EXPECT_NEAR(r[7], 4.0, 0.02) << "acquisition ran on through the outage";
}

INSTANTIATE_TEST_SUITE_P(RoundTrips, RemoteCardRecovery, ::testing::Values(0, 12, 20, 50, 150, 200),
                         [](const auto& roundTrip) { return std::to_string(roundTrip.param) + "ms"; });

// A write whose reply is lost is sent again with its own sequence number, so
// the card can tell the repeat and run it once.
TEST(RemoteCardWrites, ARepeatCarriesTheSameSequenceNumber) {
    std::mutex m;
    std::map<std::uint32_t, int> copies; // DA requests by sequence number
    ScriptedCard fake;
    fake.Serve([&](const vnet::Packet& r) {
        if (r.op != vnet::Op::Mox_DA) return Datagrams{ReplyTo(r, {0, 0, 0, 1})};
        std::lock_guard lock(m);
        // The first copy's reply is lost on the way back.
        return ++copies[r.seq] == 1 ? Datagrams{} : Datagrams{ReplyTo(r, {0, 0, 0, 1})};
    });
    RemoteCard card(fake.Address());
    for (std::int16_t code = 0; code < 5; ++code) EXPECT_EQ(Timed([&] { return card.Mox_DA(0, code); }), 1);
    std::lock_guard lock(m);
    EXPECT_EQ(copies.size(), 5u) << "one sequence number per write";
    for (const auto& [seq, n] : copies) EXPECT_GE(n, 2) << seq;
}

// Readings the card refuses (arguments it does not take) while acquiring are
// not a restarted card: acquisition is not started again.
TEST(RemoteCardRestart, ARefusedReadingRestartsNothing) {
    std::atomic<int> starts{0};
    ScriptedCard fake;
    fake.Serve([&](const vnet::Packet& r) {
        if (r.op == vnet::Op::StartIntr) ++starts;
        if (r.op != vnet::Op::ADResult_DV) return Datagrams{ReplyTo(r, {0, 0, 0, 1})};
        vnet::Reader in(r.payload);
        in.Bytes(8);
        if (in.I32() != 1) return Datagrams{ReplyTo(r, {0, 0, 0, 0})}; // only volts
        vnet::Writer w;
        w.I32(20);
        for (int i = 0; i < 32; ++i) w.F32(1);
        return Datagrams{ReplyTo(r, w.Take())};
    });
    RemoteCard card(fake.Address());
    ASSERT_EQ(card.StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    std::array<float, 34> r{};
    for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < 600ms;) {
        EXPECT_EQ(card.ADResult_DV(0, 32, 1, 1, 20, r.data()), 20);
        EXPECT_EQ(card.ADResult_DV(0, 32, 5, 1, 20, r.data()), 0);
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(starts.load(), 1);
}

// The link's own view of its quality, from the round trip and losses it
// measures.
struct QualityCase {
    const char* fault;
    vnet::LinkState state;
    double minRoundTripMs, maxRoundTripMs, minLoss, maxLoss;
};

class RemoteCardQuality : public ::testing::TestWithParam<QualityCase> {};

TEST_P(RemoteCardQuality, IsMeasured) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0, {"--seed", "1"});
    ASSERT_NE(port, 0);
    ASSERT_EQ(emulator.Command(GetParam().fault).rfind("ok", 0), 0u);
    RemoteCard card(vnet::LoopbackEndpoint(port));
    std::array<std::int16_t, 2> di{};
    for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < 3s;) {
        card.Mox_DI(2, di.data()); // kept fresh by polls from here on
        std::this_thread::sleep_for(100ms);
    }
    const auto q = card.Quality();
    EXPECT_EQ(q.state, GetParam().state) << vnet::LinkStateName(q.state);
    EXPECT_GE(q.roundTripMs, GetParam().minRoundTripMs);
    EXPECT_LE(q.roundTripMs, GetParam().maxRoundTripMs);
    EXPECT_GE(q.loss, GetParam().minLoss);
    EXPECT_LE(q.loss, GetParam().maxLoss);
}

INSTANTIATE_TEST_SUITE_P(Faults, RemoteCardQuality,
                         ::testing::Values(QualityCase{"drop 0", vnet::LinkState::Online, 0, 5, 0, 0},
                                           QualityCase{"delay 40", vnet::LinkState::Degraded, 38, 60, 0, 0.02},
                                           QualityCase{"drop 0.3", vnet::LinkState::Degraded, 0, 5, 0.12, 0.5}));

TEST(RemoteCardTrace, EachChangeOfLinkStateIsWrittenWithRoundTripAndLoss) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    testing::internal::CaptureStderr();
    {
        RemoteCard card(vnet::LoopbackEndpoint(port), 0, vnet::LinkTiming{}, true);
        EXPECT_EQ(card.Initial(0, 0, 0, 0), 1);
        ASSERT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
        for (const auto t0 = SteadyClock::now(); card.LinkUp() && SteadyClock::now() - t0 < 2s;) {
            std::this_thread::sleep_for(20ms);
        }
        ASSERT_EQ(emulator.Command("resume").rfind("ok", 0), 0u);
        for (const auto t0 = SteadyClock::now(); !card.LinkUp() && SteadyClock::now() - t0 < 2s;) {
            std::this_thread::sleep_for(20ms);
        }
    }
    const std::string trace = testing::internal::GetCapturedStderr();
    const std::string link = "link to 127.0.0.1:" + std::to_string(port);
    const auto online = trace.find(link + " online: round trip ");
    const auto lost = trace.find(link + " reconnecting: round trip ", online);
    const auto back = trace.find(link + " online: round trip ", lost);
    EXPECT_NE(online, std::string::npos) << trace;
    EXPECT_NE(lost, std::string::npos) << trace;
    EXPECT_NE(back, std::string::npos) << trace;
    EXPECT_NE(trace.find("ms, loss "), std::string::npos) << trace;
}

TEST(EmulatorStatus, ReportsThePcsLink) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0);
    ASSERT_NE(port, 0);
    EXPECT_EQ(emulator.Command("status").find("PC "), std::string::npos) << "nobody has asked yet";
    RemoteCard card(vnet::LoopbackEndpoint(port));
    EXPECT_EQ(card.Initial(0, 0, 0, 0), 1);
    const std::string status = emulator.Command("status");
    EXPECT_NE(status.find("PC 127.0.0.1:" + std::to_string(card.LocalPort()) + " session "), std::string::npos)
        << status;
    EXPECT_NE(status.find(": heard, last request "), std::string::npos) << status;
    EXPECT_NE(status.find(" requests, 0 repeated"), std::string::npos) << status;
}

// Every entry returns within its bound whatever the link does: a slow card,
// one losing a fifth of the requests, and one gone.
class RemoteCardBound : public ::testing::TestWithParam<const char*> {};

TEST_P(RemoteCardBound, EveryEntryReturnsInTime) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0, {"--seed", "3"});
    ASSERT_NE(port, 0);
    RemoteCard card(vnet::LoopbackEndpoint(port));
    ASSERT_EQ(card.StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    ASSERT_EQ(emulator.Command(GetParam()).rfind("ok", 0), 0u);
    double worst = 0;
    std::array<std::uint8_t, 100> identity{70, 64, 0};
    std::array<std::uint8_t, 8> out{};
    std::array<float, 34> r{};
    std::array<std::int16_t, 2> di{};
    for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < 1500ms;) {
        Status(card);
        Timed([&] { return card.ADResult_DV(0, 32, 1, 1, 20, r.data()); }, &worst);
        Timed([&] { return card.ADResult_DV(0, 32, 0, 0, 0, r.data()); }, &worst);
        Timed([&] { return card.Mox_DI(2, di.data()); }, &worst);
        Timed([&] { return card.Mox_DA(1, 2048); }, &worst);
        Timed([&] { return card.Mox_DO(0, 0x5A); }, &worst);
        Timed([&] { return card.Mox_DOBit(3, 1); }, &worst);
        Timed([&] { return card.IOCtl(100, identity.data(), 8, out.data()); }, &worst);
        Timed([&] { return card.GetLastADError(); }, &worst);
        Timed([&] { return card.Initial(0, 0, 0, 0); }, &worst);
        std::this_thread::sleep_for(50ms);
    }
    Timed([&] { return card.StopIntr(); }, &worst);
    Timed([&] { return card.StartIntr(10, 300, 0, 32, 1000, 0, 1); }, &worst);
    RecordProperty("worst_ms", std::to_string(worst));
}

INSTANTIATE_TEST_SUITE_P(Links, RemoteCardBound, ::testing::Values("delay 29", "drop 0.2", "stop"),
                         [](const auto& link) {
                             std::string name = link.param;
                             for (auto& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                             return name;
                         });

// A card far away: started and driven from the first call on, each call
// waiting about two round trips, and its readings served as they come.
class RemoteCardFar : public ::testing::TestWithParam<int> {};

TEST_P(RemoteCardFar, IsStartedAndDrivenAtItsRoundTrip) {
    const auto roundTrip = std::chrono::milliseconds(GetParam());
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0, {"--delay", std::to_string(GetParam())});
    ASSERT_NE(port, 0);
    RemoteCard card(vnet::LoopbackEndpoint(port));
    auto t0 = SteadyClock::now();
    ASSERT_EQ(card.StartIntr(10, 300, 0, 32, 1000, 0, 1), 1) << "the first start on this link";
    EXPECT_LE(SteadyClock::now() - t0, vnet::LinkTiming{}.firstCall);
    std::array<float, 34> r{};
    const auto readInput0 = [&](float want) {
        for (const auto start = SteadyClock::now(); SteadyClock::now() - start < 3 * roundTrip + 1s;) {
            if (Timed([&] { return card.ADResult_DV(0, 32, 1, 0, 0, r.data()); }) > 0 && std::abs(r[0] - want) < 0.02)
                return true;
            std::this_thread::sleep_for(20ms);
        }
        return false;
    };
    for (const std::int16_t code : {std::int16_t{3072}, std::int16_t{1024}}) { // +2.5 V, then -2.5 V
        t0 = SteadyClock::now();
        EXPECT_EQ(card.Mox_DA(0, code), 1) << "a write confirmed at round trip " << GetParam() << " ms";
        EXPECT_LE(SteadyClock::now() - t0, 2 * roundTrip + 100ms);
        EXPECT_NE(card.GetLastADError(), vnet::kNoReplyError);
        EXPECT_TRUE(readInput0(code == 3072 ? 2.5f : -2.5f)) << "input 0 does not read DA0 (" << r[0] << " V)";
    }
}

INSTANTIATE_TEST_SUITE_P(RoundTrips, RemoteCardFar, ::testing::Values(50, 150, 300),
                         [](const auto& roundTrip) { return std::to_string(roundTrip.param) + "ms"; });

// A write sent but not confirmed in time may or may not have run: the
// driver says "no reply" for it, unlike a write it never sent.
TEST_F(RemoteCardTest, AWriteNotConfirmedInTimeIsToldApart) {
    ASSERT_EQ(card->Mox_DA(0, 2048), 1);
    EXPECT_NE(card->GetLastADError(), vnet::kNoReplyError);
    ASSERT_EQ(emulator.Command("delay 3000").rfind("ok", 0), 0u);
    const auto t0 = SteadyClock::now();
    EXPECT_EQ(card->Mox_DA(0, 3072), 0);
    EXPECT_LE(SteadyClock::now() - t0, vnet::LinkTiming{}.longestCall + 100ms);
    ASSERT_EQ(emulator.Command("delay 0").rfind("ok", 0), 0u);
    std::this_thread::sleep_for(100ms); // the card answers again, the write still unconfirmed
    EXPECT_EQ(card->GetLastADError(), vnet::kNoReplyError) << "sent, not confirmed";
    bool confirmed = false;
    for (const auto t1 = SteadyClock::now(); !confirmed && SteadyClock::now() - t1 < 5s;) {
        confirmed = card->Mox_DA(0, 1024) == 1;
        if (!confirmed) std::this_thread::sleep_for(100ms);
    }
    ASSERT_TRUE(confirmed);
    EXPECT_NE(card->GetLastADError(), vnet::kNoReplyError) << "the next confirmed call clears it";
}

// A kept answer's age counts from when it was asked: on a 150 ms link the
// last answer the card sent before it stopped is not served as fresh for
// another 150 ms after it arrived, only for about a poll after.
TEST(RemoteCardReads, AnAnswersAgeCountsFromWhenItWasAsked) {
    constexpr auto kRoundTrip = 150ms;
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0, {"--delay", "150"});
    ASSERT_NE(port, 0);
    RemoteCard card(vnet::LoopbackEndpoint(port));
    ASSERT_EQ(card.StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    std::array<float, 34> r{};
    int answered = 0;
    for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < 1500ms;) {
        answered += card.ADResult_DV(0, 32, 1, 0, 0, r.data()) > 0 ? 1 : 0;
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_GT(answered, 20) << "readings flow at this round trip";
    ASSERT_EQ(emulator.Command("stop").rfind("ok", 0), 0u);
    const auto stopped = SteadyClock::now();
    // The replies on their way still come for a round trip; the last was
    // asked just before the stop.
    std::this_thread::sleep_until(stopped + kRoundTrip + 90ms);
    const std::int32_t got = card.ADResult_DV(0, 32, 1, 0, 0, r.data());
    if (SteadyClock::now() - stopped > kRoundTrip + 140ms) GTEST_SKIP() << "the machine was too busy to read in time";
    EXPECT_EQ(got, 0) << "a reading asked " << kRoundTrip.count() + 90 << " ms ago served as fresh";
}

// A reading tells when it was asked of the card, to the thread that got it:
// on a 150 ms link a kept reading is at least that old when it is returned,
// and reads served from the same answer tell the same time.
TEST(RemoteCardReads, AReadingTellsWhenItWasAsked) {
    EmulatorProcess emulator;
    const std::uint16_t port = emulator.Start(0, {"--delay", "150"});
    ASSERT_NE(port, 0);
    RemoteCard card(vnet::LoopbackEndpoint(port));
    EXPECT_FALSE(card.LastReadingAsked());
    ASSERT_EQ(card.StartIntr(10, 300, 0, 32, 1000, 0, 1), 1);
    std::array<float, 34> r{};
    std::vector<vnet::Clock::time_point> asked;
    for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < 1500ms;) {
        if (card.ADResult_DV(0, 32, 1, 0, 0, r.data()) > 0) {
            ASSERT_TRUE(card.LastReadingAsked());
            EXPECT_GE(vnet::Clock::now() - *card.LastReadingAsked(), 150ms);
            asked.push_back(*card.LastReadingAsked());
        }
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_GT(asked.size(), 20u);
    EXPECT_TRUE(std::is_sorted(asked.begin(), asked.end()));
    EXPECT_LT(std::unique(asked.begin(), asked.end()) - asked.begin(), static_cast<long>(asked.size()))
        << "reads 5 ms apart on a link polled every 25 ms share answers";
    std::optional<vnet::Clock::time_point> elsewhere = vnet::Clock::now();
    std::thread([&] { elsewhere = card.LastReadingAsked(); }).join();
    EXPECT_FALSE(elsewhere) << "another thread got no reading";
}

// ---- a supervisor that sleeps between jobs ------------------------------

namespace {

// A card that notes every request it gets and answers it, except, while
// told, the first copy of each call (lost on the way) or everything.
class NotingCard {
public:
    NotingCard() {
        card_.Serve([this](const vnet::Packet& r) {
            std::lock_guard lock(m_);
            seen_.push_back(r);
            if (silent_) return Datagrams{};
            if (loseFirstCopy_ && r.op == vnet::Op::Mox_DO && ++copies_[r.seq] == 1) return Datagrams{};
            return Datagrams{ReplyTo(r, {0, 0, 0, 1, 0, 0, 0, 0})};
        });
    }
    vnet::Endpoint Address() const { return card_.Address(); }
    void LoseFirstCopies() {
        std::lock_guard lock(m_);
        loseFirstCopy_ = true;
    }
    void GoSilent() {
        std::lock_guard lock(m_);
        silent_ = true;
    }
    std::vector<vnet::Packet> Seen(vnet::Op op) {
        std::lock_guard lock(m_);
        std::vector<vnet::Packet> found;
        std::copy_if(seen_.begin(), seen_.end(), std::back_inserter(found), [op](const auto& p) { return p.op == op; });
        return found;
    }

private:
    std::mutex m_;
    std::vector<vnet::Packet> seen_;
    std::map<std::uint32_t, int> copies_;
    bool loseFirstCopy_ = false;
    bool silent_ = false;
    ScriptedCard card_; // last: its thread stops before the rest goes
};

// Heartbeats 10 s apart and no silence limit to speak of: nothing wakes the
// supervisor but what a case itself needs done.
vnet::LinkTiming Sleepy() {
    vnet::LinkTiming t;
    t.heartbeat = 10s;
    t.silenceLimit = 30s;
    t.keepFor = 300ms;
    return t;
}

struct SleepCase {
    const char* name;
    bool loseFirstCopies;
    std::function<void(RemoteCard&, NotingCard&)> run; // checks as it goes
};

void ReadInputsFor(RemoteCard& card, std::chrono::milliseconds span) {
    std::array<std::int16_t, 2> di{};
    for (const auto t0 = SteadyClock::now(); SteadyClock::now() - t0 < span;) {
        EXPECT_EQ(card.Mox_DI(2, di.data()), 1);
        std::this_thread::sleep_for(10ms);
    }
}

const std::vector<SleepCase>& SleepCases() {
    static const std::vector<SleepCase> cases{
        {"ACallIsSentAtOnce", false,
         [](RemoteCard& card, NotingCard& noted) {
             for (std::int16_t v = 0; v < 5; ++v) {
                 EXPECT_EQ(card.Mox_DO(0, v), 1);
                 std::this_thread::sleep_for(50ms); // the supervisor has nothing to do meanwhile
             }
             const auto sent = noted.Seen(vnet::Op::Mox_DO);
             ASSERT_EQ(sent.size(), 5u) << "each call sent once, answered before any resend";
             for (std::size_t i = 0; i < sent.size(); ++i)
                 EXPECT_EQ(sent[i].payload,
                           vnet::NumbersPayload<vnet::Op::Mox_DO>(std::int16_t{0}, static_cast<std::int16_t>(i)));
         }},
        {"ALostCopyIsSentAgain", true,
         [](RemoteCard& card, NotingCard& noted) {
             EXPECT_EQ(card.Mox_DO(0, 7), 1);
             const auto sent = noted.Seen(vnet::Op::Mox_DO);
             ASSERT_GE(sent.size(), 2u);
             EXPECT_EQ(sent[0].seq, sent[1].seq);
         }},
        {"ANewReadIsAskedAtOnce", false,
         [](RemoteCard& card, NotingCard& noted) {
             std::array<std::int16_t, 2> di{};
             EXPECT_EQ(card.Mox_DI(2, di.data()), 1);
             EXPECT_GE(noted.Seen(vnet::Op::Mox_DI).size(), 1u);
         }},
        {"AKeptReadIsPolled", false,
         [](RemoteCard& card, NotingCard& noted) {
             // Polls every 25 ms keep the answer fresh; reading alone would
             // ask about once per 150 ms.
             ReadInputsFor(card, 600ms);
             EXPECT_GE(noted.Seen(vnet::Op::Mox_DI).size(), 12u);
         }},
        {"AReadNobodyWantsIsDropped", false,
         [](RemoteCard& card, NotingCard& noted) {
             ReadInputsFor(card, 200ms);
             std::this_thread::sleep_for(Sleepy().keepFor + 200ms);
             const auto polled = noted.Seen(vnet::Op::Mox_DI).size();
             std::this_thread::sleep_for(300ms);
             EXPECT_EQ(noted.Seen(vnet::Op::Mox_DI).size(), polled) << "still polled after it was dropped";
         }},
    };
    return cases;
}

void PrintTo(const SleepCase& c, std::ostream* os) { *os << c.name; }

class RemoteCardAsleep : public ::testing::TestWithParam<SleepCase> {};

} // namespace

TEST_P(RemoteCardAsleep, StillDoesWhatIsDue) {
    NotingCard noted;
    if (GetParam().loseFirstCopies) noted.LoseFirstCopies();
    RemoteCard card(noted.Address(), 0, Sleepy());
    ASSERT_EQ(card.Initial(0, 0, 0, 0), 1);
    std::this_thread::sleep_for(100ms); // settled: nothing due for seconds
    GetParam().run(card, noted);
    EXPECT_TRUE(card.LinkUp());
}

INSTANTIATE_TEST_SUITE_P(Jobs, RemoteCardAsleep, ::testing::ValuesIn(SleepCases()),
                         [](const auto& c) { return std::string(c.param.name); });

// A card that stops answering is found gone at its silence limit, though
// nothing is sent in the meantime that could wake the supervisor.
TEST(RemoteCardAsleepLink, ASilentCardIsFoundGoneAtTheLimit) {
    NotingCard noted;
    vnet::LinkTiming timing = Sleepy();
    timing.silenceLimit = 300ms;
    RemoteCard card(noted.Address(), 0, timing);
    ASSERT_EQ(card.Initial(0, 0, 0, 0), 1);
    const auto answered = SteadyClock::now();
    noted.GoSilent();
    while (card.LinkUp() && SteadyClock::now() - answered < 3s) std::this_thread::sleep_for(5ms);
    const auto found = SteadyClock::now() - answered;
    EXPECT_FALSE(card.LinkUp());
    EXPECT_GE(found, timing.silenceLimit - 20ms) << "found gone before its limit";
    EXPECT_LE(found, timing.silenceLimit + 1s) << "found gone only when something else woke the supervisor";
}

namespace {

// The link's own thread, by the name it is given.
std::optional<std::string> LinkThread() {
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        if (std::getline(comm, name) && name == "mox-card-link") return task.path().string();
    }
    return std::nullopt;
}

// Context switches of a thread so far, and its CPU time in clock ticks.
std::pair<long long, long long> SwitchesAndTicks(const std::string& task) {
    std::ifstream status(task + "/status");
    long long switches = 0;
    for (std::string line; std::getline(status, line);) {
        for (const std::string key : {"voluntary_ctxt_switches:", "nonvoluntary_ctxt_switches:"}) {
            if (line.rfind(key, 0) == 0) switches += std::stoll(line.substr(key.size()));
        }
    }
    std::ifstream stat(task + "/stat");
    const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long long ticks = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i >= 14) ticks += std::stoll(field);
    }
    return {switches, ticks};
}

} // namespace

// With the card open and nothing asked, the link wakes for its heartbeats
// and their answers, which still go out at their period, and otherwise
// sleeps: no fixed tick, and no loop that never sleeps.
TEST(RemoteCardAsleepLink, AnIdleLinkWakesForItsHeartbeats) {
    NotingCard noted;
    RemoteCard card(noted.Address());
    ASSERT_EQ(card.Initial(0, 0, 0, 0), 1);
    const auto task = LinkThread();
    ASSERT_TRUE(task) << "no thread named mox-card-link";
    std::this_thread::sleep_for(200ms);
    const auto pings0 = noted.Seen(vnet::Op::Ping).size();
    const auto [switches0, ticks0] = SwitchesAndTicks(*task);
    std::this_thread::sleep_for(1s);
    const auto [switches, ticks] = SwitchesAndTicks(*task);
    const auto pings = noted.Seen(vnet::Op::Ping).size() - pings0;
    EXPECT_GE(pings, 5u) << "heartbeats every 100 ms";
    EXPECT_LE(pings, 11u) << "heartbeats every 100 ms";
    // Each heartbeat costs a wake-up to send and one for its answer.
    EXPECT_LE(switches - switches0, 4 * static_cast<long long>(pings) + 10);
    EXPECT_LE(ticks - ticks0, ::sysconf(_SC_CLK_TCK) / 4) << "the link's thread was busy a quarter of the second";
    EXPECT_TRUE(card.LinkUp());
}
