#pragma once

namespace platform {

// Loads a shared library by file name on the normal search path, else from the
// program's own folder or its private library folder; null when it does not load.
void* LoadLibrary(const char* file_name);
void* GetProcAddress(void* library, const char* name);
void FreeLibrary(void* library);

}  // namespace platform
