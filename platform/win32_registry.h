#pragma once
#include "platform/registry.h"

namespace kestrin {
class Win32Registry : public Registry {
 public:
  std::unique_ptr<RegistryKey> Open(std::string_view path, RegAccess access) override;
  std::unique_ptr<RegistryKey> Create(std::string_view path) override;
};
}  // namespace kestrin
