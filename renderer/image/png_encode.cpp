#include "image/png_encode.h"

#include <cstring>
#include <vector>

#include "image/gamma_table.h"

namespace ek::image {

namespace {

// Alpha at or below this leaves nothing to un-premultiply: the colour is stored as 0.
constexpr float kMinAlpha = 1e-6f;

// x clamped to [0, 1]; NaN gives 0.
inline float clampUnit(float x) { return x > 0.0f ? (x < 1.0f ? x : 1.0f) : 0.0f; }

template <bool SixteenBit>
void convertRow(const float* rgba, std::size_t width, uint8_t* out) {
  const GammaTable& table = SixteenBit ? GammaTable::sixteenBit() : GammaTable::eightBit();
  constexpr float kScale = SixteenBit ? 65535.0f : 255.0f;
  for (std::size_t x = 0; x < width; ++x, rgba += 4) {
    const float alpha = clampUnit(rgba[3]);
    uint32_t r = 0;
    uint32_t g = 0;
    uint32_t b = 0;
    if (alpha > kMinAlpha) {
      r = table.encode(clampUnit(rgba[0] / alpha));
      g = table.encode(clampUnit(rgba[1] / alpha));
      b = table.encode(clampUnit(rgba[2] / alpha));
    }
    const auto a = static_cast<uint32_t>(alpha * kScale + 0.5f);
    if constexpr (SixteenBit) {
      out[0] = static_cast<uint8_t>(r >> 8);
      out[1] = static_cast<uint8_t>(r);
      out[2] = static_cast<uint8_t>(g >> 8);
      out[3] = static_cast<uint8_t>(g);
      out[4] = static_cast<uint8_t>(b >> 8);
      out[5] = static_cast<uint8_t>(b);
      out[6] = static_cast<uint8_t>(a >> 8);
      out[7] = static_cast<uint8_t>(a);
      out += 8;
    } else {
      out[0] = static_cast<uint8_t>(r);
      out[1] = static_cast<uint8_t>(g);
      out[2] = static_cast<uint8_t>(b);
      out[3] = static_cast<uint8_t>(a);
      out += 4;
    }
  }
}

// Magnitude of a filtered byte read as a signed value.
inline uint32_t magnitude(uint8_t v) { return v < 128 ? v : 256u - v; }

// Predictors from the byte to the left (a), above (b) and above-left (c).
struct PredictNone {
  static uint8_t predict(uint32_t, uint32_t, uint32_t) { return 0; }
};
struct PredictSub {
  static uint8_t predict(uint32_t a, uint32_t, uint32_t) { return static_cast<uint8_t>(a); }
};
struct PredictUp {
  static uint8_t predict(uint32_t, uint32_t b, uint32_t) { return static_cast<uint8_t>(b); }
};
struct PredictAverage {
  static uint8_t predict(uint32_t a, uint32_t b, uint32_t) {
    return static_cast<uint8_t>((a + b) >> 1);
  }
};
struct PredictPaeth {
  static uint8_t predict(uint32_t a, uint32_t b, uint32_t c) {
    const int p = static_cast<int>(a + b) - static_cast<int>(c);
    const int pa = p > static_cast<int>(a) ? p - static_cast<int>(a) : static_cast<int>(a) - p;
    const int pb = p > static_cast<int>(b) ? p - static_cast<int>(b) : static_cast<int>(b) - p;
    const int pc = p > static_cast<int>(c) ? p - static_cast<int>(c) : static_cast<int>(c) - p;
    return static_cast<uint8_t>(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
  }
};

// Bytes summed in 32 bits before the total is widened: 2^24 magnitudes of at most 128 fit.
constexpr std::size_t kCostChunk = std::size_t{1} << 24;

template <class Filter>
uint64_t filterCost(const uint8_t* row, const uint8_t* previous, std::size_t length,
                    std::size_t bpp) {
  uint64_t total = 0;
  const std::size_t head = bpp < length ? bpp : length;
  for (std::size_t i = 0; i < head; ++i) {
    total += magnitude(static_cast<uint8_t>(row[i] - Filter::predict(0, previous[i], 0)));
  }
  for (std::size_t begin = head; begin < length; begin += kCostChunk) {
    const std::size_t end = length - begin > kCostChunk ? begin + kCostChunk : length;
    uint32_t sum = 0;
    for (std::size_t i = begin; i < end; ++i) {
      sum += magnitude(static_cast<uint8_t>(
          row[i] - Filter::predict(row[i - bpp], previous[i], previous[i - bpp])));
    }
    total += sum;
  }
  return total;
}

template <class Filter>
void applyFilter(const uint8_t* row, const uint8_t* previous, std::size_t length, std::size_t bpp,
                 uint8_t* out) {
  const std::size_t head = bpp < length ? bpp : length;
  for (std::size_t i = 0; i < head; ++i) {
    out[i] = static_cast<uint8_t>(row[i] - Filter::predict(0, previous[i], 0));
  }
  for (std::size_t i = head; i < length; ++i) {
    out[i] = static_cast<uint8_t>(
        row[i] - Filter::predict(row[i - bpp], previous[i], previous[i - bpp]));
  }
}

std::array<uint64_t, kPngFilterCount> costsWithPrevious(const uint8_t* row,
                                                        const uint8_t* previous,
                                                        std::size_t length, std::size_t bpp) {
  return {filterCost<PredictNone>(row, previous, length, bpp),
          filterCost<PredictSub>(row, previous, length, bpp),
          filterCost<PredictUp>(row, previous, length, bpp),
          filterCost<PredictAverage>(row, previous, length, bpp),
          filterCost<PredictPaeth>(row, previous, length, bpp)};
}

PngFilter filterWithPrevious(const uint8_t* row, const uint8_t* previous, std::size_t length,
                             std::size_t bpp, uint8_t* out) {
  const std::array<uint64_t, kPngFilterCount> costs =
      costsWithPrevious(row, previous, length, bpp);
  std::size_t best = 0;
  for (std::size_t type = 1; type < kPngFilterCount; ++type) {
    if (costs[type] < costs[best]) { // equal costs keep the earlier type
      best = type;
    }
  }
  out[0] = static_cast<uint8_t>(best);
  uint8_t* data = out + 1;
  switch (best) {
  case kFilterNone:
    std::memcpy(data, row, length);
    break;
  case kFilterSub:
    applyFilter<PredictSub>(row, previous, length, bpp, data);
    break;
  case kFilterUp:
    applyFilter<PredictUp>(row, previous, length, bpp, data);
    break;
  case kFilterAverage:
    applyFilter<PredictAverage>(row, previous, length, bpp, data);
    break;
  default:
    applyFilter<PredictPaeth>(row, previous, length, bpp, data);
    break;
  }
  return static_cast<PngFilter>(best);
}

} // namespace

uint64_t pngFilteredSize(int32_t width, int32_t height, bool sixteenBit) {
  const uint64_t rowBytes = static_cast<uint64_t>(width) * pngBytesPerPixel(sixteenBit);
  return static_cast<uint64_t>(height) * (rowBytes + 1);
}

void convertPngRow(const float* rgba, std::size_t width, bool sixteenBit, uint8_t* out) {
  if (sixteenBit) {
    convertRow<true>(rgba, width, out);
  } else {
    convertRow<false>(rgba, width, out);
  }
}

std::array<uint64_t, kPngFilterCount> pngFilterCosts(const uint8_t* row, const uint8_t* previous,
                                                     std::size_t length, std::size_t bpp) {
  if (previous != nullptr) {
    return costsWithPrevious(row, previous, length, bpp);
  }
  const std::vector<uint8_t> zeros(length, 0);
  return costsWithPrevious(row, zeros.data(), length, bpp);
}

PngFilter filterPngRow(const uint8_t* row, const uint8_t* previous, std::size_t length,
                       std::size_t bpp, uint8_t* out) {
  if (previous != nullptr) {
    return filterWithPrevious(row, previous, length, bpp, out);
  }
  const std::vector<uint8_t> zeros(length, 0);
  return filterWithPrevious(row, zeros.data(), length, bpp, out);
}

std::unique_ptr<uint8_t[]> filterPngImage(const float* rgba, int32_t width, int32_t height,
                                          bool sixteenBit) {
  const std::size_t columns = static_cast<std::size_t>(width);
  const std::size_t bpp = pngBytesPerPixel(sixteenBit);
  const std::size_t length = columns * bpp;
  auto filtered =
      std::make_unique_for_overwrite<uint8_t[]>(pngFilteredSize(width, height, sixteenBit));
  // The row above the first row counts as zeros.
  std::vector<uint8_t> previous(length, 0);
  std::vector<uint8_t> current(length);
  uint8_t* out = filtered.get();
  for (int32_t y = 0; y < height; ++y) {
    convertPngRow(rgba, columns, sixteenBit, current.data());
    filterWithPrevious(current.data(), previous.data(), length, bpp, out);
    current.swap(previous);
    rgba += columns * 4;
    out += length + 1;
  }
  return filtered;
}

} // namespace ek::image
