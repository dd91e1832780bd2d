#include "tools/pewriter/package_writer.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/pe_module.h"

namespace kestrin::pe {
namespace {

constexpr std::uint32_t kSectionAlign = 0x1000;
constexpr std::uint32_t kFileAlign = 0x200;
constexpr std::uint32_t kHeadersSize = 0x400;
constexpr std::uint32_t kTextRva = 0x1000;

std::uint32_t AlignUp(std::uint64_t v, std::uint32_t a) {
  return static_cast<std::uint32_t>((v + a - 1) / a * a);
}

// A growing byte buffer with little-endian stores at given offsets.
class Buf {
 public:
  std::size_t size() const { return data_.size(); }
  const std::string& str() const { return data_; }
  std::size_t Reserve(std::size_t n) {
    const std::size_t at = data_.size();
    data_.append(n, '\0');
    return at;
  }
  std::size_t Append(std::string_view s) {
    const std::size_t at = data_.size();
    data_.append(s);
    return at;
  }
  std::size_t AppendZ(std::string_view s) {
    const std::size_t at = Append(s);
    data_ += '\0';
    return at;
  }
  void Align(std::size_t a) { data_.append((a - data_.size() % a) % a, '\0'); }
  void Put(std::size_t at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) data_[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
  void U8(std::size_t at, std::uint64_t v) { Put(at, v, 1); }
  void U16(std::size_t at, std::uint64_t v) { Put(at, v, 2); }
  void U32(std::size_t at, std::uint64_t v) { Put(at, v, 4); }
  void U64(std::size_t at, std::uint64_t v) { Put(at, v, 8); }

 private:
  std::string data_;
};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

struct DataDir {
  std::uint32_t rva = 0, size = 0;
};

// The import and export tables, laid out for a section at `base`.
struct TablesSection {
  std::string bytes;
  DataDir imports, iat, exports;
};

TablesSection BuildTables(const DllSpec& spec, std::uint32_t base) {
  const int ptr = spec.pe32plus ? 8 : 4;
  Buf b;
  TablesSection t;
  const std::size_t n = spec.imports.size();
  if (n > 0) {
    const std::size_t desc = b.Reserve((n + 1) * 20);
    std::vector<std::size_t> ilt(n), iat(n);
    for (std::size_t i = 0; i < n; ++i) ilt[i] = b.Reserve((spec.imports[i].functions.size() + 1) * ptr);
    for (std::size_t i = 0; i < n; ++i) iat[i] = b.Reserve((spec.imports[i].functions.size() + 1) * ptr);
    t.iat = {base + static_cast<std::uint32_t>(iat[0]), static_cast<std::uint32_t>(b.size() - iat[0])};
    for (std::size_t i = 0; i < n; ++i) {
      const ImportSpec& m = spec.imports[i];
      for (std::size_t j = 0; j < m.functions.size(); ++j) {
        if (m.functions[j].size() > 1 && m.functions[j][0] == '#') {
          const std::uint64_t ordinal = std::stoul(m.functions[j].substr(1)) | (1ull << (ptr * 8 - 1));
          b.Put(ilt[i] + j * ptr, ordinal, ptr);
          b.Put(iat[i] + j * ptr, ordinal, ptr);
          continue;
        }
        b.Align(2);
        const std::size_t hint = b.Reserve(2);
        b.AppendZ(m.functions[j]);
        b.Put(ilt[i] + j * ptr, base + hint, ptr);
        b.Put(iat[i] + j * ptr, base + hint, ptr);
      }
      const std::size_t name = b.AppendZ(m.module);
      b.U32(desc + i * 20 + 0, base + ilt[i]);
      b.U32(desc + i * 20 + 12, base + name);
      b.U32(desc + i * 20 + 16, base + iat[i]);
    }
    t.imports = {base + static_cast<std::uint32_t>(desc), static_cast<std::uint32_t>((n + 1) * 20)};
  }
  if (!spec.exports.empty()) {
    // The loader looks names up by binary search: they go in sorted.
    std::vector<std::string> names = spec.exports;
    std::sort(names.begin(), names.end());
    const std::size_t m = names.size();
    b.Align(4);
    const std::size_t dir = b.Reserve(40);
    const std::size_t funcs = b.Reserve(4 * m);
    const std::size_t nameRvas = b.Reserve(4 * m);
    const std::size_t ordinals = b.Reserve(2 * m);
    const std::size_t module = b.AppendZ(spec.moduleName);
    for (std::size_t i = 0; i < m; ++i) {
      const std::size_t s = b.AppendZ(names[i]);
      b.U32(funcs + 4 * i, kTextRva);
      b.U32(nameRvas + 4 * i, base + s);
      b.U16(ordinals + 2 * i, i);
    }
    b.U32(dir + 12, base + module);
    b.U32(dir + 16, 1);  // ordinal base
    b.U32(dir + 20, m);
    b.U32(dir + 24, m);
    b.U32(dir + 28, base + funcs);
    b.U32(dir + 32, base + nameRvas);
    b.U32(dir + 36, base + ordinals);
    t.exports = {base + static_cast<std::uint32_t>(dir), static_cast<std::uint32_t>(b.size() - dir)};
  }
  t.bytes = b.str();
  return t;
}

// The resource tree: RCDATA, then each name, then one language-neutral
// entry, then the data.
std::string BuildResources(const std::vector<RcdataSpec>& rcdata, std::uint32_t base) {
  std::vector<RcdataSpec> items = rcdata;
  for (RcdataSpec& r : items) r.name = Upper(r.name);
  std::sort(items.begin(), items.end(), [](const RcdataSpec& a, const RcdataSpec& b) { return a.name < b.name; });
  const std::size_t k = items.size();
  Buf b;
  const std::size_t root = b.Reserve(16 + 8);
  const std::size_t names = b.Reserve(16 + 8 * k);
  std::vector<std::size_t> langs(k), entries(k);
  for (std::size_t i = 0; i < k; ++i) langs[i] = b.Reserve(16 + 8);
  for (std::size_t i = 0; i < k; ++i) entries[i] = b.Reserve(16);
  b.U16(root + 14, 1);  // one id entry
  b.U32(root + 16, kestrin::kRtRcdata);
  b.U32(root + 20, 0x80000000u | names);
  b.U16(names + 12, k);  // named entries
  for (std::size_t i = 0; i < k; ++i) {
    const std::size_t s = b.Reserve(2);
    b.U16(s, items[i].name.size());
    for (char c : items[i].name) b.U16(b.Reserve(2), static_cast<unsigned char>(c));
    b.U32(names + 16 + 8 * i, 0x80000000u | s);
    b.U32(names + 16 + 8 * i + 4, 0x80000000u | langs[i]);
    b.U16(langs[i] + 14, 1);
    b.U32(langs[i] + 20, entries[i]);
  }
  for (std::size_t i = 0; i < k; ++i) {
    b.Align(8);
    const std::size_t data = b.Append(items[i].bytes);
    b.U32(entries[i], base + data);
    b.U32(entries[i] + 4, items[i].bytes.size());
  }
  return b.str();
}

std::uint8_t NameHash(const std::string& name) {
  std::uint8_t h = 0;
  for (char c : Upper(name)) h = static_cast<std::uint8_t>((h << 1 | h >> 7) ^ static_cast<unsigned char>(c));
  return h;
}

std::string Stem(const std::string& module) {
  const std::size_t dot = module.rfind('.');
  return dot == std::string::npos ? module : module.substr(0, dot);
}

bool WriteBytes(const std::filesystem::path& path, const std::string& bytes, std::string* error) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << bytes;
  if (f) return true;
  if (error) {
    const auto u = path.u8string();
    *error = "cannot write " + std::string(u.begin(), u.end());
  }
  return false;
}

}  // namespace

std::uint64_t ImageBaseFor(const std::string& module_name) {
  std::uint32_t h = 2166136261u;
  for (char c : Lower(module_name)) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return 0x10000000ull + static_cast<std::uint64_t>(h % 0x5000u) * 0x10000ull;
}

std::string WriteDll(const DllSpec& spec) {
  struct Sec {
    const char* name;
    std::string bytes;
    std::uint32_t rva, characteristics;
  };
  std::vector<Sec> secs;
  secs.push_back({".text", std::string(1, '\xC3'), kTextRva, 0x60000020u});
  std::uint32_t next = kTextRva + kSectionAlign;
  TablesSection tables = BuildTables(spec, next);
  DataDir resources, relocs;
  if (!tables.bytes.empty()) {
    secs.push_back({".data", tables.bytes, next, 0xC0000040u});
    next += AlignUp(tables.bytes.size(), kSectionAlign);
  }
  if (!spec.rcdata.empty()) {
    std::string r = BuildResources(spec.rcdata, next);
    resources = {next, static_cast<std::uint32_t>(r.size())};
    secs.push_back({".rsrc", std::move(r), next, 0x40000040u});
    next += AlignUp(resources.size, kSectionAlign);
  }
  {
    // One block of padding entries: the module holds no absolute address,
    // so it loads at any base, and says so.
    Buf r;
    r.Reserve(12);
    r.U32(0, kTextRva);
    r.U32(4, 12);
    relocs = {next, 12};
    secs.push_back({".reloc", r.str(), next, 0x42000040u});
    next += kSectionAlign;
  }
  const std::uint32_t imageSize = next;
  const bool plus = spec.pe32plus;
  const std::uint64_t imageBase = spec.imageBase ? spec.imageBase : ImageBaseFor(spec.moduleName);

  Buf b;
  b.Reserve(kHeadersSize);
  b.U16(0, 0x5A4D);
  b.U32(0x3C, 0x40);
  b.U32(0x40, 0x00004550);
  const std::size_t coff = 0x44;
  const std::uint16_t optionalSize = plus ? 240 : 224;
  b.U16(coff + 0, plus ? 0x8664 : 0x014C);
  b.U16(coff + 2, secs.size());
  b.U16(coff + 16, optionalSize);
  // Executable image, DLL; 32-bit machine or large-address-aware.
  b.U16(coff + 18, 0x0002 | 0x2000 | (plus ? 0x0020 : 0x0100));
  const std::size_t opt = coff + 20;
  std::uint32_t initialized = 0;
  for (const Sec& s : secs)
    if (s.characteristics & 0x40) initialized += AlignUp(s.bytes.size(), kFileAlign);
  b.U16(opt + 0, plus ? 0x20B : 0x10B);
  b.U8(opt + 2, 2);
  b.U32(opt + 4, kFileAlign);  // size of code
  b.U32(opt + 8, initialized);
  b.U32(opt + 16, 0);  // no entry point
  b.U32(opt + 20, kTextRva);
  if (plus) {
    b.U64(opt + 24, imageBase);
  } else {
    b.U32(opt + 24, secs.size() > 1 ? secs[1].rva : kTextRva);
    b.U32(opt + 28, imageBase);
  }
  b.U32(opt + 32, kSectionAlign);
  b.U32(opt + 36, kFileAlign);
  b.U16(opt + 40, plus ? 5 : 4);
  b.U16(opt + 42, plus ? 2 : 0);
  b.U16(opt + 48, plus ? 5 : 4);
  b.U16(opt + 50, plus ? 2 : 0);
  b.U32(opt + 56, imageSize);
  b.U32(opt + 60, kHeadersSize);
  b.U16(opt + 68, 2);  // Windows GUI
  std::size_t dirs;
  if (plus) {
    b.U64(opt + 72, 0x100000);
    b.U64(opt + 80, 0x1000);
    b.U64(opt + 88, 0x100000);
    b.U64(opt + 96, 0x1000);
    b.U32(opt + 108, 16);
    dirs = opt + 112;
  } else {
    b.U32(opt + 72, 0x100000);
    b.U32(opt + 76, 0x1000);
    b.U32(opt + 80, 0x100000);
    b.U32(opt + 84, 0x1000);
    b.U32(opt + 92, 16);
    dirs = opt + 96;
  }
  auto dir = [&](int index, DataDir d) {
    b.U32(dirs + 8 * static_cast<std::size_t>(index), d.rva);
    b.U32(dirs + 8 * static_cast<std::size_t>(index) + 4, d.size);
  };
  dir(0, tables.exports);
  dir(1, tables.imports);
  dir(2, resources);
  dir(5, relocs);
  dir(12, tables.iat);
  std::size_t header = opt + optionalSize;
  std::uint32_t raw = kHeadersSize;
  for (const Sec& s : secs) {
    const std::uint32_t rawSize = AlignUp(s.bytes.size(), kFileAlign);
    for (int i = 0; i < 8 && s.name[i]; ++i) b.U8(header + static_cast<std::size_t>(i), static_cast<unsigned char>(s.name[i]));
    b.U32(header + 8, s.bytes.size());
    b.U32(header + 12, s.rva);
    b.U32(header + 16, rawSize);
    b.U32(header + 20, raw);
    b.U32(header + 36, s.characteristics);
    header += 40;
    raw += rawSize;
  }
  std::string out = b.str();
  for (const Sec& s : secs) {
    out += s.bytes;
    out.append(AlignUp(s.bytes.size(), kFileAlign) - s.bytes.size(), '\0');
  }
  return out;
}

namespace {

std::string DelphiUnitName(const std::string& unit) {
  std::string name = Lower(unit);
  if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
  return name;
}

bool IsSysInit(const std::string& unit) { return Lower(unit) == "sysinit"; }

}  // namespace

std::string UnitFinalization(const std::string& unit) {
  std::string name = "@";  // built up in steps: GCC 12 warns wrongly on "@" + std::string&&
  name += DelphiUnitName(unit);
  name += "@Finalization$qqrv";
  return name;
}

std::string UnitInitialization(const std::string& unit) {
  std::string name = "@";
  name += DelphiUnitName(unit);
  name += "@initialization$qqrv";
  return name;
}

std::vector<std::string> PackageExports(const PackageSpec& spec) {
  std::vector<std::string> names = {"Finalize", "Initialize"};
  for (const PackageUnitSpec& u : spec.contains) {
    if (IsSysInit(u.name)) continue;
    names.push_back(UnitFinalization(u.name));
    names.push_back(UnitInitialization(u.name));
  }
  return names;
}

std::string PackageInfoBytes(const PackageSpec& spec) {
  Buf b;
  b.U32(b.Reserve(4), spec.flags);
  b.U32(b.Reserve(4), spec.required.size());
  for (const PackageRequirement& r : spec.required) {
    b.U8(b.Reserve(1), NameHash(r.module));
    b.AppendZ(r.module);
  }
  b.U32(b.Reserve(4), spec.contains.size());
  for (const PackageUnitSpec& u : spec.contains) {
    const std::size_t at = b.Reserve(2);
    b.U8(at, u.flags);
    b.U8(at + 1, NameHash(u.name));
    b.AppendZ(u.name);
  }
  return b.str();
}

std::string DescriptionBytes(const std::string& utf8) {
  std::u16string w;
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len == 0 || i + static_cast<std::size_t>(len) > utf8.size()) {
      w += u'\xFFFD';
      ++i;
      continue;
    }
    std::uint32_t cp = len == 1 ? c : c & (0x7F >> len);
    for (int k = 1; k < len; ++k) cp = cp << 6 | (static_cast<unsigned char>(utf8[i + static_cast<std::size_t>(k)]) & 0x3F);
    i += static_cast<std::size_t>(len);
    if (cp >= 0x10000) {
      w += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      w += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      w += static_cast<char16_t>(cp);
    }
  }
  w += u'\0';
  std::string out;
  for (char16_t ch : w) {
    out += static_cast<char>(ch & 0xFF);
    out += static_cast<char>(ch >> 8);
  }
  return out;
}

