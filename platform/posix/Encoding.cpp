#include "platform/Encoding.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace platform {
namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD in UTF-8
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

/// One iconv conversion descriptor, closed when it goes away.
class Converter {
 public:
  Converter(const std::string& from, const std::string& to)
      : handle_(::iconv_open(to.c_str(), from.c_str())) {
    if (handle_ == kNoConverter) {
      throw std::runtime_error("no conversion from " + from + " to " + to + ": " +
                               std::strerror(errno));
    }
  }
  ~Converter() { ::iconv_close(handle_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  /// Converts `input`. At a sequence the conversion refuses, `onRefused` appends its substitute
  /// to the output and returns how many input bytes it stands for.
  template <typename OnRefused>
  std::string convert(std::string_view input, OnRefused onRefused) {
    std::string out;
    char* in = const_cast<char*>(input.data());  // iconv never writes through it
    size_t inLeft = input.size();
    while (inLeft > 0) {
      if (step(&in, &inLeft, out)) continue;
      if (errno != EILSEQ && errno != EINVAL) fail();
      size_t skipped = onRefused(std::string_view(in, inLeft), errno == EINVAL, out);
      in += skipped;
      inLeft -= skipped;
    }
    // Returns a stateful target to its initial shift state.
    while (!step(nullptr, nullptr, out)) {
      if (errno != E2BIG) fail();
    }
    return out;
  }

 private:
  /// One iconv call into a fixed buffer; true when it went without a refusal (a full buffer
  /// counts as going on).
  bool step(char** in, size_t* inLeft, std::string& out) {
    char buffer[4096];
    char* next = buffer;
    size_t room = sizeof buffer;
    size_t result = ::iconv(handle_, in, inLeft, &next, &room);
    int error = errno;
    out.append(buffer, static_cast<size_t>(next - buffer));
    errno = error;
    return result != static_cast<size_t>(-1) || (error == E2BIG && in != nullptr);
  }

  [[noreturn]] static void fail() {
    throw std::runtime_error(std::string("text conversion failed: ") + std::strerror(errno));
  }

  iconv_t handle_;
};

/// Length of the UTF-8 sequence that begins with `lead` (1 for a stray byte).
size_t utf8Length(unsigned char lead) {
  if (lead >= 0xF0) return 4;
  if (lead >= 0xE0) return 3;
  if (lead >= 0xC0) return 2;
  return 1;
}

/// The length of the well-formed UTF-8 sequence at the start of `text`: 0 when it is malformed
/// (overlong, a surrogate, past U+10FFFF, a stray or missing continuation byte), and -1 when it
/// is cut off by the end of `text`.
int utf8SequenceAt(std::string_view text) {
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  const int length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
  if (length == 0) return 0;
  std::uint32_t point = lead & (0x7F >> length);
  for (int k = 1; k < length; ++k) {
    if (static_cast<size_t>(k) >= text.size()) return -1;
    const auto next = static_cast<unsigned char>(text[k]);
    if ((next & 0xC0) != 0x80) return 0;
    point = (point << 6) | (next & 0x3F);
  }
  constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  const bool valid =
      point >= kLeast[length] && point <= 0x10FFFF && (point < 0xD800 || point > 0xDFFF);
  return valid ? length : 0;
}

/// `bytes` with every malformed sequence replaced, as the conversions below do it: U+FFFD per
/// bad byte, one for a sequence cut off by the end. Done here because glibc's own UTF-8 decoder
/// lets sequences past U+10FFFF through.
std::string wellFormedUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  while (!bytes.empty()) {
    const int length = utf8SequenceAt(bytes);
    if (length > 0) {
      out.append(bytes.substr(0, static_cast<size_t>(length)));
      bytes.remove_prefix(static_cast<size_t>(length));
      continue;
    }
    out.append(kReplacementCharacter);
    bytes.remove_prefix(length < 0 ? bytes.size() : 1);
  }
  return out;
}

// The character set of the C/POSIX locale as glibc names it.
constexpr std::string_view kPlainAscii = "ANSI_X3.4-1968";

}  // namespace

void useUserLocale() {
  ::setlocale(LC_ALL, "");
  // An unusable locale left the C locale in place; either way plain ASCII means UTF-8 here.
  if (::nl_langinfo(CODESET) == kPlainAscii) ::setlocale(LC_CTYPE, "C.UTF-8");
}

std::string localeCharset() {
  // The same choice as setlocale(LC_ALL, "") would make, without changing the process's locale.
  locale_t chosen = ::newlocale(LC_ALL_MASK, "", static_cast<locale_t>(0));
  if (chosen == static_cast<locale_t>(0)) {
    chosen = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  }
  if (chosen == static_cast<locale_t>(0)) return "UTF-8";
  std::string name = ::nl_langinfo_l(CODESET, chosen);
  ::freelocale(chosen);
  return name == kPlainAscii ? "UTF-8" : name;
}

std::string codePageCharset(std::uint32_t codePage) {
  if (codePage == 0) return localeCharset();
  if (codePage == kCodePageUtf8) return "UTF-8";
  if (codePage == 20127) return "US-ASCII";
  if (codePage == 1200) return "UTF-16LE";
  if (codePage == 1201) return "UTF-16BE";
  if (codePage >= 28591 && codePage <= 28599) {
    return "ISO-8859-" + std::to_string(codePage - 28590);
  }
  if (codePage == 28603) return "ISO-8859-13";
  if (codePage == 28605) return "ISO-8859-15";
  if (codePage == 20866) return "KOI8-R";
  if (codePage == 21866) return "KOI8-U";
  return "CP" + std::to_string(codePage);
}

std::string toUtf8(std::string_view bytes, const std::string& charset) {
  if (bytes.empty()) return {};
  if (charset == "UTF-8" || charset == "utf-8") return wellFormedUtf8(bytes);
  Converter converter(charset, "UTF-8");
  return converter.convert(bytes, [](std::string_view rest, bool atEnd, std::string& out) {
    out.append(kReplacementCharacter);
    // A sequence cut off by the end of the input is one bad character; otherwise move on by
    // one byte and try again from there.
    return atEnd ? rest.size() : size_t{1};
  });
}

std::string fromUtf8(std::string_view text, const std::string& charset) {
  if (text.empty()) return {};
  // Bad input bytes become U+FFFD first, so that a refusal below can only mean a character
  // the target cannot hold.
  std::string valid = toUtf8(text, "UTF-8");
  if (charset == "UTF-8" || charset == "utf-8") return valid;
  Converter converter("UTF-8", charset);
  return converter.convert(valid, [](std::string_view rest, bool, std::string& out) {
    out.push_back('?');
    size_t length = utf8Length(static_cast<unsigned char>(rest.front()));
    return length < rest.size() ? length : rest.size();
  });
}

}  // namespace platform
