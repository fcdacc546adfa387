#include "Video/vidclass/driver_binding.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/dynamic_library.h"

namespace driver_binding {

void* OpenLibrary(const char* file_name) {
  if (void* handle = platform::LoadLibrary(file_name)) return handle;
  if (std::strchr(file_name, '/') != nullptr) return nullptr;
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return nullptr;
  return platform::LoadLibrary((program.parent_path() / file_name).c_str());
}

LoadedLibrary LoadDriverLibrary(const char* file_name, std::span<const SymbolName> names) {
  LoadedLibrary library;
  void* handle = OpenLibrary(file_name);
  if (handle == nullptr) return library;
  std::vector<void*> addresses;
  addresses.reserve(names.size());
  for (const SymbolName& symbol : names) {
    void* address = platform::GetProcAddress(handle, symbol.name);
    if (address == nullptr && symbol.called) {
      // A call through a missing entry would crash the program later; refuse
      // the whole library now instead.
      std::fprintf(stderr, "%s lacks %s; the library is not used\n", file_name, symbol.name);
      platform::FreeLibrary(handle);
      return library;
    }
    addresses.push_back(address);
  }
  library.handle = handle;
  library.addresses = std::move(addresses);
  return library;
}

void FreeDriverLibrary(void* handle) { platform::FreeLibrary(handle); }

}  // namespace driver_binding
