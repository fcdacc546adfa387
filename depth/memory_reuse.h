#pragma once

// Maps and the steps' work images of a few MiB each are made and freed at
// the camera's rate. By default the C library hands such blocks back to the
// system as soon as they are freed, and the next map takes its pages again
// one fault at a time (a third of the filling's time). Keeps them for reuse:
// blocks up to 32 MiB come from the heap, and up to 64 MiB of freed heap is
// kept. Once for the process; later calls do nothing.
namespace depth {
void ReuseFreedMemory();
}
