#include "cache/ErrorMessage.h"
#include "include/kestlib.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct FreeMessage {
    void operator()(KestErrorMessage_t* message) const { FreeErrorMessage(message); }
};
using Message = std::unique_ptr<KestErrorMessage_t, FreeMessage>;

// An error record laid out byte by byte as the processor sends it.
std::vector<std::uint8_t> wire_record(std::uint32_t level, std::uint32_t code,
                                      const std::string& text, std::uint16_t announced) {
    std::vector<std::uint8_t> bytes(kKestErrorMessageHeadSize + text.size());
    bytes[0] = 1;
    bytes[1] = 0x55; // type byte is not looked at
    for (int i = 0; i < 4; ++i) {
        bytes[4 + i] = std::uint8_t(level >> (8 * i));
        bytes[8 + i] = std::uint8_t(code >> (8 * i));
    }
    bytes[12] = 0xEE; // reserved on the wire, 0 in the message
    bytes[13] = 0x11;
    bytes[14] = 0x22;
    bytes[15] = 0x33;
    bytes[18] = std::uint8_t(announced);
    bytes[19] = std::uint8_t(announced >> 8);
    std::memcpy(bytes.data() + kKestErrorMessageHeadSize, text.data(), text.size());
    return bytes;
}

Message from_wire(const std::vector<std::uint8_t>& bytes, std::size_t length) {
    // Copy into a buffer of exactly `length` bytes so that reading past it is caught by
    // the address sanitizer.
    auto exact = std::make_unique<std::uint8_t[]>(length ? length : 1);
    std::memcpy(exact.get(), bytes.data(), std::min(length, bytes.size()));
    return Message(
        ErrorMessageFromKest(reinterpret_cast<const KestErrorMessage*>(exact.get()), length));
}

TEST(ErrorMessageFromWire, ReadsEveryFieldAtItsOffset) {
    auto bytes = wire_record(0x01020306, 0xA0B0C0D0, "stim overload", 13);
    Message message = from_wire(bytes, bytes.size());
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->level, 0x01020306u);
    EXPECT_EQ(message->code, 0xA0B0C0D0u);
    EXPECT_EQ(message->reserved, 0);
    EXPECT_EQ(message->detail1, 0x11);
    EXPECT_EQ(message->detail2, 0x22);
    EXPECT_EQ(message->detail3, 0x33);
    EXPECT_STREQ(message->text, "stim overload");
}

TEST(ErrorMessageFromWire, TextIsCutToTheAnnouncedLength) {
    auto bytes = wire_record(5, 1, "abcdefgh", 3);
    Message message = from_wire(bytes, bytes.size());
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message->text, "abc");
}

TEST(ErrorMessageFromWire, EmptyTextIsAnEmptyStringNotNull) {
    auto bytes = wire_record(5, 1, "", 0);
    Message message = from_wire(bytes, bytes.size());
    ASSERT_NE(message, nullptr);
    ASSERT_NE(message->text, nullptr);
    EXPECT_STREQ(message->text, "");
}

// A record announcing more text than the packet carried used to be copied for the full
// announced length, reading past the received bytes.
TEST(ErrorMessageFromWire, TextLongerThanTheBytesReceivedIsCutToThem) {
    auto bytes = wire_record(6, 2, "overrun", 900);
    Message message = from_wire(bytes, bytes.size());
    ASSERT_NE(message, nullptr);
    EXPECT_STREQ(message->text, "overrun");

    Message shorter = from_wire(bytes, kKestErrorMessageHeadSize + 4);
    ASSERT_NE(shorter, nullptr);
    EXPECT_STREQ(shorter->text, "over");
}

TEST(ErrorMessageFromWire, RecordShorterThanItsHeadLeavesMissingFieldsZero) {
    auto bytes = wire_record(7, 0xFFFFFFFF, "text", 4);
    Message message = from_wire(bytes, 10); // level whole, code half, no details
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->level, 7u);
    EXPECT_EQ(message->code, 0xFFFFu);
    EXPECT_EQ(message->detail1, 0);
    EXPECT_EQ(message->detail3, 0);
    EXPECT_STREQ(message->text, "");

    Message empty = from_wire(bytes, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->level, 0u);
    EXPECT_STREQ(empty->text, "");
}

