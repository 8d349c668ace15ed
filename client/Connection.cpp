#include "client/Connection.h"

KestCache* gKestCache = nullptr;
KestClient* gKestClient = nullptr;
