// Waiting on real termios lines: a pseudo-terminal stands in for the serial device.
#include "host/line/SerialLine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace vemox::host {
namespace {

using Clock = std::chrono::steady_clock;

class TermiosWaitTest : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(::grantpt(master_), 0);
        ASSERT_EQ(::unlockpt(master_), 0);
        line = OpenSerialLine(::ptsname(master_), LineSettings{});
    }
    void TearDown() override { CloseMaster(); }
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }
    void Send(std::uint8_t byte) { ASSERT_EQ(::write(master_, &byte, 1), 1); }
    // Milliseconds one wait took.
    std::int64_t TimedWait(std::int64_t timeoutMs) {
        const auto start = Clock::now();
        WaitForInput({line.get()}, timeoutMs);
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    }

    std::unique_ptr<SerialLine> line;

private:
    int master_ = -1;
};

TEST_F(TermiosWaitTest, WaitsOutTheTimeoutOnASilentLine) {
    EXPECT_GE(TimedWait(40), 40);
    std::uint8_t byte = 0;
    EXPECT_EQ(line->Read(&byte, 1), 0u);
}

TEST_F(TermiosWaitTest, ReturnsAsSoonAsBytesAreThere) {
    Send(0x5A);
    EXPECT_LT(TimedWait(5000), 2000);
    std::uint8_t byte = 0;
    ASSERT_EQ(line->Read(&byte, 1), 1u);
    EXPECT_EQ(byte, 0x5A);
}

TEST_F(TermiosWaitTest, ALineWhoseFarEndIsGoneIsNotWaitedOnAgain) {
    CloseMaster();
    TimedWait(1000); // may return at once: the hang-up itself is news
    EXPECT_GE(TimedWait(40), 40) << "a hung-up line must not turn the wait into a spin";
}

TEST_F(TermiosWaitTest, WithoutWaitableLinesTheWaitIsASleep) {
    const auto start = Clock::now();
    WaitForInput({}, 40); // every device of the host missing
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(40));
}

} // namespace
} // namespace vemox::host
