// Transcoding throughput on about 1 MiB of four kinds of generated text,
// against ICU, glibc iconv, std::codecvt and memcpy of the same bytes.
// Each benchmark's name is "<operation>/<peer>/<text>"; bytes/s counts the
// UTF-8 size of the text, so every row of one text compares alike.
// "brackwell-sse" and "brackwell-avx2" rows force the SSE or the AVX2 kernel
// set through the library's internal entry point, so that machines without
// AVX-512 (or AVX2) are known too; the
// "utf8_to_utf16_short" rows convert the text cut into pieces of about 48
// bytes, one call per piece, as paths and names are converted.
#include <brackwell/ConvertUTF.h>

#include "text/convert_impl.h"

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <codecvt>
#include <cstring>
#include <iconv.h>
#include <locale>
#include <string>
#include <vector>

namespace {

void put(std::string& s, UTF32 c) {
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (c >> 18));
    s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// 0 ASCII, 1 French/German prose, 2 CJK, 3 a mix with emoji.
std::string makeText(int kind) {
  static const char* prose[] = {
      "Le cœur déçu mais l'âme plutôt naïve, Louÿs rêva de crapaüter en "
      "canoë au delà des îles, près du mälström où brûlent les novæ. ",
      "Falsches Üben von Xylophonmusik quält jeden größeren Zwerg; "
      "zwölf Boxkämpfer jagen Viktor quer über den großen Sylter Deich. "};
  std::string s;
  unsigned x = 12345;
  auto rnd = [&x] { x = x * 1103515245u + 12345u; return (x >> 16) & 0x7FFF; };
  while (s.size() < (1u << 20)) {
    switch (kind) {
      case 0: s += static_cast<char>(rnd() % 7 ? 'a' + rnd() % 26 : ' '); break;
      case 1: s += prose[rnd() % 2]; break;
      case 2: put(s, rnd() % 20 ? 0x4E00 + rnd() % 20000 : 0x3002); break;
      default:
        switch (rnd() % 4) {
          case 0: s += static_cast<char>('a' + rnd() % 26); break;
          case 1: put(s, 0xC0 + rnd() % 0x40); break;
          case 2: put(s, 0x4E00 + rnd() % 1000); break;
          default: put(s, 0x1F600 + rnd() % 80); break;
        }
    }
  }
  return s;
}

const char* const kTextNames[] = {"ascii", "latin", "cjk", "mixed"};

struct Text {
  std::string u8;
  std::vector<UTF16> u16;
  std::vector<UTF32> u32;
};

Text const& text(int kind) {
  static Text texts[4];
  Text& t = texts[kind];
  if (t.u8.empty()) {
    t.u8 = makeText(kind);
    t.u16.resize(t.u8.size());
    t.u32.resize(t.u8.size());
    const UTF8* s = reinterpret_cast<const UTF8*>(t.u8.data());
    UTF16* d16 = t.u16.data();
    ConvertUTF8toUTF16(&s, s + t.u8.size(), &d16, d16 + t.u16.size(), strictConversion);
    t.u16.resize(static_cast<std::size_t>(d16 - t.u16.data()));
    s = reinterpret_cast<const UTF8*>(t.u8.data());
    UTF32* d32 = t.u32.data();
    ConvertUTF8toUTF32(&s, s + t.u8.size(), &d32, d32 + t.u32.size(), strictConversion);
    t.u32.resize(static_cast<std::size_t>(d32 - t.u32.data()));
  }
  return t;
}

template <class F> void loop(benchmark::State& state, Text const& t, F f) {
  for (auto _ : state) {
    f();
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * t.u8.size()));
}

