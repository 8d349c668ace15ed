// The recording trial of an operator: kl_trial and its record form kl_trial2.
#include "include/kestlib.h"
#include "lib/LibraryGuard.h"
#include "lib/TrialRules.h"

#include "cache/KestCache.h"
#include "client/KestClient.h"
#include "links/OperAddress.h"
#include "links/OperRegistry.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

using kestlib::Guard;
using kestlib::Initialized;
using kestlib::TrialRequest;
using Network::OperNetwork::kNoEndpoint;

namespace {

using Clock = std::chrono::steady_clock;
using Descriptor = std::unique_ptr<KestRecordingTrialDescriptor>;

// How long an operator has to answer a request for its descriptor (the ten 200 ms tries and
// the two pauses of 100 and 50 ms that the request was once made in), and how often the
// cache is looked at meanwhile.
constexpr auto kAnswerWait = std::chrono::milliseconds(2150);
constexpr auto kAnswerPoll = std::chrono::milliseconds(5);
// Time the operator gets to act on a change before it is asked for its descriptor again.
constexpr auto kChangePause = std::chrono::milliseconds(100);

// Field sizes of the descriptor's texts.
constexpr std::size_t kFileBaseSize = sizeof(KestRecordingTrialDescriptor::fileName);
constexpr std::size_t kErrorSize = sizeof(KestRecordingTrialDescriptor::errorMessage);

// Which of the three numbers a setting index holds.
enum Setting { kStopTime = 0, kAutoIncr = 1, kIncrNum = 2 };

struct Outputs {
    char* status;
    int statusSize;
    char* fileBase;
    int fileBaseSize;
    char* error;
    int errorSize;
    int* numbers[3];

