// SPDX-License-Identifier: GPL-3.0-or-later
// The operations a card answers, written once.
//
// A line gives the operation's name, its number on the network
// (docs/card-protocol.md), what it does to the card, the kind of its
// arguments, its parameters and the same parameters as the arguments of a
// call. Every operation returns a 32-bit status.
//
//   effect  Write    changes the card (its outputs or its acquisition): a
//                    confirmed call, run in the order it was sent
//           Query    a call that changes nothing
//           Read     changes nothing; the network link keeps it fresh
//           Command  IOCtl: what it does depends on its first request byte
//   kind    Numbers  every argument a number, carried as a 32-bit word in
//                    the order of the call; the reply is the status alone
//           Buffers  some arguments are buffers: each user has a codec of
//                    its own for it, and bounds the lengths it hands on
//
// The card interface (CardApi), the cards' override lists, the protocol's
// operation numbers, the request packing and the card server's dispatch of
// the Numbers operations, and the bridge's pass-through to a driver library
// all come from these lines. A new operation needs one line here and its
// body in each card (VirtualCard, RemoteCard, bridge::DriverModuleCard and
// the test cards that spell their bodies out); a Buffers operation also
// needs its request and reply written by hand in RemoteCard and in the card
// server (ServeName in card_server.cpp), and its bounds in the bridge.
// Numbers are never reused: a card and a driver of different builds must
// agree on them. Needs <cstdint>.
#pragma once

#define MOX_CARD_OPS(X)                                                                                                \
    X(Initial, 1, Write, Numbers, (std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d), (a, b, c, d))      \
    X(IOCtl, 2, Command, Buffers,                                                                                      \
      (std::int32_t inLen, const std::uint8_t* in, std::int32_t outLen, std::uint8_t* out), (inLen, in, outLen, out))  \
    X(StopIntr, 3, Write, Numbers, (), ())                                                                             \
    X(StartIntr, 4, Write, Numbers,                                                                                    \
      (std::int16_t rate, std::int32_t block, std::int16_t first, std::int16_t count, std::int32_t depth,              \
       std::int32_t gain, std::int16_t trigger),                                                                       \
      (rate, block, first, count, depth, gain, trigger))                                                               \
    X(GetLastADError, 5, Query, Numbers, (), ())                                                                       \
    X(ADResult_DV, 6, Read, Buffers,                                                                                   \
      (std::int32_t first, std::int32_t count, std::int32_t unit, std::int32_t mode, float n, float* results),         \
      (first, count, unit, mode, n, results))                                                                          \
    X(Mox_DA, 7, Write, Numbers, (std::int16_t channel, std::int16_t code), (channel, code))                           \
    X(Mox_DO, 8, Write, Numbers, (std::int16_t group, std::int16_t value), (group, value))                             \
    X(Mox_DOBit, 9, Write, Numbers, (std::int16_t bit, std::int16_t value), (bit, value))                              \
    X(Mox_DI, 10, Read, Buffers, (std::int32_t count, std::int16_t * inputs), (count, inputs))

// In a class derived from vcard::CardApi: the declaration of every operation.
#define MOX_CARD_OVERRIDE(name, number, effect, kind, params, args) std::int32_t name params override;
#define MOX_CARD_OVERRIDES MOX_CARD_OPS(MOX_CARD_OVERRIDE)
