// The fast converters against the reference rules, without block kernels
// and with every kernel set this processor runs: generated texts of each
// kind, with one bad unit or sequence planted at every offset of the first
// blocks, cut at every length, and converted into every target capacity near
// the point where room runs out, in both modes. Buffers have exactly their
// size (AddressSanitizer sees any access outside them) and the target is
// filled with a canary, so a difference in the result, either cursor, any
// written unit or any unit after the target cursor fails.
#include "../src/text/convert_impl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <vector>

using namespace Brackwell::detail;

namespace {

template <class S, class T>
using Conv = ConversionResult (*)(const S**, const S*, T**, T*, ConversionFlags,
                                  const KernelSet*);

std::vector<const KernelSet*> const& sets() {
  static const std::vector<const KernelSet*> v = [] {
    std::vector<const KernelSet*> found{nullptr};
#ifndef BRACKWELL_NO_SIMD
    for (const char* name : {"sse", "avx2", "avx512"})
      if (const KernelSet* ks = kernelSet(name)) found.push_back(ks);
#endif
    std::string names; // for the log: which sets this run compares
    for (const KernelSet* ks : found) names += std::string(" ") + (ks ? ks->name : "none");
    std::printf("kernel sets compared:%s\n", names.c_str());
    return found;
  }();
  return v;
}

// Result, units read, units written, and the whole target buffer.
template <class S, class T>
auto convert(Conv<S, T> fn, std::vector<S> const& src, std::size_t n, std::size_t cap,
             ConversionFlags flags, const KernelSet* ks) {
  std::unique_ptr<S[]> s(new S[n]);
  std::copy(src.begin(), src.begin() + static_cast<std::ptrdiff_t>(n), s.get());
  std::unique_ptr<T[]> t(new T[cap]);
  std::fill(t.get(), t.get() + cap, static_cast<T>(0xA5A5A5A5u));
  const S* sp = s.get();
  T* tp = t.get();
  const ConversionResult r = fn(&sp, s.get() + n, &tp, t.get() + cap, flags, ks);
  return std::make_tuple(r, sp - s.get(), tp - t.get(), std::vector<T>(t.get(), t.get() + cap));
}

// Every set against the reference on src[0, n), with ample room and with
// every capacity from `below` under what the reference writes to one above.
template <class S, class T>
void compare(Conv<S, T> fast, Conv<S, T> ref, std::vector<S> const& src, std::size_t n,
             std::ptrdiff_t below, std::string const& what) {
  for (ConversionFlags flags : {strictConversion, lenientConversion}) {
    const std::size_t ample = 4 * n + 8;
    const std::ptrdiff_t need = std::get<2>(convert(ref, src, n, ample, flags, nullptr));
    std::vector<std::size_t> caps{ample};
    for (std::ptrdiff_t c = std::max<std::ptrdiff_t>(0, need - below); c <= need + 1; ++c)
      caps.push_back(static_cast<std::size_t>(c));
    for (std::size_t cap : caps) {
      const auto expected = convert(ref, src, n, cap, flags, nullptr);
      for (const KernelSet* ks : sets())
        ASSERT_TRUE(convert(fast, src, n, cap, flags, ks) == expected)
            << what << " set " << (ks ? ks->name : "none") << " length " << n
            << " capacity " << cap << " flags " << flags;
    }
  }
}

// Kinds: 0 ASCII, 1 Latin (mostly two-byte), 2 CJK (three-byte), 3 emoji
// and other four-byte values, 4 all of them mixed. Encoded by the reference.
template <class U> std::vector<U> text(int kind, std::mt19937& rng) {
  auto in = [&rng](UTF32 lo, UTF32 hi) { return lo + rng() % (hi - lo + 1); };
  std::vector<UTF32> v;
  while (v.size() < 160) {
    const int k = kind < 4 ? kind : static_cast<int>(rng() % 4);
    const bool plain = rng() % 4 != 0;
    v.push_back(k == 0 || (k == 1 && !plain) ? in(0, 0x7F)
                : k == 1 ? in(0x80, 0x7FF)
                : k == 2 ? (plain ? in(0x4E00, 0x9FFF) : in(0xE000, 0xFFFF))
                         : (plain ? in(0x1F300, 0x1F64F) : in(0x10000, 0x10FFFF)));
  }
  if constexpr (sizeof(U) == 4) {
    return v;
  } else {
    std::vector<U> out(v.size() * 4);
    const UTF32* s = v.data();
    U* t = out.data();
    if constexpr (sizeof(U) == 1)
      utf32ToUTF8<false>(&s, s + v.size(), &t, t + out.size(), strictConversion);
    else
      utf32ToUTF16<false>(&s, s + v.size(), &t, t + out.size(), strictConversion);
    out.resize(static_cast<std::size_t>(t - out.data()));
    return out;
  }
}

// Both converters from one source type over clean texts cut at every length
// (every capacity for the whole text) and over texts with a fault planted.
template <class S, class T1, class T2>
void compareFrom(Conv<S, T1> f1, Conv<S, T1> r1, Conv<S, T2> f2, Conv<S, T2> r2,
                 std::vector<std::vector<S>> const& faults) {
  std::mt19937 rng(7);
  for (int kind = 0; kind < 5 && !testing::Test::HasFatalFailure(); ++kind) {
    const std::vector<S> clean = text<S>(kind, rng);
    const std::string k = "kind " + std::to_string(kind);
    for (std::size_t n = 0; n <= clean.size(); ++n) {
      compare(f1, r1, clean, n, n == clean.size() ? 1 << 20 : 0, k);
      compare(f2, r2, clean, n, n == clean.size() ? 1 << 20 : 0, k);
    }
    for (std::size_t at = 0; at < 140 && at < clean.size(); ++at) {
      std::vector<S> bad = clean;
      auto const& f = faults[at % faults.size()];
      bad.insert(bad.begin() + static_cast<std::ptrdiff_t>(at), f.begin(), f.end());
      const std::string w = k + " fault " + std::to_string(at % faults.size()) + " at " +
                            std::to_string(at);
      compare(f1, r1, bad, bad.size(), 6, w);
      compare(f2, r2, bad, bad.size(), 6, w);
    }
  }
}

} // namespace

