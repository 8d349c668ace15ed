// The public calls on processor error messages; the messages are made and freed by the
// cache's error queue.
#include "cache/ErrorMessage.h"
#include "include/kestlib.h"

extern "C" {

KL_API KestErrorMessage_t* kl_error_copy_message(const KestErrorMessage_t* message) noexcept {
    return CopyErrorMessage(message);
}

KL_API void kl_error_free_message(KestErrorMessage_t* message) noexcept {
    FreeErrorMessage(message);
}

KL_API int32_t kl_error_requires_error(const KestErrorMessage_t* message) noexcept {
    return ErrorRequiresError(message) ? 1 : 0;
}

} // extern "C"
