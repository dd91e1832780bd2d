#include <windows.h>

#include "platform/text.h"

namespace kestrin {

std::wstring Widen(std::string_view s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

std::string Narrow(std::wstring_view w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::string GbkToUtf8(std::string_view gbk) {
  if (gbk.empty()) return {};
  int n = MultiByteToWideChar(936, 0, gbk.data(), int(gbk.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(936, 0, gbk.data(), int(gbk.size()), w.data(), n);
  return Narrow(w);
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::wstring w = Widen(utf8);
  if (w.empty()) return {};
  int n = WideCharToMultiByte(936, 0, w.data(), int(w.size()), nullptr, 0, "?", nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(936, 0, w.data(), int(w.size()), s.data(), n, "?", nullptr);
  return s;
}

}  // namespace kestrin