// --- Brackwell ---
void BQ_8to16(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<UTF16> out(t.u8.size());
  loop(st, t, [&] {
    const UTF8* s = reinterpret_cast<const UTF8*>(t.u8.data());
    UTF16* d = out.data();
    benchmark::DoNotOptimize(ConvertUTF8toUTF16(&s, s + t.u8.size(), &d, d + out.size(), strictConversion));
  });
}
void BQ_16to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<UTF8> out(t.u8.size());
  loop(st, t, [&] {
    const UTF16* s = t.u16.data();
    UTF8* d = out.data();
    benchmark::DoNotOptimize(ConvertUTF16toUTF8(&s, s + t.u16.size(), &d, d + out.size(), strictConversion));
  });
}
void BQ_8to32(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<UTF32> out(t.u8.size());
  loop(st, t, [&] {
    const UTF8* s = reinterpret_cast<const UTF8*>(t.u8.data());
    UTF32* d = out.data();
    benchmark::DoNotOptimize(ConvertUTF8toUTF32(&s, s + t.u8.size(), &d, d + out.size(), strictConversion));
  });
}
void BQ_32to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<UTF8> out(t.u8.size());
  loop(st, t, [&] {
    const UTF32* s = t.u32.data();
    UTF8* d = out.data();
    benchmark::DoNotOptimize(ConvertUTF32toUTF8(&s, s + t.u32.size(), &d, d + out.size(), strictConversion));
  });
}
// Validation the way a caller does it with this API: sequence by sequence.
void BQ_validate(benchmark::State& st, int k) {
  Text const& t = text(k);
  loop(st, t, [&] {
    const UTF8* s = reinterpret_cast<const UTF8*>(t.u8.data());
    const UTF8* e = s + t.u8.size();
    bool ok = true;
    while (s < e && ok) {
      ok = isLegalUTF8Sequence(s, e);
      s += *s < 0x80 ? 1 : *s < 0xE0 ? 2 : *s < 0xF0 ? 3 : 4;
    }
    benchmark::DoNotOptimize(ok);
  });
}

// The same four operations with the SSE or the AVX2 kernel set forced
// (skipped where the processor lacks it).
using Brackwell::detail::KernelSet;

template <class S, class T, class F>
void forced(benchmark::State& st, const char* set, Text const& t,
            std::vector<S> const& src, F fn) {
  const KernelSet* ks = Brackwell::detail::kernelSet(set);
  if (!ks) {
    st.SkipWithError("this processor lacks the kernel set");
    return;
  }
  std::vector<T> out(t.u8.size() + 1);
  loop(st, t, [&] {
    const S* s = src.data();
    T* d = out.data();
    benchmark::DoNotOptimize(fn(&s, s + src.size(), &d, d + out.size(),
                                strictConversion, ks));
  });
}
std::vector<UTF8> bytes(Text const& t) {
  return std::vector<UTF8>(t.u8.begin(), t.u8.end());
}
template <const char* Set> void forced8to16(benchmark::State& st, int k) {
  Text const& t = text(k);
  forced<UTF8, UTF16>(st, Set, t, bytes(t), Brackwell::detail::utf8ToUTF16<true>);
}
template <const char* Set> void forced16to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  forced<UTF16, UTF8>(st, Set, t, t.u16, Brackwell::detail::utf16ToUTF8<true>);
}
template <const char* Set> void forced8to32(benchmark::State& st, int k) {
  Text const& t = text(k);
  forced<UTF8, UTF32>(st, Set, t, bytes(t), Brackwell::detail::utf8ToUTF32<true>);
}
template <const char* Set> void forced32to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  forced<UTF32, UTF8>(st, Set, t, t.u32, Brackwell::detail::utf32ToUTF8<true>);
}
constexpr char kSse[] = "sse", kAvx2[] = "avx2";

// The text cut at character boundaries into pieces of about 48 bytes.
std::vector<std::string> const& pieces(int k) {
  static std::vector<std::string> cut[4];
  std::vector<std::string>& v = cut[k];
  if (v.empty()) {
    std::string const& s = text(k).u8;
    for (std::size_t at = 0; at < s.size();) {
      std::size_t end = std::min(s.size(), at + 48);
      while (end < s.size() && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80)
        ++end;
      v.push_back(s.substr(at, end - at));
      at = end;
    }
  }
  return v;
}
void BQ_short(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<std::string> const& p = pieces(k);
  std::vector<UTF16> out(64);
  loop(st, t, [&] {
    for (std::string const& piece : p) {
      const UTF8* s = reinterpret_cast<const UTF8*>(piece.data());
      UTF16* d = out.data();
      benchmark::DoNotOptimize(ConvertUTF8toUTF16(
          &s, s + piece.size(), &d, d + out.size(), strictConversion));
    }
  });
}
void ICU_short(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<std::string> const& p = pieces(k);
  std::vector<UChar> out(64);
  loop(st, t, [&] {
    for (std::string const& piece : p) {
      UErrorCode e = U_ZERO_ERROR;
      int32_t n = 0;
      u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &n,
                    piece.data(), static_cast<int32_t>(piece.size()), &e);
      benchmark::DoNotOptimize(n);
    }
  });
}

