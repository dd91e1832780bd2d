#include "platform/pe_module.h"

#include <algorithm>
#include <cctype>
#include <cstdint>

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
  ModuleSource* source = nullptr;
  std::uint64_t size = 0;
  PeMachine machine = PeMachine::I386;
  bool isDll = false;
  std::uint32_t sizeOfHeaders = 0;
  std::vector<Section> sections;
  DataDir dirs[16] = {};

  // Up to `limit` bytes from `rva` to the end of the file data that backs
  // it, within its section (or the headers); nothing when no file data
  // backs it.
  std::optional<std::string_view> At(std::uint64_t rva, std::size_t limit = SIZE_MAX) const {
    if (rva > 0xFFFFFFFFu) return std::nullopt;
    for (const Section& s : sections) {
      const std::uint64_t span = std::max(s.virtualSize, s.rawSize);
      if (rva < s.rva || rva - s.rva >= span) continue;
      const std::uint64_t delta = rva - s.rva;
      if (delta >= s.rawSize) return std::nullopt;  // zero-filled tail: no file data
      const std::uint64_t offset = static_cast<std::uint64_t>(s.rawOffset) + delta;
      if (offset >= size) return std::nullopt;
      const std::uint64_t avail = std::min<std::uint64_t>(s.rawSize - delta, size - offset);
      return source->Read(offset, static_cast<std::size_t>(std::min<std::uint64_t>(avail, limit)));
    }
    if (rva < sizeOfHeaders && rva < size) {
      const std::uint64_t avail = std::min<std::uint64_t>(sizeOfHeaders, size) - rva;
      return source->Read(rva, static_cast<std::size_t>(std::min<std::uint64_t>(avail, limit)));
    }
    return std::nullopt;
  }
  // Exactly `n` bytes at `rva`.
  std::optional<std::string_view> Exactly(std::uint64_t rva, std::size_t n) const {
    auto w = At(rva, n);
    if (!w || w->size() < n) return std::nullopt;
    return w;
  }
  std::optional<std::string> Name(std::uint32_t rva) const {
    auto w = At(rva, kMaxNameLength + 1);
    if (!w) return std::nullopt;
    Cursor c(*w);
    std::string s = c.CString();
    if (!c.ok()) return std::nullopt;
    return s;
  }
};

// Exactly `n` bytes at `offset` of the source.
std::optional<std::string_view> ReadExactly(ModuleSource& source, std::uint64_t offset, std::size_t n) {
  auto w = source.Read(offset, n);
  if (!w || w->size() < n) return std::nullopt;
  return w;
}

std::optional<Image> ParseHeaders(ModuleSource& source, std::string* why) {
  Image img;
  img.source = &source;
  img.size = source.Size();
  auto dosBytes = source.Read(0, 0x40);
  Cursor dos(dosBytes.value_or(std::string_view()));
  if (dos.U16() != 0x5A4D) return Fail(why, "not a module (no MZ header)"), std::nullopt;
  dos.Skip(0x3C - 2);
  const std::uint32_t lfanew = dos.U32();
  if (!dos.ok()) return Fail(why, "not a module (DOS header cut short)"), std::nullopt;
  auto peBytes = ReadExactly(source, lfanew, 24);
  Cursor pe(peBytes.value_or(std::string_view()));
  if (pe.U32() != 0x00004550) return Fail(why, "not a module (no PE signature)"), std::nullopt;
  const std::uint16_t machine = pe.U16();
  const std::uint16_t sectionCount = pe.U16();
  pe.Skip(12);
  const std::uint16_t optionalSize = pe.U16();
  const std::uint16_t characteristics = pe.U16();
  if (!pe.ok()) return Fail(why, "module header cut short"), std::nullopt;
  img.isDll = (characteristics & 0x2000) != 0;
  const std::uint64_t optionalStart = static_cast<std::uint64_t>(lfanew) + 24;
  auto optBytes = source.Read(optionalStart, std::min<std::size_t>(optionalSize, 112 + 128));
  Cursor opt(optBytes.value_or(std::string_view()));
  const std::uint16_t magic = opt.U16();
  if (machine == 0x014C && magic == 0x10B) img.machine = PeMachine::I386;
  else if (machine == 0x8664 && magic == 0x20B) img.machine = PeMachine::Amd64;
  else return Fail(why, "not a 32-bit or 64-bit x86 module"), std::nullopt;
  const bool plus = img.machine == PeMachine::Amd64;
  // SizeOfHeaders sits at 60 in both forms; the directory count at 92 / 108.
  const std::size_t countAt = plus ? 108 : 92;
  opt.Skip(60 - 2);
  img.sizeOfHeaders = opt.U32();
  Cursor dirs(optBytes.value_or(std::string_view()), std::min<std::size_t>(countAt, optBytes ? optBytes->size() : 0));
  std::uint32_t dirCount = dirs.U32();
  if (!opt.ok() || !dirs.ok() || optionalSize < countAt + 4)
    return Fail(why, "optional header cut short"), std::nullopt;
  dirCount = std::min<std::uint32_t>({dirCount, 16, static_cast<std::uint32_t>((optionalSize - countAt - 4) / 8)});
  for (std::uint32_t i = 0; i < dirCount; ++i) {
    img.dirs[i].rva = dirs.U32();
    img.dirs[i].size = dirs.U32();
  }
  if (!dirs.ok()) return Fail(why, "data directories cut short"), std::nullopt;
  if (sectionCount > kMaxSections) return Fail(why, "more sections than Windows loads"), std::nullopt;
  auto table = ReadExactly(source, optionalStart + optionalSize, 40u * sectionCount);
  if (!table) return Fail(why, "section table cut short"), std::nullopt;
  Cursor sec(*table);
  for (std::uint16_t i = 0; i < sectionCount; ++i) {
    sec.Skip(8);
    Section s;
    s.virtualSize = sec.U32();
    s.rva = sec.U32();
    s.rawSize = sec.U32();
    s.rawOffset = sec.U32();
    sec.Skip(16);
    // Windows maps no module whose sections' data runs past the file's end.
    if (s.rawSize != 0 && static_cast<std::uint64_t>(s.rawOffset) + s.rawSize > img.size)
      return Fail(why, "module cut short"), std::nullopt;
    img.sections.push_back(s);
  }
  return img;
}

