// The open connection's cache and configuration sender: one of each per process, made by the
// link when a connection opens (links/OperNetwork.cpp) and destroyed when it shuts down;
// null while no connection is open.
#pragma once

class KestCache;
class KestClient;

extern KestCache* gKestCache;
extern KestClient* gKestClient;
