// Marks the transport classes and calls that programs loading the shared library may use.
// Everything else keeps the hidden visibility the build gives by default.
#pragma once

#define KEST_NETWORK_API __attribute__((visibility("default")))
