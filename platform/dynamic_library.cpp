#include "dynamic_library.h"

#include <dlfcn.h>

namespace platform {

void* LoadLibrary(const char* file_name) { return dlopen(file_name, RTLD_NOW | RTLD_LOCAL); }

void* GetProcAddress(void* library, const char* name) {
  return library == nullptr ? nullptr : dlsym(library, name);
}

void FreeLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
