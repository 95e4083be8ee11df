// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "HostBuffer.h"
#include "KYSOTypes.h"
#include "TestSnapInfo.h"

namespace {

using testhost::SnapOp;
using testhost::TestSnapInfo;

BufferGet deviceOf(TestSnapInfo& request) {
    return [&request](char* buf, int16_t& size) { return request.getDevice(buf, size); };
}

TEST(HostBufferRead, TooSmallBufferIsRegrownToTheSizeTheHostAskedFor) {
    TestSnapInfo request;
    request.device = std::string(300, 'd');
    HostBuffer buffer(16);
    std::vector<int16_t> notices;
    std::string text;
    const int answer = readHostText(buffer, deviceOf(request), text,
                                    [&](int16_t size, int) { notices.push_back(size); });
    EXPECT_EQ(answer, KYSO::BUFFER_OK);
    EXPECT_EQ(text, request.device);
    EXPECT_EQ(notices, (std::vector<int16_t>{301}));
    EXPECT_EQ(buffer.size(), 301);
    EXPECT_EQ(request.callCount(SnapOp::GetDevice), 2);
}

TEST(HostBufferRead, FailureAnswerEndsTheRead) {
    TestSnapInfo request;
    request.device = "dev";
    request.failNext(SnapOp::GetDevice);
    HostBuffer buffer(64);
    std::string text = "stale";
    EXPECT_EQ(readHostText(buffer, deviceOf(request), text), KYSO::BUFFER_FAILED);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(request.callCount(SnapOp::GetDevice), 1);
}

TEST(HostBufferRead, AnswersOutsideTheConventionFailWithoutAskingAgain) {
    for (int odd : {3, -1, 42}) {
        TestSnapInfo request;
        request.script(SnapOp::GetDevice, odd);
        HostBuffer buffer(64);
        std::string text;
        EXPECT_EQ(readHostText(buffer, deviceOf(request), text), KYSO::BUFFER_FAILED) << odd;
        EXPECT_EQ(request.callCount(SnapOp::GetDevice), 1) << odd;
    }
}

TEST(HostBufferRead, TooSmallWithZeroNegativeOrUnchangedSizeFailsInsteadOfLooping) {
    for (int16_t reported : {int16_t{0}, int16_t{-5}, int16_t{64}, int16_t{10}}) {
        TestSnapInfo request;
        request.script(SnapOp::GetDevice, KYSO::BUFFER_TOO_SMALL, reported);
        HostBuffer buffer(64);
        std::string text;
        EXPECT_EQ(readHostText(buffer, deviceOf(request), text), KYSO::BUFFER_FAILED) << reported;
        EXPECT_EQ(buffer.size(), 64) << reported;
        EXPECT_EQ(request.callCount(SnapOp::GetDevice), 1) << reported;
    }
}

TEST(HostBufferRead, HostThatAlwaysWantsMoreIsCutOffAfterBoundedRegrows) {
    int calls = 0;
    int16_t next = 32;
    BufferGet greedy = [&](char*, int16_t& size) {
        ++calls;
        next = static_cast<int16_t>(next * 2);
        size = next;
        return KYSO::BUFFER_TOO_SMALL;
    };
    HostBuffer buffer(16);
    std::string text;
    EXPECT_EQ(readHostText(buffer, greedy, text), KYSO::BUFFER_FAILED);
    EXPECT_EQ(calls, kMaxBufferRegrows + 1);
}

TEST(HostBufferRead, TextWithoutTerminatingNulIsCutAtTheBufferEnd) {
    BufferGet unterminated = [](char* buf, int16_t& size) {
        std::memset(buf, 'x', static_cast<size_t>(size));
        return KYSO::BUFFER_OK;
    };
    HostBuffer buffer(8);
    std::string text;
    EXPECT_EQ(readHostText(buffer, unterminated, text), KYSO::BUFFER_OK);
    EXPECT_EQ(text, std::string(8, 'x'));
}

}  // namespace
