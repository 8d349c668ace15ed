/* Compiled as C: the public header must stand on its own in a C translation unit. */
#include "include/kestlib.h"

#include <string.h>

int kestlib_c_header_check(void);

static void on_error(void* user_data, const KestErrorMessage_t* message) {
    (void)user_data;
    (void)message;
}

/* 0 when the header's types, constants and calls behave from C as from C++. */
int kestlib_c_header_check(void) {
    char text[32];
    KestErrorMessage_t message;
    KestErrorMessage_t* copy;
    KestErrorCallback callback = on_error;
    KestConnectionPolicy policy = KL_WIRELESS_ONLY;

    if (kl_error_string(text, sizeof text, KL_ERR_OPERATOR_NOT_FOUND) != KL_SUCCESS)
        return 1;
    if (strcmp(text, "operator not found") != 0)
        return 2;
    if (KL_DEFAULT_STATUS_CONNECTION_OPTIONS->timeout_ms != 500 ||
        KL_DEFAULT_CONNECTION_OPTIONS->timeout_ms != 10000 || policy != 3)
        return 3;

    memset(&message, 0, sizeof message);
    message.level = 7;
    message.text = text;
    copy = kl_error_copy_message(&message);
    if (!copy || kl_error_requires_error(copy) != 1 || strcmp(copy->text, text) != 0)
        return 4;
    kl_error_free_message(copy);
    callback(NULL, &message);
    /* A filter description: the 148-byte head, then four coefficients per stage. */
    if (sizeof(KestFilterDesc) != 148 || KL_FILTER_DESC_SIZE(3) != 196)
        return 5;
    return 0;
}
