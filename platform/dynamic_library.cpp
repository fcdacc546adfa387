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
  if (void* handle = dlopen(file_name, RTLD_NOW | RTLD_LOCAL)) return handle;
  // Under AddressSanitizer dlopen is called from the sanitizer runtime, so the
  // program's run path ($ORIGIN) is not searched; search that folder here.
  if (std::strchr(file_name, '/') != nullptr) return nullptr;
  const std::filesystem::path folder = ProgramFolder();
  if (folder.empty()) return nullptr;
  return dlopen((folder / file_name).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* GetProcAddress(void* library, const char* name) {
  return library == nullptr ? nullptr : dlsym(library, name);
}

void FreeLibrary(void* library) {
  if (library != nullptr) dlclose(library);
}

}  // namespace platform
