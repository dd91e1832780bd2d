#include <iconv.h>

#include <cerrno>
#include <string>

#include "platform/text.h"

namespace kestrin {
namespace {

// Runs iconv over the whole input; on a byte it cannot convert it emits
// `bad` and skips one input byte.
std::string Convert(const char* to, const char* from, std::string_view in, std::string_view bad,
                    std::size_t skip_unit) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  out.reserve(in.size() * 3 / 2 + 16);
  char* src = const_cast<char*>(in.data());
  std::size_t left = in.size();
  char buf[8192];
  while (left > 0) {
    char* dst = buf;
    std::size_t room = sizeof buf;
    std::size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf, static_cast<std::size_t>(dst - buf));
    if (r == static_cast<std::size_t>(-1)) {
      if (errno == E2BIG) continue;
      // EILSEQ or EINVAL (truncated sequence at the end): replace and skip.
      out.append(bad);
      std::size_t n = std::min(left, skip_unit);
      // For UTF-8 input skip the whole (possibly broken) character.
      if (skip_unit > 1) {
        n = 1;
        while (n < left && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) ++n;
      }
      src += n;
      left -= n;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
  }
  iconv_close(cd);
  return out;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) { return Convert("UTF-8", "GBK", gbk, "\xEF\xBF\xBD", 1); }
std::string Utf8ToGbk(std::string_view utf8) { return Convert("GBK", "UTF-8", utf8, "?", 4); }

}  // namespace kestrin
