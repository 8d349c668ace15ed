#include "transport/NetworkBase.h"

namespace Network {

NetworkBase::~NetworkBase() = default;

} // namespace Network
