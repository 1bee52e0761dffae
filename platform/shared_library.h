// Shared libraries loaded by the names the appliance uses.
//
// A name "X.dll" stands for the shared object "libX.so" (tried as given, then in lower case).
// It is searched beside the binary that holds this library, then in each folder of the
// VEL_LIBRARY_PATH environment variable (":"-separated), then on the system's own search path.
// The name "this" is the host program itself.
#pragma once

#include <memory>
#include <string>

namespace port {

class SharedLibrary {
 public:
  // Null when the library cannot be found or loaded.
  static std::unique_ptr<SharedLibrary> Open(const std::string& name);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The address of an exported symbol, or null.
  void* Symbol(const std::string& name) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

// The file names tried for name, in order, without folders ("X.dll" -> "libX.so", "libx.so").
std::string SharedLibraryFileName(const std::string& name, bool lower_case);

}  // namespace port
