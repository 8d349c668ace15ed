// Taking the processor's messages out of the queue and registering callbacks for them.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"

#include "cache/KestCache.h"
#include "client/Connection.h"

using kestlib::Guard;
using kestlib::Initialized;

extern "C" {

KL_API int32_t kl_error_check(void) noexcept {
    if (!Initialized("kl_error_check")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    return static_cast<int32_t>(gKestCache->GetErrorBuffer().Size());
}

KL_API int32_t kl_error_pop(KestErrorMessage_t** message) noexcept {
    if (!Initialized("kl_error_pop")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (message == nullptr) {
        return KL_ERR_INVALID_PARAMETER;
    }
    return Guard([&] {
        *message = gKestCache->GetErrorBuffer().Pop();
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_error_register_callback(KestErrorCallback callback, void* user_data) noexcept {
    if (!Initialized("kl_error_register_callback")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (callback == nullptr) {
        return KL_ERR_INVALID_PARAMETER;
    }
    return Guard([&] {
        gKestCache->RegisterKestErrorCallback(callback, user_data);
        return KL_SUCCESS;
    });
}

KL_API int32_t kl_error_unregister_callback(KestErrorCallback callback, void* user_data) noexcept {
    if (!Initialized("kl_error_unregister_callback")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    if (callback == nullptr) {
        return KL_ERR_INVALID_PARAMETER;
    }
    return Guard([&] {
        gKestCache->UnregisterKestErrorCallback(callback, user_data);
        return KL_SUCCESS;
    });
}

} // extern "C"