TEST(ConvertKernels, FromUTF8) {
  compareFrom<UTF8, UTF16, UTF32>(
      utf8ToUTF16<true>, utf8ToUTF16<false>, utf8ToUTF32<true>, utf8ToUTF32<false>,
      {{0x80}, {0xC0, 0x80}, {0xE0, 0x9F, 0xBF}, {0xED, 0xA0, 0x80}, {0xF0, 0x8F, 0xBF, 0xBF},
       {0xF4, 0x90, 0x80, 0x80}, {0xF8, 0x88, 0x80}, {0xFF}, {0xC3}, {0xE2, 0x82},
       {0xF0, 0x9F, 0x98}, {0xC2, 0xC2}, {0xBF, 0xBF}, {0xC1, 0xBF}, {0xF5, 0x80, 0x80, 0x80}});
}

TEST(ConvertKernels, FromUTF16) {
  compareFrom<UTF16, UTF8, UTF32>(utf16ToUTF8<true>, utf16ToUTF8<false>, utf16ToUTF32<true>,
                                  utf16ToUTF32<false>,
                                  {{0xD800}, {0xDC00}, {0xDBFF, 0xDBFF}, {0xDFFF}});
}

TEST(ConvertKernels, FromUTF32) {
  compareFrom<UTF32, UTF8, UTF16>(utf32ToUTF8<true>, utf32ToUTF8<false>, utf32ToUTF16<true>,
                                  utf32ToUTF16<false>,
                                  {{0xD800}, {0x110000}, {0xDFFF}, {0xFFFFFFFF}});
}

// Every byte pair, then two continuation bytes, inside ASCII at shifting
// offsets: the validation decides each pair exactly as the reference does.
TEST(ConvertKernels, EveryBytePair) {
  for (unsigned pair = 0; pair < 0x10000 && !HasFatalFailure(); ++pair) {
    std::vector<UTF8> s(100, 'a');
    const std::size_t at = pair % 61;
    s[at] = static_cast<UTF8>(pair >> 8);
    s[at + 1] = static_cast<UTF8>(pair);
    s[at + 2] = 0x80;
    s[at + 3] = static_cast<UTF8>(0x80 + pair % 64);
    compare<UTF8, UTF32>(utf8ToUTF32<true>, utf8ToUTF32<false>, s, s.size(), 0,
                         "pair " + std::to_string(pair));
  }
}
