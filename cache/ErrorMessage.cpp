#include "cache/ErrorMessage.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

// A message whose text holds length bytes of text plus a NUL; null when out of memory.
KestErrorMessage_t* NewMessage(const char* text, std::size_t length) {
    auto* message = new (std::nothrow) KestErrorMessage_t{};
    if (!message)
        return nullptr;
    message->text = new (std::nothrow) char[length + 1];
    if (!message->text) {
        delete message;
        return nullptr;
    }
    if (length)
        std::memcpy(message->text, text, length);
    message->text[length] = '\0';
    return message;
}

} // namespace

KestErrorMessage_t* ErrorMessageFromKest(const KestErrorMessage* wire, std::size_t recordLength) {
    if (!wire)
        return nullptr;
    recordLength = std::min(recordLength, sizeof(KestErrorMessage));

    // Only the bytes that arrived are read: a short record leaves the rest of the head 0.
    std::uint8_t head[kKestErrorMessageHeadSize] = {};
    std::memcpy(head, wire, std::min(recordLength, sizeof head));
    const std::size_t received_text =
        recordLength > kKestErrorMessageHeadSize ? recordLength - kKestErrorMessageHeadSize : 0;
    const std::size_t announced_text =
        kest::LoadLe<std::uint16_t>(head + offsetof(KestErrorMessage, textLength));

    KestErrorMessage_t* message = NewMessage(wire->text, std::min(announced_text, received_text));
    if (!message)
        return nullptr;
    message->level = kest::LoadLe<std::uint32_t>(head + offsetof(KestErrorMessage, level));
    message->code = kest::LoadLe<std::uint32_t>(head + offsetof(KestErrorMessage, code));
    message->reserved = 0;
    message->detail1 = head[offsetof(KestErrorMessage, detail1)];
    message->detail2 = head[offsetof(KestErrorMessage, detail2)];
    message->detail3 = head[offsetof(KestErrorMessage, detail3)];
    return message;
}

std::uint32_t ErrorUid(const KestErrorMessage_t* message) {
    if (!message)
        return 0;
    const auto level_byte = static_cast<std::int8_t>(message->level & 0xFF);
    const auto sign_extended = static_cast<std::uint32_t>(static_cast<std::int32_t>(level_byte));
    return sign_extended | message->code << 12 | std::uint32_t(message->detail1) << 8 |
           std::uint32_t(message->detail2) << 6 | std::uint32_t(message->detail3) << 4;
}

bool ErrorRequiresError(const KestErrorMessage_t* message) {
    return message && (message->level == 6 || message->level == 7);
}

KestErrorMessage_t* CopyErrorMessage(const KestErrorMessage_t* message) {
    if (!message)
        return nullptr;
    const char* text = message->text ? message->text : "";
    KestErrorMessage_t* copy = NewMessage(text, std::strlen(text));
    if (!copy)
        return nullptr;
    copy->level = message->level;
    copy->code = message->code;
    copy->reserved = message->reserved;
    copy->detail1 = message->detail1;
    copy->detail2 = message->detail2;
    copy->detail3 = message->detail3;
    return copy;
}

void FreeErrorMessage(KestErrorMessage_t* message) {
    if (!message)
        return;
    delete[] message->text;
    delete message;
}
