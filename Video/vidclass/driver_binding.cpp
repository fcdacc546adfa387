#include "Video/vidclass/driver_binding.h"

#include <cstdio>
#include <string>

#include "platform/dynamic_library.h"

namespace driver_binding {

LoadedLibrary LoadDriverLibrary(const char* file_name, std::span<const SymbolName> names) {
  LoadedLibrary library;
  void* handle = platform::LoadLibrary(file_name);
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
