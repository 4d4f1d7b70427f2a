// The floor the platform sets: a pipe server that does nothing with a
// message. Run as a process of its own, as QorlServer.exe is, so that both
// are measured by the same client across the same process boundary. Each
// kind has a pipe name of its own so that it can run beside the server and
// be measured in alternation with it.
#pragma once

#include <windows.h>

enum FloorKind {
    PlainFloor,        // blocking connect and read
    OverlappedFloor,   // the server's pattern: overlapped, the read bounded in time
};

const WCHAR* FloorPipeName(FloorKind kind);

// Serves FloorPipeName(kind) until a client sends "exit". Exit code 0, or 1
// if the pipe could not be created.
int RunFloorServer(FloorKind kind);
