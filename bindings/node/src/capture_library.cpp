#include "capture_library.h"

#include <dlfcn.h>

#include <memory>
#include <mutex>
#include <stdexcept>

namespace mivo::node {
namespace {

std::string loaderError() {
  const char* reason = dlerror();
  return reason != nullptr ? reason : "unknown reason";
}

template <typename Function>
Function symbol(void* handle, const char* name) {
  void* address = dlsym(handle, name);
  if (address == nullptr)
    throw std::runtime_error("the capture library lacks " + std::string(name) + ": " +
                             loaderError());
  return reinterpret_cast<Function>(address);
}

CaptureLibrary openLibrary(const std::string& path) {
  // RTLD_LOCAL: the library's own dependencies stay out of the host's symbol
  // space; RTLD_NOW: a broken install fails here, not at the first start.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr)
    throw std::runtime_error("cannot load the capture library " + path + ": " + loaderError() +
                             " (install it, or give its path to openCapture({ library }))");
  return {symbol<decltype(&mivo_tap_start)>(handle, "mivo_tap_start"),
          symbol<decltype(&mivo_tap_stop)>(handle, "mivo_tap_stop"),
          symbol<decltype(&mivo_capture_last_error)>(handle, "mivo_capture_last_error"), path};
}

}  // namespace

const CaptureLibrary& loadCaptureLibrary(const std::string& path) {
  static std::mutex mutex;
  static std::unique_ptr<CaptureLibrary> loaded;
  std::lock_guard lock(mutex);
  if (!loaded) loaded = std::make_unique<CaptureLibrary>(openLibrary(path));
  if (loaded->loadedFrom != path)
    throw std::runtime_error("the capture library is already loaded from " + loaded->loadedFrom +
                             ", not " + path);
  return *loaded;
}

}  // namespace mivo::node
