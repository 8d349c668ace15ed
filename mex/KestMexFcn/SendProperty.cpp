#include "mex/KestMexFcn/SendProperty.h"

#include "mex/KestMexFcn/MexError.h"

#include "lib/CommandAccess.h"

namespace KestMexFcn {

namespace {
constexpr unsigned kConfirmMs = 1000;
} // namespace

void SendBool(unsigned module, unsigned property, bool value) {
    if (!kestlib::ConfirmBool(module, property, value, kConfirmMs)) {
        throw MexError("failed to set property");
    }
}

void SendComboBox(KestComboBox* box, unsigned module, unsigned property) {
    if (box == nullptr || !kestlib::ConfirmComboBox(*box, module, property, kConfirmMs)) {
        throw MexError("failed to set selection");
    }
}

} // namespace KestMexFcn
