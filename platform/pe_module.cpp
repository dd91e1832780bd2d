#include "platform/pe_module.h"

#include <algorithm>

namespace kestrin {
namespace {

// Limits on the work one file can ask for: far above what any real module
// holds, low enough that a lying count costs nothing.
constexpr std::size_t kMaxImportModules = 4096;
constexpr std::size_t kMaxImportsTotal = 1 << 18;
constexpr std::size_t kMaxExports = 1 << 17;
constexpr std::size_t kMaxNameLength = 4096;
constexpr std::size_t kMaxPackageEntries = 1 << 16;

// Reads little-endian values from a window of bytes; a read past its end
// fails and leaves the cursor failed.
class Cursor {
 public:
  explicit Cursor(std::string_view data, std::size_t pos = 0) : data_(data), pos_(pos) {
    if (pos > data.size()) ok_ = false;
  }
  bool ok() const { return ok_; }
  std::size_t pos() const { return pos_; }
  std::size_t left() const { return ok_ ? data_.size() - pos_ : 0; }

  std::uint64_t Read(int bytes) {
    if (!ok_ || data_.size() - pos_ < static_cast<std::size_t>(bytes)) {
      ok_ = false;
      return 0;
    }
    std::uint64_t v = 0;
    for (int i = 0; i < bytes; ++i)
      v |= static_cast<std::uint64_t>(static_cast<unsigned char>(data_[pos_ + static_cast<std::size_t>(i)])) << (8 * i);
    pos_ += static_cast<std::size_t>(bytes);
    return v;
  }
  std::uint8_t U8() { return static_cast<std::uint8_t>(Read(1)); }
  std::uint16_t U16() { return static_cast<std::uint16_t>(Read(2)); }
  std::uint32_t U32() { return static_cast<std::uint32_t>(Read(4)); }
  std::uint64_t U64() { return Read(8); }
  void Skip(std::size_t n) {
    if (!ok_ || data_.size() - pos_ < n) ok_ = false;
    else pos_ += n;
  }
  // A null-terminated string of at most kMaxNameLength bytes; an
  // unterminated one fails.
  std::string CString() {
    if (!ok_) return {};
    const std::size_t limit = std::min(data_.size() - pos_, kMaxNameLength + 1);
    const std::string_view rest = data_.substr(pos_, limit);
    const std::size_t end = rest.find('\0');
    if (end == std::string_view::npos) {
      ok_ = false;
      return {};
    }
    pos_ += end + 1;
    return std::string(rest.substr(0, end));
  }