    void Empty() const {
        for (auto [text, size] : {std::pair{status, statusSize}, std::pair{fileBase, fileBaseSize},
                                  std::pair{error, errorSize}}) {
            if (text != nullptr && size > 0) {
                text[0] = '\0';
            }
        }
        for (int* number : numbers) {
            if (number != nullptr) {
                *number = 0;
            }
        }
    }
};

// Copies at most `length` bytes of a text (less when it ends sooner) into an output that is
// wanted (non-null, size above 0).
void CopyOut(char* out, int size, const char* text, std::size_t length) {
    if (out != nullptr && size > 0) {
        kestlib::CopyText(out, size, text, length);
    }
}

// Forgets the cached descriptor of `id`, sends `change` when there is one, asks for the
// descriptor and waits for the operator's answer. The descriptor is forgotten before
// anything is sent, so the answer found is one sent after this call began.
std::int32_t Exchange(std::uint32_t id, const KestRecordingTrialDescriptor* change,
                      Descriptor* answer) {
    gKestCache->ResetTrialDescriptor(id);
    if (change != nullptr) {
        if (!gKestClient->SendTrialDesc(id, change)) {
            return KL_ERR_OPERATOR_NOT_FOUND;
        }
        std::this_thread::sleep_for(kChangePause);
    }
    if (!gKestClient->SendTrialDesc(id, nullptr)) {
        return KL_ERR_OPERATOR_NOT_FOUND;
    }
    const auto deadline = Clock::now() + kAnswerWait;
    for (;;) {
        *answer = gKestCache->GetTrialDescriptor(id);
        if (*answer != nullptr) {
            return KL_SUCCESS;
        }
        if (!oper::OperIsValid(id)) {
            return KL_ERR_OPERATOR_NOT_FOUND; // the connection went while we waited
        }
        if (Clock::now() >= deadline) {
            return KL_ERR_NO_RESPONSE;
        }
        std::this_thread::sleep_for(kAnswerPoll);
    }
}

std::int32_t Trial(int operatorId, const char* status, const char* fileBase, const int* numbers[3],
                   const Outputs& out) {
    const TrialRequest request = kestlib::ReadTrialRequest(status);
    if (request == TrialRequest::Invalid) {
        return KL_ERR_TRIAL_STATUS_INVALID;
    }
    if (gKestClient == nullptr) {
        return KL_ERR_NOT_INITIALIZED;
    }
    // Ids travel as int: an operator's id (host part 128 and above) is negative there.
    std::uint32_t id = static_cast<std::uint32_t>(operatorId);
    if (operatorId == 0) {
        id = oper::OperFirstKestClient();
    }
    if (id == kNoEndpoint || !oper::OperIsValid(id)) {
        return KL_ERR_OPERATOR_NOT_FOUND;
    }

    Descriptor desc;
    std::int32_t result = Exchange(id, nullptr, &desc);
    if (result != KL_SUCCESS) {
        return result;
    }
    CopyOut(out.error, out.errorSize, desc->errorMessage, kErrorSize);

    bool changed = request != TrialRequest::None;
    if (changed) {
        const std::int32_t before = desc->Status();
        desc->SetStatus(kestlib::ApplyTrialRequest(before, request));
        if (desc->Status() == kKestTrialStartRequested && before == kKestTrialStopped) {
            desc->SetStartCleared(0);
        }
    }
    if (fileBase != nullptr) {
        // The caller's text ends at its terminator; at most 511 characters are kept.
        const std::size_t length = strnlen(fileBase, kFileBaseSize - 1);
        std::memset(desc->fileName, 0, kFileBaseSize);
        std::memcpy(desc->fileName, fileBase, length);
        changed = true;
    }
    for (int which : {kStopTime, kAutoIncr, kIncrNum}) {
        if (numbers[which] != nullptr) {
            desc->SetSetting(which, *numbers[which]);
            changed = true;
        }
    }
    if (changed) {
        const KestRecordingTrialDescriptor change = *desc;
        result = Exchange(id, &change, &desc);
        if (result != KL_SUCCESS) {
            return result;
        }
    }

    CopyOut(out.fileBase, out.fileBaseSize, desc->fileName, kFileBaseSize);
    CopyOut(out.error, out.errorSize, desc->errorMessage, kErrorSize);
    for (int which : {kStopTime, kAutoIncr, kIncrNum}) {
        if (out.numbers[which] != nullptr) {
            *out.numbers[which] = desc->Setting(which);
        }
    }
    const char* text = kestlib::TrialStatusText(desc->Status());
    if (text == nullptr) {
        return KL_ERR_TRIAL_STATUS_INVALID;
    }
    CopyOut(out.status, out.statusSize, text, std::strlen(text));
    return KL_SUCCESS;
}

} // namespace

extern "C" {

KL_API int32_t kl_trial(int operator_id, const char* status, const char* file_base,
                        const int* stop_time, const int* auto_incr, const int* incr_num,
                        char* status_out, int status_out_size, char* file_base_out,
                        int file_base_out_size, char* error_out, int error_out_size,
                        int* stop_time_out, int* auto_incr_out, int* incr_num_out) noexcept {
    const Outputs out{status_out,
                      status_out_size,
                      file_base_out,
                      file_base_out_size,
                      error_out,
                      error_out_size,
                      {stop_time_out, auto_incr_out, incr_num_out}};
    out.Empty();
    if (!Initialized("kl_trial")) {
        return KL_ERR_NOT_INITIALIZED;
    }
    const int* numbers[3] = {stop_time, auto_incr, incr_num};
    return Guard([&] { return Trial(operator_id, status, file_base, numbers, out); });
}

KL_API int32_t kl_trial2(int operator_id, const KestTrialParams* outputs,
                         const KestTrialParams* inputs) noexcept {
    const KestTrialParams none{};
    const KestTrialParams& in = inputs != nullptr ? *inputs : none;
    const KestTrialParams& out = outputs != nullptr ? *outputs : none;
    return kl_trial(operator_id, in.status, in.file_base, in.stop_time, in.auto_incr, in.incr_num,
                    out.status, out.status_size, out.file_base, out.file_base_size,
                    out.error_message, out.error_message_size, out.stop_time, out.auto_incr,
                    out.incr_num);
}

} // extern "C"