std::string WritePackage(const PackageSpec& spec) {
  DllSpec d;
  d.moduleName = spec.module;
  d.pe32plus = spec.pe32plus;
  // The units that use other modules: every unit of its own but SysInit,
  // or its own unit alone.
  std::vector<std::string> users;
  for (const PackageUnitSpec& u : spec.contains)
    if (!IsSysInit(u.name) && !(u.flags & unit_flags::kMain)) users.push_back(u.name);
  if (users.empty()) users.push_back(Stem(spec.module));
  for (std::size_t i = 0; i < users.size(); ++i)
    for (const PackageRequirement& r : spec.required) {
      const std::string used = r.units.empty() ? r.package : r.units[i % r.units.size()];
      d.imports.push_back({r.module, {UnitFinalization(used)}});
    }
  d.exports = PackageExports(spec);
  d.rcdata = {{"PACKAGEINFO", PackageInfoBytes(spec)}, {"DESCRIPTION", DescriptionBytes(spec.description)}};
  return WriteDll(d);
}

std::vector<PackageUnitSpec> PackageUnits(const std::string& package, const std::vector<std::string>& units,
                                          const std::vector<std::string>& weak) {
  std::vector<PackageUnitSpec> r;
  r.push_back({package, static_cast<std::uint8_t>(unit_flags::kMain | unit_flags::kPackage)});
  r.push_back({"SysInit", 0});
  for (const std::string& u : units) {
    const bool is_weak = std::any_of(weak.begin(), weak.end(), [&](const std::string& w) { return Lower(w) == Lower(u); });
    r.push_back({u, is_weak ? static_cast<std::uint8_t>(unit_flags::kWeak | unit_flags::kOrgWeak) : std::uint8_t{0}});
  }
  return r;
}

