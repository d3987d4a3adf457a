#include "platform/Encoding.h"

#include <windows.h>

#include <cctype>
#include <stdexcept>

#include "platform/win32/Wide.h"

namespace platform {
namespace {

constexpr wchar_t kReplacement = 0xFFFD;

// The wide forms Windows leaves to the program (its conversion calls take none of them).
enum class Wide { none, utf16le, utf16be, utf32le, utf32be };

struct Charset {
  UINT codePage = 0;
  Wide wide = Wide::none;
};

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool allDigits(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// The code page of a character set name: "CP1252", "UTF-8", "ISO-8859-1", "US-ASCII", ...
Charset charsetOf(const std::string& name) {
  const std::string key = upper(name);
  if (key == "UTF-8" || key == "UTF8") return {CP_UTF8};
  if (key == "UTF-16LE") return {0, Wide::utf16le};
  if (key == "UTF-16BE") return {0, Wide::utf16be};
  if (key == "UTF-32LE") return {0, Wide::utf32le};
  if (key == "UTF-32BE") return {0, Wide::utf32be};
  if (key == "US-ASCII" || key == "ASCII") return {20127};
  if (key == "KOI8-R") return {20866};
  if (key == "KOI8-U") return {21866};
  UINT codePage = 0;
  if (key.rfind("ISO-8859-", 0) == 0 && allDigits(std::string_view(key).substr(9))) {
    codePage = 28590 + static_cast<UINT>(std::stoul(key.substr(9)));
  } else if (key.rfind("CP", 0) == 0 && key.size() <= 7 &&
             allDigits(std::string_view(key).substr(2))) {
    codePage = static_cast<UINT>(std::stoul(key.substr(2)));
  }
  // The code page numbers of the wide forms, which the conversion calls do not take.
  if (codePage == 1200) return {0, Wide::utf16le};
  if (codePage == 1201) return {0, Wide::utf16be};
  if (codePage == 12000) return {0, Wide::utf32le};
  if (codePage == 12001) return {0, Wide::utf32be};
  if (codePage == 0 || !::IsValidCodePage(codePage)) {
    throw std::runtime_error("no conversion for the character set " + name);
  }
  return {codePage};
}

std::wstring decodeWide(std::string_view bytes, Wide form) {
  std::wstring out;
  const bool bigEndian = form == Wide::utf16be || form == Wide::utf32be;
  const std::size_t unit = (form == Wide::utf16le || form == Wide::utf16be) ? 2 : 4;
  std::size_t at = 0;
  for (; at + unit <= bytes.size(); at += unit) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < unit; ++i) {
      std::size_t byte = bigEndian ? i : unit - 1 - i;
      value = (value << 8) | static_cast<unsigned char>(bytes[at + byte]);
    }
    if (unit == 2) {
      out.push_back(static_cast<wchar_t>(value));
    } else if (value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
      out.push_back(kReplacement);
    } else if (value >= 0x10000) {
      value -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (value >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (value & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(value));
    }
  }
  // A unit cut off by the end of the input is one bad character.
  if (at < bytes.size()) out.push_back(kReplacement);
  return out;
}

std::string encodeWide(const std::wstring& text, Wide form) {
  std::string out;
  const bool bigEndian = form == Wide::utf16be || form == Wide::utf32be;
  auto put = [&](std::uint32_t value, std::size_t unit) {
    for (std::size_t i = 0; i < unit; ++i) {
      std::size_t shift = 8 * (bigEndian ? unit - 1 - i : i);
      out.push_back(static_cast<char>((value >> shift) & 0xFF));
    }
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t value = static_cast<std::uint16_t>(text[i]);
    if (form == Wide::utf16le || form == Wide::utf16be) {
      put(value, 2);
      continue;
    }
    const bool high = value >= 0xD800 && value <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      value = 0x10000 + ((value - 0xD800) << 10) + (static_cast<std::uint16_t>(text[++i]) - 0xDC00);
    } else if (value >= 0xD800 && value <= 0xDFFF) {
      value = kReplacement;
    }
    put(value, 4);
  }
  return out;
}

// MultiByteToWideChar without error flags: bytes the code page does not define become its
// default character (U+FFFD for UTF-8), never a failure.
std::wstring decode(std::string_view bytes, const Charset& charset) {
  if (charset.wide != Wide::none) return decodeWide(bytes, charset.wide);
  const int length = static_cast<int>(bytes.size());
  int size = ::MultiByteToWideChar(charset.codePage, 0, bytes.data(), length, nullptr, 0);
  if (size <= 0) {
    throw std::runtime_error("text conversion failed: " + win32::systemMessage(::GetLastError()));
  }
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(charset.codePage, 0, bytes.data(), length, wide.data(), size);
  return wide;
}

// WideCharToMultiByte without error flags: a character the code page cannot hold becomes its
// default character ("?").
std::string encode(const std::wstring& wide, const Charset& charset) {
  if (charset.wide != Wide::none) return encodeWide(wide, charset.wide);
  const int length = static_cast<int>(wide.size());
  int size =
      ::WideCharToMultiByte(charset.codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) {
    throw std::runtime_error("text conversion failed: " + win32::systemMessage(::GetLastError()));
  }
  std::string out(static_cast<std::size_t>(size), '\0');
  ::WideCharToMultiByte(charset.codePage, 0, wide.data(), length, out.data(), size, nullptr,
                        nullptr);
  return out;
}

}  // namespace

// The system's ANSI code page (what code page 0 means to the conversion calls).
// Console input arrives as UTF-16 and conversions name their code page: the C runtime's locale
// plays no part.
void useUserLocale() {}

std::string localeCharset() { return "CP" + std::to_string(::GetACP()); }

std::string codePageCharset(std::uint32_t codePage) {
  if (codePage == 0) return localeCharset();
  if (codePage == kCodePageUtf8) return "UTF-8";
  return "CP" + std::to_string(codePage);
}

std::string toUtf8(std::string_view bytes, const std::string& charset) {
  if (bytes.empty()) return {};
  return encode(decode(bytes, charsetOf(charset)), Charset{CP_UTF8});
}

std::string fromUtf8(std::string_view text, const std::string& charset) {
  if (text.empty()) return {};
  return encode(decode(text, Charset{CP_UTF8}), charsetOf(charset));
}

}  // namespace platform