 private:
  std::string_view data_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

bool Fail(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

struct Section {
  std::uint32_t rva = 0, virtualSize = 0, rawOffset = 0, rawSize = 0;
};

struct DataDir {
  std::uint32_t rva = 0, size = 0;
};

// The headers of a module, enough to map addresses to file offsets.
struct Image {
  std::string_view bytes;
  PeMachine machine = PeMachine::I386;
  bool isDll = false;
  std::uint32_t sizeOfHeaders = 0;
  std::vector<Section> sections;
  DataDir dirs[16] = {};

  // The bytes from `rva` to the end of the file data that backs it, within
  // its section (or the headers); nothing when no file data backs it.
  std::optional<std::string_view> At(std::uint32_t rva) const {
    for (const Section& s : sections) {
      const std::uint64_t span = std::max(s.virtualSize, s.rawSize);
      if (rva < s.rva || rva - static_cast<std::uint64_t>(s.rva) >= span) continue;
      const std::uint64_t delta = rva - s.rva;
      if (delta >= s.rawSize) return std::nullopt;  // zero-filled tail: no file data
      const std::uint64_t offset = static_cast<std::uint64_t>(s.rawOffset) + delta;
      if (offset >= bytes.size()) return std::nullopt;
      const std::uint64_t avail = std::min<std::uint64_t>(s.rawSize - delta, bytes.size() - offset);
      return bytes.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(avail));
    }
    if (rva < sizeOfHeaders && rva < bytes.size())
      return bytes.substr(rva, std::min<std::size_t>(sizeOfHeaders, bytes.size()) - rva);
    return std::nullopt;
  }
  // Exactly `size` bytes at `rva`.
  std::optional<std::string_view> At(std::uint32_t rva, std::uint32_t size) const {
    auto w = At(rva);
    if (!w || w->size() < size) return std::nullopt;
    return w->substr(0, size);
  }
  std::optional<std::string> Name(std::uint32_t rva) const {
    auto w = At(rva);
    if (!w) return std::nullopt;
    Cursor c(*w);
    std::string s = c.CString();
    if (!c.ok()) return std::nullopt;
    return s;
  }
};

std::optional<Image> ParseHeaders(std::string_view bytes, std::string* why) {
  Image img;
  img.bytes = bytes;
  Cursor dos(bytes);
  if (dos.U16() != 0x5A4D) return Fail(why, "not a module (no MZ header)"), std::nullopt;
  dos.Skip(0x3C - 2);
  const std::uint32_t lfanew = dos.U32();
  if (!dos.ok()) return Fail(why, "not a module (DOS header cut short)"), std::nullopt;
  Cursor pe(bytes, std::min<std::size_t>(lfanew, bytes.size()));
  if (lfanew > bytes.size() || pe.U32() != 0x00004550)
    return Fail(why, "not a module (no PE signature)"), std::nullopt;
  const std::uint16_t machine = pe.U16();
  const std::uint16_t sectionCount = pe.U16();
  pe.Skip(12);
  const std::uint16_t optionalSize = pe.U16();
  const std::uint16_t characteristics = pe.U16();
  if (!pe.ok()) return Fail(why, "module header cut short"), std::nullopt;
  img.isDll = (characteristics & 0x2000) != 0;
  const std::size_t optionalStart = pe.pos();
  const std::uint16_t magic = pe.U16();
  if (machine == 0x014C && magic == 0x10B) img.machine = PeMachine::I386;
  else if (machine == 0x8664 && magic == 0x20B) img.machine = PeMachine::Amd64;
  else return Fail(why, "not a 32-bit or 64-bit x86 module"), std::nullopt;
  const bool plus = img.machine == PeMachine::Amd64;
  // SizeOfHeaders sits at 60 in both forms; the directory count at 92 / 108.
  Cursor opt(bytes, optionalStart + 60);
  img.sizeOfHeaders = opt.U32();
  const std::size_t countAt = plus ? 108 : 92;
  Cursor dirs(bytes, optionalStart + countAt);
  std::uint32_t dirCount = dirs.U32();
  if (!opt.ok() || !dirs.ok() || optionalSize < countAt + 4)
    return Fail(why, "optional header cut short"), std::nullopt;
  dirCount = std::min<std::uint32_t>({dirCount, 16, static_cast<std::uint32_t>((optionalSize - countAt - 4) / 8)});
  for (std::uint32_t i = 0; i < dirCount; ++i) {
    img.dirs[i].rva = dirs.U32();
    img.dirs[i].size = dirs.U32();
  }
  if (!dirs.ok()) return Fail(why, "data directories cut short"), std::nullopt;
  Cursor sec(bytes, optionalStart + optionalSize);
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    sec.Skip(8);
    Section s;
    s.virtualSize = sec.U32();
    s.rva = sec.U32();
    s.rawSize = sec.U32();
    s.rawOffset = sec.U32();
    sec.Skip(16);
    if (!sec.ok()) return Fail(why, "section table cut short"), std::nullopt;
    img.sections.push_back(s);
  }
  return img;
}

bool ReadImports(const Image& img, ModuleInfo* info, std::string* why) {
  const DataDir& dir = img.dirs[1];
  if (dir.rva == 0) return true;
  auto table = img.At(dir.rva);
  if (!table) return Fail(why, "import table outside the file");
  const int ptr = img.machine == PeMachine::Amd64 ? 8 : 4;
  const std::uint64_t ordinalFlag = 1ull << (ptr * 8 - 1);
  Cursor c(*table);
  std::size_t total = 0;
  for (;;) {
    const std::uint32_t lookup = c.U32();
    c.Skip(8);
    const std::uint32_t nameRva = c.U32();
    const std::uint32_t iat = c.U32();
    if (!c.ok()) return Fail(why, "import table not terminated");
    if (lookup == 0 && nameRva == 0 && iat == 0) break;
    if (info->imports.size() >= kMaxImportModules) return Fail(why, "too many imported modules");
    ImportedModule m;
    auto name = img.Name(nameRva);
    if (!name) return Fail(why, "imported module name unreadable");
    m.name = *name;
    auto thunks = img.At(lookup != 0 ? lookup : iat);
    if (!thunks) return Fail(why, "import lookup table outside the file");
    Cursor t(*thunks);
    for (;;) {
      const std::uint64_t entry = t.Read(ptr);
      if (!t.ok()) return Fail(why, "import lookup table not terminated");
      if (entry == 0) break;
      if (++total > kMaxImportsTotal) return Fail(why, "too many imported functions");
      ImportedFunction f;
      if (entry & ordinalFlag) {
        f.byOrdinal = true;
        f.ordinal = static_cast<std::uint16_t>(entry & 0xFFFF);
      } else {
        if (entry > 0xFFFFFFFFu) return Fail(why, "imported function name outside the file");
        auto hint = img.At(static_cast<std::uint32_t>(entry));
        if (!hint) return Fail(why, "imported function name outside the file");
        Cursor h(*hint);
        f.ordinal = h.U16();
        f.name = h.CString();
        if (!h.ok()) return Fail(why, "imported function name unreadable");
      }
      m.functions.push_back(std::move(f));
    }
    info->imports.push_back(std::move(m));
  }
  return true;
}

bool ReadExports(const Image& img, ModuleInfo* info, std::string* why) {
  const DataDir& dir = img.dirs[0];
  if (dir.rva == 0) return true;
  auto table = img.At(dir.rva, 40);
  if (!table) return Fail(why, "export table outside the file");
  Cursor c(*table);
  c.Skip(12);
  const std::uint32_t nameRva = c.U32();
  c.Skip(8);
  const std::uint32_t nameCount = c.U32();
  c.Skip(4);
  const std::uint32_t namesRva = c.U32();
  if (nameRva != 0) {
    auto name = img.Name(nameRva);
    if (!name) return Fail(why, "export module name unreadable");
    info->exportName = *name;
  }
  if (nameCount > kMaxExports) return Fail(why, "too many exported names");
  if (nameCount == 0) return true;
  auto names = img.At(namesRva, nameCount * 4);
  if (!names) return Fail(why, "exported names outside the file");
  Cursor n(*names);
  for (std::uint32_t i = 0; i < nameCount; ++i) {
    auto name = img.Name(n.U32());
    if (!name) return Fail(why, "exported name unreadable");
    info->exports.push_back(*name);
  }
  return true;
}

char AsciiUpper(char16_t c) {
  return c >= u'a' && c <= u'z' ? static_cast<char>(c - u'a' + 'A') : static_cast<char>(c);
}

// One level of the resource tree: the offset (from the tree's start) of the
// entry matching `key`, or of the first entry when `key` is null; and
// whether it leads to a further directory.
struct Entry {
  std::uint32_t offset = 0;
  bool directory = false;
};
std::optional<Entry> FindEntry(std::string_view tree, std::uint32_t dirOffset, const ResourceKey* key) {
  Cursor c(tree, dirOffset);
  c.Skip(12);
  const std::uint32_t named = c.U16();
  const std::uint32_t ids = c.U16();
  if (!c.ok()) return std::nullopt;
  for (std::uint32_t i = 0; i < named + ids; ++i) {
    const std::uint32_t nameField = c.U32();
    const std::uint32_t target = c.U32();
    if (!c.ok()) return std::nullopt;
    bool match = key == nullptr;
    if (!match && (nameField & 0x80000000u) && !key->name.empty()) {
      Cursor s(tree, nameField & 0x7FFFFFFFu);
      const std::uint16_t length = s.U16();
      match = length == key->name.size();
      for (std::size_t k = 0; match && k < length; ++k) {
        const char16_t ch = s.U16();
        match = s.ok() && ch < 0x80 && AsciiUpper(ch) == AsciiUpper(static_cast<unsigned char>(key->name[k]));
      }
    } else if (!match && !(nameField & 0x80000000u) && key->name.empty()) {
      match = nameField == key->id;
    }
    if (match) return Entry{target & 0x7FFFFFFFu, (target & 0x80000000u) != 0};
  }
  return std::nullopt;
}

std::string Utf16ToUtf8(std::string_view bytes) {
  std::string out;
  auto put = [&](std::uint32_t cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  };
  Cursor c(bytes);
  while (c.left() >= 2) {
    std::uint32_t u = c.U16();
    if (u == 0) break;
    if (u >= 0xD800 && u < 0xDC00 && c.left() >= 2) {
      Cursor peek = c;
      const std::uint32_t low = peek.U16();
      if (low >= 0xDC00 && low < 0xE000) {
        c = peek;
        put(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
        continue;
      }
    }
    put(u >= 0xD800 && u < 0xE000 ? 0xFFFD : u);
  }
  return out;
}

}  // namespace

std::optional<ModuleInfo> ReadModule(std::string_view bytes, std::string* why) {
  auto img = ParseHeaders(bytes, why);
  if (!img) return std::nullopt;
  ModuleInfo info;
  info.machine = img->machine;
  info.isDll = img->isDll;
  if (!ReadImports(*img, &info, why) || !ReadExports(*img, &info, why)) return std::nullopt;
  return info;
}

std::optional<std::string_view> FindResource(std::string_view bytes, const ResourceKey& type,
                                             const ResourceKey& name, std::string* why) {
  auto img = ParseHeaders(bytes, why);
  if (!img) return std::nullopt;
  const DataDir& dir = img->dirs[2];
  if (dir.rva == 0) return Fail(why, "no resources"), std::nullopt;
  auto tree = img->At(dir.rva);
  if (!tree) return Fail(why, "resource directory outside the file"), std::nullopt;
  // Exactly three levels: type, name, language. Each step follows one
  // entry, so a tree whose offsets loop back costs three lookups at most.
  auto t = FindEntry(*tree, 0, &type);
  if (!t || !t->directory) return Fail(why, "resource type not found"), std::nullopt;
  auto n = FindEntry(*tree, t->offset, &name);
  if (!n || !n->directory) return Fail(why, "resource not found"), std::nullopt;
  auto l = FindEntry(*tree, n->offset, nullptr);
  if (!l || l->directory) return Fail(why, "resource has no data"), std::nullopt;
  Cursor d(*tree, l->offset);
  const std::uint32_t dataRva = d.U32();
  const std::uint32_t size = d.U32();
  if (!d.ok()) return Fail(why, "resource entry outside the file"), std::nullopt;
  auto data = img->At(dataRva, size);
  if (!data) return Fail(why, "resource data outside the file"), std::nullopt;
  return data;
}

std::optional<PackageInfo> ReadPackageInfo(std::string_view resource, std::string* why) {
  Cursor c(resource);
  PackageInfo info;
  info.flags = c.U32();
  const std::uint32_t requiresCount = c.U32();
  if (!c.ok()) return Fail(why, "PACKAGEINFO cut short"), std::nullopt;
  // Each entry takes at least two bytes, which bounds a lying count.
  if (requiresCount > kMaxPackageEntries || requiresCount > c.left() / 2)
    return Fail(why, "PACKAGEINFO requires count out of range"), std::nullopt;
  for (std::uint32_t i = 0; i < requiresCount; ++i) {
    c.U8();
    info.required.push_back(c.CString());
  }
  const std::uint32_t containsCount = c.U32();
  if (!c.ok()) return Fail(why, "PACKAGEINFO requires list unreadable"), std::nullopt;
  if (containsCount > kMaxPackageEntries || containsCount > c.left() / 3)
    return Fail(why, "PACKAGEINFO contains count out of range"), std::nullopt;
  for (std::uint32_t i = 0; i < containsCount; ++i) {
    PackageUnit u;
    u.flags = c.U8();
    u.hash = c.U8();
    u.name = c.CString();
    info.contains.push_back(std::move(u));
  }
  if (!c.ok()) return Fail(why, "PACKAGEINFO contains list unreadable"), std::nullopt;
  return info;
}

std::string ReadDescription(std::string_view resource) { return Utf16ToUtf8(resource); }

std::optional<PackageModule> ReadPackageModule(std::string_view bytes, std::string* why) {
  PackageModule p;
  auto module = ReadModule(bytes, why);
  if (!module) return std::nullopt;
  if (module->machine != PeMachine::I386 || !module->isDll)
    return Fail(why, "not a 32-bit DLL"), std::nullopt;
  p.module = std::move(*module);
  auto info = FindResource(bytes, ResourceKey::Id(kRtRcdata), ResourceKey::Name("PACKAGEINFO"), why);
  if (!info) return std::nullopt;
  auto decoded = ReadPackageInfo(*info, why);
  if (!decoded) return std::nullopt;
  p.info = std::move(*decoded);
  if (auto d = FindResource(bytes, ResourceKey::Id(kRtRcdata), ResourceKey::Name("DESCRIPTION")))
    p.description = ReadDescription(*d);
  return p;
}

}  // namespace kestrin
