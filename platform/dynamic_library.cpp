#include "dynamic_library.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>

namespace platform {
namespace {

// The folder of the running program, where the build puts the stand-in drivers.
std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::path() : program.parent_path();
}

}  // namespace

void* LoadLibrary(const char* file_name) {
  // The system's own search path first, so that a real driver installed on
  // the system is used before the stand-ins that come with the program.
  if (void* handle = dlopen(file_name, RTLD_NOW | RTLD_LOCAL)) return handle;
  if (std::strchr(file_name, '/') != nullptr) return nullptr;
  const std::filesystem::path folder = ProgramFolder();
  if (folder.empty()) return nullptr;
  // The build puts the stand-ins beside the program (under AddressSanitizer
  // dlopen is called from the sanitizer runtime, so the run path $ORIGIN is
  // not searched); an installed program keeps them in its private library
  // folder, which no run path names: a run path would be searched before the
  // system's folders.
  for (const std::filesystem::path& candidate :
       {folder, (folder / STEREO_PRIVATE_LIBRARY_DIR).lexically_normal()}) {
    if (void* handle = dlopen((candidate / file_name).c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
  }
  return nullptr;
}

void* GetProcAddress(void* library, const char* name) {
  return library == nullptr ? nullptr : dlsym(library, name);
}

void FreeLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
