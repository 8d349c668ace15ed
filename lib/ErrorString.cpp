#include "include/kestlib.h"

#include <cstdio>

namespace {

const char* StatusText(int code) {
    switch (code) {
    case KL_SUCCESS:
        return "success";
    case KL_ERR_UNKNOWN:
        return "unknown error";
    case KL_ERR_NOT_INITIALIZED:
        return "library not initialized";
    case KL_ERR_UNSUPPORTED:
        return "operation unsupported";
    case KL_ERR_NO_RESPONSE:
        return "no response";
    case KL_ERR_INVALID_ELECTRODE:
        return "invalid electrode";
    case KL_ERR_INVALID_PARAMETER:
        return "invalid parameter";
    case KL_ERR_INVALID_NETWORK:
        return "invalid network";
    case KL_ERR_OPERATOR_NOT_FOUND:
        return "operator not found";
    case KL_ERR_TRIAL_STATUS_INVALID:
        return "trial status invalid";
    default:
        return "unexpected error!";
    }
}

} // namespace

extern "C" KL_API int32_t kl_error_string(char* buffer, size_t size, int code) noexcept {
    if (buffer && size)
        std::snprintf(buffer, size, "%s", StatusText(code));
    return KL_SUCCESS;
}
