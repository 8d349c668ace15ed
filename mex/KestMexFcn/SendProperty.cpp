#include "mex/KestMexFcn/SendProperty.h"

#include "mex/KestMexFcn/MexError.h"

#include "client/KestSendAndRecv.h"

namespace KestMexFcn {

namespace {
constexpr unsigned kConfirmMs = 1000;
} // namespace

void SendBool(unsigned module, unsigned property, bool value) {
    if (!KestSendAndRecv(nullptr, nullptr, kConfirmMs).SendBool(module, property, value)) {
        throw MexError("failed to set property");
    }
}

void SendComboBox(KestComboBox* box, unsigned module, unsigned property) {
    if (box == nullptr ||
        !KestSendAndRecv(nullptr, nullptr, kConfirmMs).SendComboBox(*box, module, property)) {
        throw MexError("failed to set selection");
    }
}

} // namespace KestMexFcn
