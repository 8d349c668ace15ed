// Confirmed writes of one property value on behalf of a command. A write that the processor
// does not confirm within a second ends the command with "failed to set property" or
// "failed to set selection" (thrown as MexError).
#pragma once

#include "protocol/KestPacket.h"

namespace KestMexFcn {

void SendBool(unsigned module, unsigned property, bool value);
void SendComboBox(KestComboBox* box, unsigned module, unsigned property);

} // namespace KestMexFcn
