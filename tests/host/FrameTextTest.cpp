// Frames in words, as the trace and the monitor show them: what a request asks, and what a
// frame is to the request awaiting its reply.
#include "host/commission/FrameText.h"

#include <gtest/gtest.h>

namespace vemox::host {
namespace {

Bytes BodyOf(const Bytes& frame) {
    return SplitFrames(frame).front().body;
}

TEST(FrameText, RequestsInWords) {
    const std::pair<Bytes, std::string> cases[] = {
        {{0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF}, "addr 5 read net weight"},
        {{0xFF, 0x00, 0x0F, 0x42, 0x3F, 0xC3, 0xD6, 0xFF, 0xFF}, "serial 999999 read gross weight"},
        {{0xFF, 0x05, 0xC8, 0x03, 0x0F, 0xFF, 0xFF}, "addr 5 read counter 3"},
        {{0xFF, 0x27, 0xC4, 0xFF, 0xFE, 0xFF, 0xFF}, "addr 39 read inputs"}, // a stuffed checksum
        {{0xFF, 0x05, 0xD0, 0x09, 0x00, 0x1F, 0xFF, 0xFF}, "addr 5 write outputs 0x0009"},
    };
    for (const auto& [frame, words] : cases) {
        EXPECT_EQ(RequestWords(BodyOf(frame), true).value_or("none"), words) << HexText(frame);
    }
    // A wrong checksum, a reply's length, an unknown command: no request of this driver.
    for (const Bytes& frame : {Bytes{0xFF, 0x05, 0xC2, 0x87, 0xFF, 0xFF},
                               Bytes{0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF},
                               Bytes{0xFF, 0x05, 0xAA, 0xFF, 0xFF}}) {
        EXPECT_EQ(RequestWords(BodyOf(frame), true), std::nullopt) << HexText(frame);
    }
}

TEST(FrameText, WhatAFrameIsToTheRequestAwaitingItsReply) {
    const Bytes netOf5 = {0x05, 0xC2, 0x86};
    struct Case {
        Bytes frame;
        bool awaiting;
        Verdict verdict;
        std::string words;
    };
    const Case cases[] = {
        {{0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF},
         true,
         Verdict::Reply,
         "addr 5 net 12345 (0 decimals, status 0x00)"},
        {{0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4B, 0xFF, 0xFF},
         true,
         Verdict::ChecksumError,
         "addr 5 checksum error"},
        {{0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x4B, 0xFF, 0xFF},
         true,
         Verdict::ChecksumError,
         "addr 5 checksum error"},
        {{0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF}, true, Verdict::Echo, "echo of the request"},
        {{0xFF, 0x07, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF},
         true,
         Verdict::Stray,
         "stray frame from addr 7: answers another request"},
        {{0xFF, 0x05, 0xC2, 0x45, 0x23, 0x01, 0x00, 0x4A, 0xFF, 0xFF},
         false,
         Verdict::Stray,
         "stray frame from addr 5: no request awaits a reply"},
        {{0x12, 0x34}, true, Verdict::Noise, "noise (no start marker)"},
        {{0xFF, 0xFF, 0xFF}, true, Verdict::Empty, "empty frame"},
    };
    for (const Case& c : cases) {
        const Judged judged =
            JudgeFrame(c.awaiting ? &netOf5 : nullptr, SplitFrames(c.frame).front(), true);
        EXPECT_EQ(judged.verdict, c.verdict) << HexText(c.frame);
        EXPECT_EQ(judged.words, c.words) << HexText(c.frame);
    }
    // Without checksums a reply of another length than its command's is named as such.
    const Bytes plainNet = {0x05, 0xC2};
    const Judged shortReply = JudgeFrame(
        &plainNet, SplitFrames({0xFF, 0x05, 0xC2, 0x45, 0x23, 0xFF, 0xFF}).front(), false);
    EXPECT_EQ(shortReply.verdict, Verdict::WrongReply);
    EXPECT_EQ(shortReply.words, "addr 5 reply of the wrong length (4 bytes)");
}

TEST(FrameText, NoiseAheadOfAFrameIsAFrameOfItsOwn) {
    const auto frames = SplitFrames(
        {0x12, 0x34, 0xFF, 0x05, 0xC2, 0x86, 0xFF, 0xFF, 0xFF, 0x06, 0xC2, 0x83, 0xFF, 0xFF});
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_FALSE(frames[0].marked);
    EXPECT_EQ(frames[1].body, (Bytes{0x05, 0xC2, 0x86}));
    EXPECT_EQ(frames[2].raw, (Bytes{0xFF, 0x06, 0xC2, 0x83, 0xFF, 0xFF}));
}

} // namespace
} // namespace vemox::host
