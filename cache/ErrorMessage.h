// Turning the processor's error records into library messages, and classifying them.
#pragma once

#include "include/kestlib.h"
#include "protocol/KestPacket.h"

#include <cstddef>
#include <cstdint>

// A new message from a wire error record of which recordLength bytes were received.
// The text is the record's text cut to what was received (and to the text field), with
// a terminating NUL; a record too short for its head gives zero fields past the bytes
// received. Null only for a null record or when memory runs out. Free the result with
// FreeErrorMessage (kl_error_free_message for callers of the library).
KestErrorMessage_t* ErrorMessageFromKest(const KestErrorMessage* wire, std::size_t recordLength);

// The value that tells two messages apart in the queue (equal values count as the same
// message): level's low byte sign-extended, or'ed with code << 12 and the detail bytes
// shifted by 8, 6 and 4. The fields overlap on purpose; null gives 0.
std::uint32_t ErrorUid(const KestErrorMessage_t* message);

// A copy that owns its text; null for null or when memory runs out.
KestErrorMessage_t* CopyErrorMessage(const KestErrorMessage_t* message);

// Frees a message made by the functions above; null is ignored.
void FreeErrorMessage(KestErrorMessage_t* message);

// True for levels 6 and 7.
bool ErrorRequiresError(const KestErrorMessage_t* message);
