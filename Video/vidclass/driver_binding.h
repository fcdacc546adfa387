#pragma once

// Binding of a camera driver library loaded at run time: one module handle and
// one typed entry per function name, looked up in a fixed order.

#include <cstddef>
#include <cstdint>
#include <span>
#include <type_traits>
#include <utility>
#include <vector>

namespace driver_binding {

// Result of a call into a driver whose library is not loaded (the driver's
// own "general failure" code).
inline constexpr int32_t kNotLoaded = -1;

// One name of a driver library. `called` marks the names the program calls:
// a library that lacks one of those is refused as a whole.
struct SymbolName {
  const char* name;
  bool called;
};

// The addresses of every name in `names` order, with the library handle; a
// null handle means not loaded, and then every address is null too.
struct LoadedLibrary {
  void* handle = nullptr;
  std::vector<void*> addresses;
};

// Loads `file_name` and looks up every name. A library that does not load, or
// lacks a called name, is freed again and reported as not loaded; the missing
// name is written as one line on standard error.
LoadedLibrary LoadDriverLibrary(const char* file_name, std::span<const SymbolName> names);
void FreeDriverLibrary(void* handle);

// One entry of a binding table: the name and where its address goes.
template <class Table>
struct Symbol {
  SymbolName name;
  void (*assign)(Table& table, void* address);
};

template <auto Member, class Table>
void AssignEntry(Table& table, void* address) {
  using Entry = std::remove_reference_t<decltype(table.*Member)>;
  table.*Member = reinterpret_cast<Entry>(address);
}

// Loads the library into `table`; returns the module handle (null: not loaded,
// `table` left all null).
template <class Table, std::size_t N>
void* BindLibrary(const char* file_name, const Symbol<Table> (&symbols)[N], Table& table) {
  SymbolName names[N];
  for (std::size_t i = 0; i < N; ++i) names[i] = symbols[i].name;
  LoadedLibrary library = LoadDriverLibrary(file_name, names);
  table = Table{};
  if (library.handle == nullptr) return nullptr;
  for (std::size_t i = 0; i < N; ++i) symbols[i].assign(table, library.addresses[i]);
  return library.handle;
}

// A driver library with its table of entries.
template <class Table>
class Library {
 public:
  template <std::size_t N>
  bool Load(const char* file_name, const Symbol<Table> (&symbols)[N]) {
    Release();
    handle_ = BindLibrary(file_name, symbols, table_);
    return handle_ != nullptr;
  }
  void Release() {
    table_ = Table{};
    FreeDriverLibrary(handle_);
    handle_ = nullptr;
  }
  bool Loaded() const { return handle_ != nullptr; }
  const Table& Entries() const { return table_; }

 private:
  void* handle_ = nullptr;
  Table table_;
};

// Calls a driver entry, or answers kNotLoaded when the library is not there.
template <class Result, class... Params, class... Args>
Result Call(Result (*entry)(Params...), Args&&... args) {
  if (entry == nullptr) return static_cast<Result>(kNotLoaded);
  return entry(std::forward<Args>(args)...);
}

}  // namespace driver_binding
