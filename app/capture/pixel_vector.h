#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tolvane::pixel_vector {

// One BGRA pixel as four floats, so that per-pixel arithmetic runs as one SIMD operation
// per step (GCC and Clang vector extensions). Loading and storing bytes use SSE2 where
// available: the generic conversions compile to one scalar move per channel there.
typedef float Float4 __attribute__((vector_size(16)));
typedef std::int32_t Int4 __attribute__((vector_size(16)));
typedef std::uint8_t Byte4 __attribute__((vector_size(4)));

inline Float4 load(const std::uint8_t* pixel) {
#if defined(__SSE2__)
  std::int32_t word;
  std::memcpy(&word, pixel, 4);
  const __m128i zero = _mm_setzero_si128();
  const __m128i bytes = _mm_cvtsi32_si128(word);
  return _mm_cvtepi32_ps(_mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero));
#else
  Byte4 bytes;
  std::memcpy(&bytes, pixel, 4);
  return __builtin_convertvector(bytes, Float4);
#endif
}

inline Float4 load(const float* values) {
  Float4 vector;
  std::memcpy(&vector, values, sizeof vector);
  return vector;
}

// Rounds to the nearest byte, saturating.
inline void store(Float4 value, std::uint8_t* pixel) {
#if defined(__SSE2__)
  const __m128i words = _mm_cvtps_epi32(value);
  const __m128i shorts = _mm_packs_epi32(words, words);
  const std::int32_t packed = _mm_cvtsi128_si32(_mm_packus_epi16(shorts, shorts));
  std::memcpy(pixel, &packed, 4);
#else
  const Float4 half = {0.5f, 0.5f, 0.5f, 0.5f};
  const Float4 low = {0, 0, 0, 0};
  const Float4 high = {255, 255, 255, 255};
  Float4 clamped = value + half;
  clamped = clamped < low ? low : clamped;
  clamped = clamped > high ? high : clamped;
  const Byte4 bytes = __builtin_convertvector(__builtin_convertvector(clamped, Int4), Byte4);
  std::memcpy(pixel, &bytes, 4);
#endif
}

inline Float4 splat(float value) { return Float4{value, value, value, value}; }

inline Float4 mix(Float4 a, Float4 b, float weight) { return a + (b - a) * splat(weight); }

}  // namespace tolvane::pixel_vector