// --- ICU ---
// ICU has no direct UTF-8 <-> UTF-32 routine; u_strFromUTF32 / u_strToUTF32
// (UTF-32 <-> UTF-16) are the named peers for those rows.
void ICU_8to16(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<UChar> out(t.u8.size());
  loop(st, t, [&] {
    UErrorCode e = U_ZERO_ERROR;
    int32_t n = 0;
    u_strFromUTF8(out.data(), static_cast<int32_t>(out.size()), &n, t.u8.data(),
                  static_cast<int32_t>(t.u8.size()), &e);
    benchmark::DoNotOptimize(n);
  });
}
void ICU_16to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<char> out(t.u8.size());
  loop(st, t, [&] {
    UErrorCode e = U_ZERO_ERROR;
    int32_t n = 0;
    u_strToUTF8(out.data(), static_cast<int32_t>(out.size()), &n,
                reinterpret_cast<const UChar*>(t.u16.data()),
                static_cast<int32_t>(t.u16.size()), &e);
    benchmark::DoNotOptimize(n);
  });
}
void ICU_8to32(benchmark::State& st, int k) { // u_strToUTF32 from UTF-16
  Text const& t = text(k);
  std::vector<UChar32> out(t.u8.size());
  loop(st, t, [&] {
    UErrorCode e = U_ZERO_ERROR;
    int32_t n = 0;
    u_strToUTF32(out.data(), static_cast<int32_t>(out.size()), &n,
                 reinterpret_cast<const UChar*>(t.u16.data()),
                 static_cast<int32_t>(t.u16.size()), &e);
    benchmark::DoNotOptimize(n);
  });
}
void ICU_32to8(benchmark::State& st, int k) { // u_strFromUTF32 to UTF-16
  Text const& t = text(k);
  std::vector<UChar> out(t.u8.size() + 1);
  loop(st, t, [&] {
    UErrorCode e = U_ZERO_ERROR;
    int32_t n = 0;
    u_strFromUTF32(out.data(), static_cast<int32_t>(out.size()), &n,
                   reinterpret_cast<const UChar32*>(t.u32.data()),
                   static_cast<int32_t>(t.u32.size()), &e);
    benchmark::DoNotOptimize(n);
  });
}
void ICU_validate(benchmark::State& st, int k) { // U8_NEXT over the buffer
  Text const& t = text(k);
  const uint8_t* s = reinterpret_cast<const uint8_t*>(t.u8.data());
  const int32_t n = static_cast<int32_t>(t.u8.size());
  loop(st, t, [&] {
    int32_t i = 0;
    bool ok = true;
    while (i < n && ok) {
      UChar32 c;
      U8_NEXT(s, i, n, c);
      ok = c >= 0;
    }
    benchmark::DoNotOptimize(ok);
  });
}

// --- iconv ---
void iconvRun(benchmark::State& st, int k, const char* to, const char* from,
              const char* in, std::size_t inBytes) {
  Text const& t = text(k);
  iconv_t cd = iconv_open(to, from);
  std::vector<char> out(t.u8.size() * 4 + 16);
  loop(st, t, [&] {
    char* i = const_cast<char*>(in);
    std::size_t il = inBytes;
    char* o = out.data();
    std::size_t ol = out.size();
    benchmark::DoNotOptimize(iconv(cd, &i, &il, &o, &ol));
  });
  iconv_close(cd);
}
void ICONV_8to16(benchmark::State& st, int k) {
  Text const& t = text(k);
  iconvRun(st, k, "UTF-16LE", "UTF-8", t.u8.data(), t.u8.size());
}
void ICONV_16to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  iconvRun(st, k, "UTF-8", "UTF-16LE", reinterpret_cast<const char*>(t.u16.data()), t.u16.size() * 2);
}
void ICONV_8to32(benchmark::State& st, int k) {
  Text const& t = text(k);
  iconvRun(st, k, "UTF-32LE", "UTF-8", t.u8.data(), t.u8.size());
}
void ICONV_32to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  iconvRun(st, k, "UTF-8", "UTF-32LE", reinterpret_cast<const char*>(t.u32.data()), t.u32.size() * 4);
}

