#include "platform/memory_registry.h"

#include <sstream>

#include "platform/text.h"

namespace kestrin {

std::string MemoryRegistry::Canon(std::string_view path) {
  std::string p = ToLowerAscii(path);
  while (!p.empty() && p.back() == '\\') p.pop_back();
  while (!p.empty() && p.front() == '\\') p.erase(p.begin());
  return p;
}

namespace {
constexpr std::string_view kDenied = "Access is denied.";
constexpr std::string_view kNotFound = "The system cannot find the file specified.";
}  // namespace

class MemoryRegistryKey : public RegistryKey {
 public:
  MemoryRegistryKey(MemoryRegistry::Key* key, bool write) : key_(key), write_(write) {
    if (!key_) last_ = kNotFound;
  }
  bool IsOpen() const override { return key_ != nullptr; }
  bool Missing() const override { return key_ == nullptr; }
  bool HasValue(std::string_view name) override {
    return key_ && key_->values.count(ToLowerAscii(name)) > 0;
  }
  RegRead ReadString(std::string_view name, std::string* out, bool* expandable) override {
    out->clear();
    if (!key_) return RegRead::Missing;
    auto it = key_->values.find(ToLowerAscii(name));
    if (it == key_->values.end()) return last_ = kNotFound, RegRead::Missing;
    const RegValue& v = it->second.second;
    if (v.type != RegType::Sz && v.type != RegType::ExpandSz) return RegRead::WrongType;
    *out = v.data;
    if (expandable) *expandable = v.type == RegType::ExpandSz;
    return RegRead::Ok;
  }
  bool ValueNames(std::vector<std::string>* out) override {
    out->clear();
    if (!key_) return true;
    for (const auto& [lower, named] : key_->values) out->push_back(named.first);
    return true;
  }
  bool WriteString(std::string_view name, std::string_view data, bool expandable) override {
    if (!key_) return false;
    if (!write_) return last_ = kDenied, false;
    auto& slot = key_->values[ToLowerAscii(name)];
    if (slot.first.empty()) slot.first = std::string(name);
    slot.second = RegValue{expandable ? RegType::ExpandSz : RegType::Sz, std::string(data)};
    return true;
  }
  bool DeleteValue(std::string_view name) override {
    if (!key_) return false;
    if (!write_) return last_ = kDenied, false;
    if (key_->values.erase(ToLowerAscii(name)) > 0) return true;
    last_ = kNotFound;
    return false;
  }
  std::string LastError() const override { return last_; }

 private:
  MemoryRegistry::Key* key_;
  bool write_;
  std::string last_;
};

std::unique_ptr<RegistryKey> MemoryRegistry::Open(std::string_view path, RegAccess access) {
  auto it = keys_.find(Canon(path));
  Key* k = it == keys_.end() ? nullptr : &it->second;
  return std::make_unique<MemoryRegistryKey>(k, access == RegAccess::ReadWrite);
}

std::unique_ptr<RegistryKey> MemoryRegistry::Create(std::string_view path) {
  CreateKey(path);
  return Open(path, RegAccess::ReadWrite);
}

void MemoryRegistry::CreateKey(std::string_view path) {
  // Parents exist implicitly in this store; only the named key is recorded.
  std::string c = Canon(path);
  auto& k = keys_[c];
  if (k.name.empty()) {
    std::string n(path);
    while (!n.empty() && n.back() == '\\') n.pop_back();
    k.name = n;
  }
}

void MemoryRegistry::Set(std::string_view key, std::string_view name, RegType type,
                         std::string_view data) {
  CreateKey(key);
  auto& slot = keys_[Canon(key)].values[ToLowerAscii(name)];
  if (slot.first.empty()) slot.first = std::string(name);
  slot.second = RegValue{type, std::string(data)};
}

bool MemoryRegistry::Get(std::string_view key, std::string_view name, RegValue* out) const {
  auto it = keys_.find(Canon(key));
  if (it == keys_.end()) return false;
  auto v = it->second.values.find(ToLowerAscii(name));
  if (v == it->second.values.end()) return false;
  *out = v->second.second;
  return true;
}

bool MemoryRegistry::KeyExists(std::string_view key) const { return keys_.count(Canon(key)) > 0; }

bool MemoryRegistry::Remove(std::string_view key, std::string_view name) {
  auto it = keys_.find(Canon(key));
  return it != keys_.end() && it->second.values.erase(ToLowerAscii(name)) > 0;
}

bool MemoryRegistry::LoadText(std::string_view text) {
  std::istringstream in{std::string(text)};
  std::string line, key;
  bool ok = true;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[' && line.back() == ']') {
      key = line.substr(1, line.size() - 2);
      CreateKey(key);
      continue;
    }
    std::size_t q = line.find("\"=", 1);
    if (line[0] != '"' || q == std::string::npos || key.empty()) { ok = false; continue; }
    std::string name = line.substr(1, q - 1);
    std::string rest = line.substr(q + 2);
    std::size_t colon = rest.find(':');
    if (colon == std::string::npos) { ok = false; continue; }
    std::string type = rest.substr(0, colon), data = rest.substr(colon + 1);
    RegType t;
    if (type == "sz") t = RegType::Sz;
    else if (type == "expand") t = RegType::ExpandSz;
    else if (type == "dword") t = RegType::Dword;
    else if (type == "hex") t = RegType::Binary;
    else { ok = false; continue; }
    Set(key, name, t, data);
  }
  return ok;
}

std::string MemoryRegistry::DumpText() const {
  std::string out;
  for (const auto& [canon, k] : keys_) {
    out += "[" + k.name + "]\n";
    for (const auto& [lname, nv] : k.values) {
      static const char* kTypes[] = {"sz", "expand", "dword", "hex"};
      out += "\"" + nv.first + "\"=" + kTypes[int(nv.second.type)] + ":" + nv.second.data + "\n";
    }
  }
  return out;
}

}  // namespace kestrin