namespace {
constexpr const char* kDcpHeader = "Kestrin stand-in package symbols";
}

std::string DcpText(const std::string& package, const std::string& module, const std::vector<std::string>& units) {
  std::string t = std::string(kDcpHeader) + "\npackage=" + package + "\nmodule=" + module + "\n";
  for (const std::string& u : units) t += "unit=" + u + "\n";
  return t;
}

bool ReadDcpText(const std::string& text, DcpFacts* facts) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kDcpHeader) return false;
  DcpFacts f;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("module=", 0) == 0) f.module = line.substr(7);
    else if (line.rfind("unit=", 0) == 0) f.units.push_back(line.substr(5));
  }
  if (f.module.empty()) return false;
  *facts = f;
  return true;
}

std::string IdePackageNumber(const std::string& project_suffix) {
  static const std::pair<const char*, const char*> kNumbers[] = {
      {"d6", "60"}, {"d7", "70"}, {"d8", "80"}, {"d9", "90"}, {"d10", "100"}, {"d11", "100"}, {"d12", "120"}};
  for (const auto& [suffix, number] : kNumbers)
    if (Lower(project_suffix) == suffix) return number;
  return {};
}

const std::vector<std::string>& IdePackageNames() {
  static const std::vector<std::string> kNames = {
      "rtl",    "vcl",       "vclx",     "vcldb",       "dbrtl",  "designide", "adortl",
      "bdertl", "vclsmp",    "teeui",    "tee",         "teedb",  "ibxpress",  "vclactnband",
      "xmlrtl", "inet",      "vclie",    "dsnap",       "soaprtl", "vcljpg",   "dclstd",
      "dbexpress", "websnap", "webdsnap", "teepro"};
  return kNames;
}