// Counts the bytes of names a reader keeps, against kMaxNameBytes.
class NameBudget {
 public:
  bool Take(std::size_t n) {
    left_ = n > left_ ? 0 : left_ - n;
    return left_ > 0;
  }

 private:
  std::size_t left_ = kMaxNameBytes;
};

bool ReadImports(const Image& img, ModuleInfo* info, bool functionNames, NameBudget& budget,
                 std::string* why) {
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
    if (!budget.Take(name->size() + 1)) return Fail(why, "names larger than any module's");
    m.name = std::move(*name);
    if (!functionNames) {
      info->imports.push_back(std::move(m));
      continue;
    }
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
        auto hint = img.At(static_cast<std::uint32_t>(entry), 2 + kMaxNameLength + 1);
        if (!hint) return Fail(why, "imported function name outside the file");
        Cursor h(*hint);
        f.ordinal = h.U16();
        f.name = h.CString();
        if (!h.ok()) return Fail(why, "imported function name unreadable");
        if (!budget.Take(f.name.size() + 1)) return Fail(why, "names larger than any module's");
      }
      m.functions.push_back(std::move(f));
    }
    info->imports.push_back(std::move(m));
  }
  return true;
}

bool ReadExports(const Image& img, ModuleInfo* info, NameBudget& budget, std::string* why) {
  const DataDir& dir = img.dirs[0];
  if (dir.rva == 0) return true;
  auto table = img.Exactly(dir.rva, 40);
  if (!table) return Fail(why, "export table outside the file");
  Cursor c(*table);
  c.Skip(12);
  const std::uint32_t nameRva = c.U32();
  info->exportBase = c.U32();
  info->exportCount = c.U32();
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
  auto names = img.Exactly(namesRva, nameCount * 4u);
  if (!names) return Fail(why, "exported names outside the file");
  Cursor n(*names);
  for (std::uint32_t i = 0; i < nameCount; ++i) {
    auto name = img.Name(n.U32());
    if (!name) return Fail(why, "exported name unreadable");
    if (!budget.Take(name->size() + 1)) return Fail(why, "names larger than any module's");
    info->exports.push_back(std::move(*name));
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
std::optional<Entry> FindEntry(const Image& img, std::uint32_t treeRva, std::uint32_t dirOffset,
                               const ResourceKey* key) {
  auto head = img.Exactly(static_cast<std::uint64_t>(treeRva) + dirOffset, 16);
  if (!head) return std::nullopt;
  Cursor h(*head);
  h.Skip(12);
  const std::uint32_t count = static_cast<std::uint32_t>(h.U16()) + h.U16();
  auto entries = img.Exactly(static_cast<std::uint64_t>(treeRva) + dirOffset + 16, 8u * count);
  if (!entries) return std::nullopt;
  Cursor c(*entries);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t nameField = c.U32();
    const std::uint32_t target = c.U32();
    bool match = key == nullptr;
    if (!match && (nameField & 0x80000000u) && !key->name.empty()) {
      const std::uint64_t at = static_cast<std::uint64_t>(treeRva) + (nameField & 0x7FFFFFFFu);
      auto length = img.Exactly(at, 2);
      const std::uint16_t n = length ? Cursor(*length).U16() : 0;
      auto chars = n == key->name.size() ? img.Exactly(at + 2, 2u * n) : std::nullopt;
      match = chars.has_value();
      Cursor s(chars.value_or(std::string_view()));
      for (std::size_t k = 0; match && k < n; ++k) {
        const char16_t ch = s.U16();
        match = ch < 0x80 && AsciiUpper(ch) == AsciiUpper(static_cast<unsigned char>(key->name[k]));
      }
    } else if (!match && !(nameField & 0x80000000u) && key->name.empty()) {
      match = nameField == key->id;
    }
    if (match) return Entry{target & 0x7FFFFFFFu, (target & 0x80000000u) != 0};
  }
  return std::nullopt;
}

// The largest resource a reader takes: far above any PACKAGEINFO.
constexpr std::uint32_t kMaxResourceBytes = 16u << 20;

std::optional<std::string_view> FindResourceIn(const Image& img, const ResourceKey& type,
                                               const ResourceKey& name, std::string* why) {
  const DataDir& dir = img.dirs[2];
  if (dir.rva == 0) return Fail(why, "no resources"), std::nullopt;
  // Exactly three levels: type, name, language. Each step follows one
  // entry, so a tree whose offsets loop back costs three lookups at most.
  auto t = FindEntry(img, dir.rva, 0, &type);
  if (!t || !t->directory) return Fail(why, "resource type not found"), std::nullopt;
  auto n = FindEntry(img, dir.rva, t->offset, &name);
  if (!n || !n->directory) return Fail(why, "resource not found"), std::nullopt;
  auto l = FindEntry(img, dir.rva, n->offset, nullptr);
  if (!l || l->directory) return Fail(why, "resource has no data"), std::nullopt;
  auto entry = img.Exactly(static_cast<std::uint64_t>(dir.rva) + l->offset, 8);
  if (!entry) return Fail(why, "resource entry outside the file"), std::nullopt;
  Cursor d(*entry);
  const std::uint32_t dataRva = d.U32();
  const std::uint32_t size = d.U32();
  if (size > kMaxResourceBytes) return Fail(why, "resource larger than any package's"), std::nullopt;
  auto data = img.Exactly(dataRva, size);
  if (!data) return Fail(why, "resource data outside the file"), std::nullopt;
  return data;
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

std::optional<std::string_view> BytesSource::Read(std::uint64_t offset, std::size_t n) {
  if (offset > bytes_.size()) return std::nullopt;
  return bytes_.substr(static_cast<std::size_t>(offset), n);
}

std::optional<std::string_view> FileSource::Read(std::uint64_t offset, std::size_t n) {
  if (offset > Size()) return std::nullopt;
  n = static_cast<std::size_t>(std::min<std::uint64_t>(n, Size() - offset));
  if (n > kMaxSourceBytes - held_) return std::nullopt;
  std::string buffer(n, '\0');
  std::size_t got = 0;
  while (got < n) {
    const long long r = file_.ReadAt(static_cast<long long>(offset + got), buffer.data() + got, n - got);
    if (r < 0) return std::nullopt;
    if (r == 0) break;
    got += static_cast<std::size_t>(r);
  }
  buffer.resize(got);
  held_ += got;
  return reads_.emplace_back(std::move(buffer));
}

std::optional<ModuleHeader> ReadModuleHeader(ModuleSource& source, std::string* why) {
  auto img = ParseHeaders(source, why);
  if (!img) return std::nullopt;
  return ModuleHeader{img->machine, img->isDll};
}

bool ModuleInfo::Exports(const ImportedFunction& f) const {
  if (f.byOrdinal) return f.ordinal >= exportBase && f.ordinal - exportBase < exportCount;
  return std::find(exports.begin(), exports.end(), f.name) != exports.end();
}

std::optional<ModuleInfo> ReadModule(std::string_view bytes, std::string* why, ModuleReadOptions options) {
  BytesSource source(bytes);
  auto img = ParseHeaders(source, why);
  if (!img) return std::nullopt;
  ModuleInfo info;
  info.machine = img->machine;
  info.isDll = img->isDll;
  NameBudget budget;
  if (!ReadImports(*img, &info, options.functionNames, budget, why) || !ReadExports(*img, &info, budget, why))
    return std::nullopt;
  return info;
}

std::optional<std::string_view> FindResource(ModuleSource& source, const ResourceKey& type,
                                             const ResourceKey& name, std::string* why) {
  auto img = ParseHeaders(source, why);
  if (!img) return std::nullopt;
  return FindResourceIn(*img, type, name, why);
}

std::optional<std::string_view> FindResource(std::string_view bytes, const ResourceKey& type,
                                             const ResourceKey& name, std::string* why) {
  BytesSource source(bytes);
  return FindResource(source, type, name, why);
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

std::optional<PackageHeader> ReadPackageHeader(ModuleSource& source, std::string* why) {
  auto img = ParseHeaders(source, why);
  if (!img) return std::nullopt;
  if (!img->isDll) return Fail(why, "not a DLL"), std::nullopt;
  auto resource = FindResourceIn(*img, ResourceKey::Id(kRtRcdata), ResourceKey::Name("PACKAGEINFO"), why);
  if (!resource) return std::nullopt;
  auto info = ReadPackageInfo(*resource, why);
  if (!info) return std::nullopt;
  return PackageHeader{img->machine, std::move(*info)};
}

bool CountsAsDuplicate(const PackageUnit& unit) {
  if (unit.flags & (unit_flags::kPackage | unit_flags::kWeak)) return false;
  constexpr std::string_view kSysInit = "sysinit";
  if (unit.name.size() != kSysInit.size()) return true;
  for (std::size_t i = 0; i < kSysInit.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(unit.name[i])) != kSysInit[i]) return true;
  return false;
}

}  // namespace kestrin