// --- std::codecvt (deprecated, still what many programs use) ---
void CODECVT_8to16(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t> cv;
  loop(st, t, [&] { benchmark::DoNotOptimize(cv.from_bytes(t.u8)); });
}
void CODECVT_16to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::wstring_convert<std::codecvt_utf8_utf16<char16_t>, char16_t> cv;
  std::u16string s(t.u16.begin(), t.u16.end());
  loop(st, t, [&] { benchmark::DoNotOptimize(cv.to_bytes(s)); });
}
void CODECVT_8to32(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::wstring_convert<std::codecvt_utf8<char32_t>, char32_t> cv;
  loop(st, t, [&] { benchmark::DoNotOptimize(cv.from_bytes(t.u8)); });
}
void CODECVT_32to8(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::wstring_convert<std::codecvt_utf8<char32_t>, char32_t> cv;
  std::u32string s(t.u32.begin(), t.u32.end());
  loop(st, t, [&] { benchmark::DoNotOptimize(cv.to_bytes(s)); });
}

void MEMCPY(benchmark::State& st, int k) {
  Text const& t = text(k);
  std::vector<char> out(t.u8.size());
  loop(st, t, [&] { std::memcpy(out.data(), t.u8.data(), t.u8.size()); });
}

using Fn = void (*)(benchmark::State&, int);
struct Row { const char* op; const char* peer; Fn fn; };
const Row kRows[] = {
    {"utf8_to_utf16", "brackwell", BQ_8to16}, {"utf8_to_utf16", "icu", ICU_8to16},
    {"utf8_to_utf16", "iconv", ICONV_8to16}, {"utf8_to_utf16", "codecvt", CODECVT_8to16},
    {"utf16_to_utf8", "brackwell", BQ_16to8}, {"utf16_to_utf8", "icu", ICU_16to8},
    {"utf16_to_utf8", "iconv", ICONV_16to8}, {"utf16_to_utf8", "codecvt", CODECVT_16to8},
    {"utf8_to_utf32", "brackwell", BQ_8to32}, {"utf8_to_utf32", "icu", ICU_8to32},
    {"utf8_to_utf32", "iconv", ICONV_8to32}, {"utf8_to_utf32", "codecvt", CODECVT_8to32},
    {"utf32_to_utf8", "brackwell", BQ_32to8}, {"utf32_to_utf8", "icu", ICU_32to8},
    {"utf32_to_utf8", "iconv", ICONV_32to8}, {"utf32_to_utf8", "codecvt", CODECVT_32to8},
    {"validate", "brackwell", BQ_validate}, {"validate", "icu", ICU_validate},
    {"utf8_to_utf16", "brackwell-sse", forced8to16<kSse>},
    {"utf16_to_utf8", "brackwell-sse", forced16to8<kSse>},
    {"utf8_to_utf32", "brackwell-sse", forced8to32<kSse>},
    {"utf32_to_utf8", "brackwell-sse", forced32to8<kSse>},
    {"utf8_to_utf16", "brackwell-avx2", forced8to16<kAvx2>},
    {"utf16_to_utf8", "brackwell-avx2", forced16to8<kAvx2>},
    {"utf8_to_utf32", "brackwell-avx2", forced8to32<kAvx2>},
    {"utf32_to_utf8", "brackwell-avx2", forced32to8<kAvx2>},
    {"utf8_to_utf16_short", "brackwell", BQ_short},
    {"utf8_to_utf16_short", "icu", ICU_short},
    {"memcpy", "memcpy", MEMCPY},
};

const int registered = [] {
  for (Row const& r : kRows)
    for (int k = 0; k < 4; ++k)
      benchmark::RegisterBenchmark(
          (std::string(r.op) + "/" + r.peer + "/" + kTextNames[k]).c_str(),
          [fn = r.fn, k](benchmark::State& s) { fn(s, k); });
  return 0;
}();

} // namespace

BENCHMARK_MAIN();
