// Fuzz target for the converters and isLegalUTF8Sequence.
//
// Input: byte 0 picks the routine and the flags, bytes 1-2 the target
// capacity, the rest is the source. Properties checked:
//   - nothing is written outside the target (the buffer has exactly the
//     capacity, so AddressSanitizer sees any overrun) and both cursors stay
//     inside their buffers;
//   - the fast routine, without block kernels and with every kernel set
//     this processor runs, agrees with the one-character-at-a-time
//     reference on the result, both cursors and every unit of the target
//     buffer (also those after the target cursor);
//   - for UTF-8 sources with ample room, the result and the stopping point
//     agree with a deliberately simple validator written here;
//   - a conversionOK result round-trips back to the same units;
//   - strict and lenient agree wherever the source holds no surrogate value
//     (paired UTF-16 surrogates aside) and nothing above U+10FFFF.
#include "text/convert_impl.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <memory>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "fuzz_convert: property violated: %s\n", what);
  std::abort();
}

// The simple validator: the length of the well-formed sequence at s, 0 when
// it is cut off by `end`, -1 when it is ill formed.
int simpleSequence(const UTF8* s, const UTF8* end) {
  const unsigned b = s[0];
  int need = b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4
           : b < 0xFC ? 5 : 6;
  if (end - s < need)
    return 0;
  if (b < 0x80)
    return 1;
  if (b < 0xC2 || b > 0xF4)
    return -1;
  for (int k = 1; k < need; ++k)
    if (s[k] < 0x80 || s[k] > 0xBF)
      return -1;
  const unsigned b1 = s[1];
  if ((b == 0xE0 && b1 < 0xA0) || (b == 0xED && b1 > 0x9F) ||
      (b == 0xF0 && b1 < 0x90) || (b == 0xF4 && b1 > 0x8F))
    return -1;
  return need;
}

template <class S, class T>
using Fn = ConversionResult (*)(const S**, const S*, T**, T*, ConversionFlags,
                                const Brackwell::detail::KernelSet*);

// No kernels, then every set this processor runs.
std::vector<const Brackwell::detail::KernelSet*> const& kernelSets() {
  static const auto sets = [] {
    std::vector<const Brackwell::detail::KernelSet*> v{nullptr};
    for (const char* name : {"sse", "avx2", "avx512"})
      if (auto ks = Brackwell::detail::kernelSet(name))
        v.push_back(ks);
    return v;
  }();
  return sets;
}

template <class S, class T> struct Run {
  ConversionResult result;
  std::size_t read, written;
  std::vector<T> out;
};

template <class S, class T>
Run<S, T> run(Fn<S, T> fn, std::vector<S> const& src, std::size_t cap,
              ConversionFlags flags,
              const Brackwell::detail::KernelSet* ks = nullptr) {
  // Both buffers have exactly their size, so that any access outside them
  // is seen.
  const std::size_t n = src.size();
  std::unique_ptr<S[]> in(new S[n]);
  std::copy(src.begin(), src.end(), in.get());
  std::unique_ptr<T[]> buf(new T[cap]);
  std::memset(static_cast<void*>(buf.get()), 0xA5, sizeof(T) * cap);
  const S* s = in.get();
  T* t = buf.get();
  ConversionResult r = fn(&s, in.get() + n, &t, buf.get() + cap, flags, ks);
  if (s < in.get() || s > in.get() + n)
    fail("source cursor left its buffer");
  if (t < buf.get() || t > buf.get() + cap)
    fail("target cursor left its buffer");
  return {r, static_cast<std::size_t>(s - in.get()),
          static_cast<std::size_t>(t - buf.get()),
          std::vector<T>(buf.get(), buf.get() + cap)};
}

template <class S, class T>
Run<S, T> check(Fn<S, T> fast, Fn<S, T> scalar, std::vector<S> const& src,
                std::size_t cap, ConversionFlags flags) {
  Run<S, T> b = run(scalar, src, cap, flags);
  for (auto ks : kernelSets()) {
    Run<S, T> a = run(fast, src, cap, flags, ks);
    if (a.result != b.result || a.read != b.read || a.written != b.written ||
        a.out != b.out)
      fail("fast and reference routines differ");
  }
  return b;
}

// True when `src` holds a value that strict and lenient treat differently.
bool oddValues(std::vector<UTF32> const& src) {
  for (UTF32 c : src)
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF)
      return true;
  return false;
}
bool oddValues(std::vector<UTF16> const& src) {
  for (std::size_t i = 0; i < src.size(); ++i) {
    const UTF16 c = src[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < src.size() &&
        src[i + 1] >= 0xDC00 && src[i + 1] <= 0xDFFF) {
      ++i;
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF)
      return true;
  }
  return false;
}

// Converts `out` back and expects the source units again.
template <class S, class T>
void roundTrip(Fn<T, S> back, std::vector<S> const& src, Run<S, T> const& r) {
  std::vector<T> mid(r.out.begin(), r.out.begin() + r.written);
  Run<T, S> b = run(back, mid, src.size() + 4, strictConversion);
  if (b.result != conversionOK || b.written != src.size() ||
      !std::equal(src.begin(), src.end(), b.out.begin()))
    fail("conversionOK does not round-trip");
}