TEST(ErrorMessageFromWire, LongestTextFitsAndLengthBeyondTheRecordIsCapped) {
    std::string longest(kKestErrorTextMax, 'x');
    auto bytes = wire_record(4, 3, longest, 0xFFFF);
    Message message = from_wire(bytes, bytes.size() + 100); // claims more than a record
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(std::strlen(message->text), kKestErrorTextMax);
}

TEST(ErrorMessageFromWire, NullRecordGivesNull) {
    EXPECT_EQ(ErrorMessageFromKest(nullptr, 100), nullptr);
}

KestErrorMessage_t make(std::uint32_t level, std::uint32_t code, std::uint8_t d1, std::uint8_t d2,
                        std::uint8_t d3, char* text) {
    KestErrorMessage_t message{};
    message.level = level;
    message.code = code;
    message.detail1 = d1;
    message.detail2 = d2;
    message.detail3 = d3;
    message.text = text;
    return message;
}

TEST(ErrorUid, CombinesTheFieldsAsTheyOverlap) {
    char text[] = "";
    auto message = make(6, 1, 2, 3, 4, text);
    EXPECT_EQ(ErrorUid(&message), 6u | 1u << 12 | 2u << 8 | 3u << 6 | 4u << 4);

    // The level's low byte is sign-extended: 0x80 and above fill the upper bits.
    auto high = make(0x1FF, 0x7, 0, 0, 0, text);
    EXPECT_EQ(ErrorUid(&high), 0xFFFFFFFFu);
    auto only_low_byte = make(0x301, 0, 0, 0, 0, text);
    EXPECT_EQ(ErrorUid(&only_low_byte), 1u);

    // Overlapping fields make different messages equal.
    auto a = make(0, 0, 1, 0, 0, text);  // 1 << 8
    auto b = make(0, 0, 0, 0, 16, text); // 16 << 4
    EXPECT_EQ(ErrorUid(&a), ErrorUid(&b));
    EXPECT_EQ(ErrorUid(nullptr), 0u);
}

TEST(ErrorLevel, LevelsSixAndSevenAreErrors) {
    char text[] = "x";
    for (std::uint32_t level : {0u, 1u, 5u, 8u, 0x106u}) {
        auto message = make(level, 0, 0, 0, 0, text);
        EXPECT_FALSE(ErrorRequiresError(&message)) << level;
    }
    for (std::uint32_t level : {6u, 7u}) {
        auto message = make(level, 0, 0, 0, 0, text);
        EXPECT_TRUE(ErrorRequiresError(&message));
    }
    EXPECT_FALSE(ErrorRequiresError(nullptr));
}

TEST(ErrorCopy, CopiesEveryFieldAndOwnsItsText) {
    char text[] = "front end lost";
    auto message = make(7, 42, 1, 2, 3, text);
    message.reserved = 9;
    Message copy(CopyErrorMessage(&message));
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->level, 7u);
    EXPECT_EQ(copy->code, 42u);
    EXPECT_EQ(copy->reserved, 9);
    EXPECT_EQ(copy->detail1, 1);
    EXPECT_EQ(copy->detail2, 2);
    EXPECT_EQ(copy->detail3, 3);
    EXPECT_NE(copy->text, text);
    text[0] = 'F';
    EXPECT_STREQ(copy->text, "front end lost");

    auto no_text = make(1, 1, 0, 0, 0, nullptr);
    Message empty(CopyErrorMessage(&no_text));
    ASSERT_NE(empty, nullptr);
    EXPECT_STREQ(empty->text, "");

    EXPECT_EQ(CopyErrorMessage(nullptr), nullptr);
    FreeErrorMessage(nullptr); // ignored
}

} // namespace
