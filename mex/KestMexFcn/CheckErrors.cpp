#include "mex/KestMexFcn/KestMexFcn.h"
#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

#include <memory>
#include <string>

namespace KestMexFcn {

namespace {

struct MessageFree {
    void operator()(KestErrorMessage_t* message) const { kl_error_free_message(message); }
};
using Message = std::unique_ptr<KestErrorMessage_t, MessageFree>;

} // namespace

void CheckErrors() {
    while (kl_error_check() > 0) {
        KestErrorMessage_t* taken = nullptr;
        if (kl_error_pop(&taken) != KL_SUCCESS || taken == nullptr) {
            return;
        }
        const Message message(taken);
        const std::string text = message->text != nullptr ? message->text : "";
        if (kl_error_requires_error(message.get()) != 0) {
            // The message is freed on the way out; later messages stay queued.
            throw MexError(text);
        }
        Warn(text);
    }
}

} // namespace KestMexFcn