template <class S> std::vector<S> units(const uint8_t* d, std::size_t n) {
  std::vector<S> v(n / sizeof(S));
  if (!v.empty())
    std::memcpy(v.data(), d, v.size() * sizeof(S));
  return v;
}

} // namespace

using namespace Brackwell::detail;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 3)
    return 0;
  const unsigned op = data[0] % 7;
  const ConversionFlags flags =
      (data[0] & 0x80) ? lenientConversion : strictConversion;
  const ConversionFlags other =
      flags == strictConversion ? lenientConversion : strictConversion;
  const std::size_t cap = (data[1] | (data[2] << 8)) % 4096;
  data += 3;
  size -= 3;
  switch (op) {
    case 0:
    case 1: {
      std::vector<UTF8> src = units<UTF8>(data, size);
      if (op == 0) {
        auto r = check<UTF8, UTF16>(utf8ToUTF16<true>, utf8ToUTF16<false>, src, cap, flags);
        if (r.result == conversionOK) roundTrip<UTF8, UTF16>(utf16ToUTF8<true>, src, r);
      } else {
        auto r = check<UTF8, UTF32>(utf8ToUTF32<true>, utf8ToUTF32<false>, src, cap, flags);
        if (r.result == conversionOK) roundTrip<UTF8, UTF32>(utf32ToUTF8<true>, src, r);
      }
      // Ample room: result and stop agree with the simple validator.
      auto full = run<UTF8, UTF32>(utf8ToUTF32<true>, src, src.size() + 1, flags);
      std::size_t at = 0;
      ConversionResult expect = conversionOK;
      while (at < src.size()) {
        int n = simpleSequence(src.data() + at, src.data() + src.size());
        if (n <= 0) {
          expect = n == 0 ? sourceExhausted : sourceIllegal;
          break;
        }
        at += static_cast<std::size_t>(n);
      }
      if (full.result != expect || full.read != at)
        fail("UTF-8 result or stop differs from the simple validator");
      break;
    }
    case 2:
    case 3: {
      std::vector<UTF16> src = units<UTF16>(data, size);
      bool odd = oddValues(src);
      if (op == 2) {
        auto r = check<UTF16, UTF8>(utf16ToUTF8<true>, utf16ToUTF8<false>, src, cap, flags);
        if (r.result == conversionOK && !odd) roundTrip<UTF16, UTF8>(utf8ToUTF16<true>, src, r);
        if (!odd) {
          auto o = run<UTF16, UTF8>(utf16ToUTF8<true>, src, cap, other);
          if (o.result != r.result || o.read != r.read || o.out != r.out)
            fail("strict and lenient differ on plain input");
        }
      } else {
        auto r = check<UTF16, UTF32>(utf16ToUTF32<true>, utf16ToUTF32<false>, src, cap, flags);
        if (r.result == conversionOK && !odd) roundTrip<UTF16, UTF32>(utf32ToUTF16<true>, src, r);
        if (!odd) {
          auto o = run<UTF16, UTF32>(utf16ToUTF32<true>, src, cap, other);
          if (o.result != r.result || o.read != r.read || o.out != r.out)
            fail("strict and lenient differ on plain input");
        }
      }
      break;
    }
    case 4:
    case 5: {
      std::vector<UTF32> src = units<UTF32>(data, size);
      bool odd = oddValues(src);
      if (op == 4) {
        auto r = check<UTF32, UTF8>(utf32ToUTF8<true>, utf32ToUTF8<false>, src, cap, flags);
        if (r.result == conversionOK && !odd) roundTrip<UTF32, UTF8>(utf8ToUTF32<true>, src, r);
        if (!odd) {
          auto o = run<UTF32, UTF8>(utf32ToUTF8<true>, src, cap, other);
          if (o.result != r.result || o.read != r.read || o.out != r.out)
            fail("strict and lenient differ on plain input");
        }
      } else {
        auto r = check<UTF32, UTF16>(utf32ToUTF16<true>, utf32ToUTF16<false>, src, cap, flags);
        if (r.result == conversionOK && !odd) roundTrip<UTF32, UTF16>(utf16ToUTF32<true>, src, r);
        if (!odd) {
          auto o = run<UTF32, UTF16>(utf32ToUTF16<true>, src, cap, other);
          if (o.result != r.result || o.read != r.read || o.out != r.out)
            fail("strict and lenient differ on plain input");
        }
      }
      break;
    }
    default: {
      if (size == 0)
        break;
      std::unique_ptr<UTF8[]> copy(new UTF8[size]);
      std::memcpy(copy.get(), data, size);
      const bool legal = isLegalUTF8Sequence(copy.get(), copy.get() + size);
      if (legal != (simpleSequence(copy.get(), copy.get() + size) > 0))
        fail("isLegalUTF8Sequence differs from the simple validator");
    }
  }
  return 0;
}