bool WriteIdePackages(const std::filesystem::path& root, const std::string& number, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(root / "bin", ec);
  std::filesystem::create_directories(root / "lib", ec);
  const auto units_of = [](const std::string& name) -> std::vector<std::string> {
    if (name == "rtl") return {"System", "SysUtils", "Classes", "Windows", "Messages"};
    if (name == "vcl") return {"Controls", "Forms", "Graphics", "XPMan"};
    return {name + "Main"};
  };
  for (const std::string& name : IdePackageNames()) {
    PackageSpec p;
    p.module = name + number + ".bpl";
    p.pe32plus = kOwnModulesArePe32Plus;
    const bool design = name == "designide" || name.rfind("dcl", 0) == 0;
    p.flags = package_flags::kPackageModule | package_flags::kDelphi4Produced | package_flags::kNeverBuild |
              (design ? package_flags::kDesignOnly : package_flags::kRunOnly);
    std::vector<std::string> requires_;
    if (name == "vcl") requires_ = {"rtl"};
    else if (name != "rtl") requires_ = {"rtl", "vcl"};
    for (const std::string& r : requires_) p.required.push_back({r, r + number + ".bpl", units_of(r)});
    const std::vector<std::string> units = units_of(name);
    p.contains = PackageUnits(name, units, {"Windows", "Messages", "XPMan"});
    p.description = "Stand-in of the IDE package " + name;
    if (!WriteBytes(root / "bin" / p.module, WritePackage(p), error) ||
        !WriteBytes(root / "lib" / (name + ".dcp"), DcpText(name, p.module, units), error))
      return false;
  }
  return true;
}

}  // namespace kestrin::pe
