#include "cache/ErrorBuffer.h"
#include "cache/ErrorMessage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <set>
#include <string>
#include <thread>

namespace {

struct FreeMessage {
    void operator()(KestErrorMessage_t* message) const { FreeErrorMessage(message); }
};
using Message = std::unique_ptr<KestErrorMessage_t, FreeMessage>;

// A warning whose code makes its UID unique (codes below 2^20).
struct TestMessage {
    std::string text;
    KestErrorMessage_t message{};

    explicit TestMessage(std::uint32_t code, std::uint32_t level = 1)
        : text("message " + std::to_string(code)) {
        message.level = level;
        message.code = code;
        message.text = text.data();
    }
    const KestErrorMessage_t* get() const { return &message; }
};

TEST(ErrorBuffer, DuplicateIsQueuedOnceUntilPopped) {
    ErrorBuffer buffer;
    TestMessage a(1);
    EXPECT_TRUE(buffer.Push(a.get()));
    EXPECT_FALSE(buffer.Push(a.get()));
    EXPECT_EQ(buffer.Size(), 1u);
    EXPECT_TRUE(buffer.HaveUID(ErrorUid(a.get())));

    Message popped(buffer.Pop());
    ASSERT_NE(popped, nullptr);
    EXPECT_FALSE(buffer.HaveUID(ErrorUid(a.get())));
    EXPECT_TRUE(buffer.Push(a.get()));
    EXPECT_EQ(buffer.Size(), 1u);
}

TEST(ErrorBuffer, NewestComesOutFirst) {
    ErrorBuffer buffer;
    TestMessage a(1), b(2);
    buffer.Push(a.get());
    buffer.Push(b.get());
    Message first(buffer.Pop());
    Message second(buffer.Pop());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(first->text, "message 2");
    EXPECT_STREQ(second->text, "message 1");
    EXPECT_EQ(buffer.Pop(), nullptr);
    EXPECT_EQ(buffer.Size(), 0u);
}

TEST(ErrorBuffer, QueuesACopyNotTheCallersMessage) {
    ErrorBuffer buffer;
    TestMessage a(7, 6);
    buffer.Push(a.get());
    a.text[0] = 'M';
    a.message.level = 2;
    Message popped(buffer.Pop());
    ASSERT_NE(popped, nullptr);
    EXPECT_EQ(popped->level, 6u);
    EXPECT_STREQ(popped->text, "message 7");
    EXPECT_FALSE(buffer.Push(nullptr));
    EXPECT_EQ(buffer.Size(), 0u);
}

TEST(ErrorBuffer, FullQueueEvictsItsOldestMessage) {
    ErrorBuffer buffer;
    for (std::uint32_t code = 0; code < ErrorBuffer::kCapacity; ++code)
        ASSERT_TRUE(buffer.Push(TestMessage(code).get()));
    EXPECT_EQ(buffer.Size(), 1024u);

    TestMessage newest(5000);
    EXPECT_TRUE(buffer.Push(newest.get()));
    EXPECT_EQ(buffer.Size(), 1024u);
    EXPECT_FALSE(buffer.HaveUID(ErrorUid(TestMessage(0).get())));
    EXPECT_TRUE(buffer.HaveUID(ErrorUid(TestMessage(1).get())));

    // Draining yields the newest first and the oldest survivor (code 1) last.
    Message top(buffer.Pop());
    EXPECT_STREQ(top->text, "message 5000");
    Message last;
    while (KestErrorMessage_t* message = buffer.Pop())
        last.reset(message);
    ASSERT_NE(last, nullptr);
    EXPECT_STREQ(last->text, "message 1");
}

// An evicted message's UID used to stay in the UID set, so that message could never be
// queued again for the life of the connection.
TEST(ErrorBuffer, EvictedMessageCanBeQueuedAgain) {
    ErrorBuffer buffer;
    for (std::uint32_t code = 0; code <= ErrorBuffer::kCapacity; ++code)
        buffer.Push(TestMessage(code).get()); // code 0 is evicted by the last push
    TestMessage evicted(0);
    EXPECT_TRUE(buffer.Push(evicted.get()));
    EXPECT_TRUE(buffer.HaveUID(ErrorUid(evicted.get())));
    EXPECT_EQ(buffer.Size(), 1024u);
    Message popped(buffer.Pop());
    EXPECT_STREQ(popped->text, "message 0");
}

TEST(ErrorBuffer, PushAndPopFromTwoThreads) {
    ErrorBuffer buffer;
    constexpr std::uint32_t kMessages = 3000;
    std::atomic<bool> done{false};
    std::set<std::uint32_t> seen;
    std::size_t popped = 0;

    std::thread reader([&] {
        for (;;) {
            const bool finished = done.load();
            while (KestErrorMessage_t* message = buffer.Pop()) {
                seen.insert(message->code);
                ++popped;
                FreeErrorMessage(message);
            }
            if (finished)
                return;
            std::this_thread::yield();
        }
    });
    for (std::uint32_t code = 0; code < kMessages; ++code)
        buffer.Push(TestMessage(code).get());
    done = true;
    reader.join();

    // Each message comes out at most once; the ones not read were evicted at capacity.
    EXPECT_EQ(seen.size(), popped);
    EXPECT_LE(popped, kMessages);
    EXPECT_GE(popped, std::size_t(ErrorBuffer::kCapacity));
    EXPECT_EQ(buffer.Size(), 0u);
}

} // namespace
