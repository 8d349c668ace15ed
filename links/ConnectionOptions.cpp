#include "include/kestlib.h"

namespace {

constexpr KestConnectionOptions kStatusOptions{KL_PREFER_WIRED, 0, 500};
constexpr KestConnectionOptions kConnectionOptions{KL_PREFER_WIRED, 0, 10000};

} // namespace

extern "C" {
const KestConnectionOptions* const KL_DEFAULT_STATUS_CONNECTION_OPTIONS = &kStatusOptions;
const KestConnectionOptions* const KL_DEFAULT_CONNECTION_OPTIONS = &kConnectionOptions;
}
