#include "citrix/IconPng.h"

#include <png.h>

#include <cstdint>
#include <vector>

namespace vantrel {

namespace {

constexpr uint32_t kMaxIconSide = 256;

// Little-endian reads that refuse to leave the file.
class TIconReader {
 public:
  explicit TIconReader(const TBytes& prmBytes) : m_Bytes(prmBytes) {}
  bool Has(size_t prmAt, size_t prmLen) const {
    return prmAt <= m_Bytes.size() && prmLen <= m_Bytes.size() - prmAt;
  }
  uint32_t U16(size_t prmAt) const { return m_Bytes[prmAt] | (m_Bytes[prmAt + 1] << 8); }
  uint32_t U32(size_t prmAt) const { return U16(prmAt) | (U16(prmAt + 2) << 16); }
  int32_t I32(size_t prmAt) const { return static_cast<int32_t>(U32(prmAt)); }
  const uint8_t* At(size_t prmAt) const { return m_Bytes.data() + prmAt; }

 private:
  const TBytes& m_Bytes;
};

struct TImage {
  uint32_t Width = 0, Height = 0;
  std::vector<uint8_t> Rgba;  // top row first
};

size_t RowStride(uint32_t prmWidth, uint32_t prmBits) {
  return ((static_cast<size_t>(prmWidth) * prmBits + 31) / 32) * 4;
}

bool DecodeIcon(const TBytes& prmFile, TImage& prmImage) {
  TIconReader in(prmFile);
  if (!in.Has(0, 22) || in.U16(0) != 0 || in.U16(2) != 1 || in.U16(4) < 1) return false;
  const size_t at = in.U32(18);
  if (!in.Has(at, 40) || in.U32(at) < 40) return false;
  const int32_t width = in.I32(at + 4), height2 = in.I32(at + 8);
  const uint32_t bits = in.U16(at + 14), compression = in.U32(at + 16);
  // Rows bottom first only (a negative height would mean top first, which icons never use).
  if (width <= 0 || height2 <= 0 || height2 % 2 != 0) return false;
  const uint32_t w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height2) / 2;
  if (w > kMaxIconSide || h > kMaxIconSide || compression != 0 || (bits != 4 && bits != 32))
    return false;

  size_t pixels = at + in.U32(at);
  size_t paletteEntries = 0;
  if (bits == 4) {
    paletteEntries = in.U32(at + 32);
    if (paletteEntries == 0 || paletteEntries > 16) paletteEntries = 16;
  }
  const size_t palette = pixels;
  pixels += paletteEntries * 4;
  const size_t xorStride = RowStride(w, bits), andStride = RowStride(w, 1);
  if (!in.Has(pixels, xorStride * h)) return false;
  const size_t mask = pixels + xorStride * h;
  const bool hasMask = in.Has(mask, andStride * h);
  if (bits == 4 && !hasMask) return false;

  prmImage.Width = w;
  prmImage.Height = h;
  prmImage.Rgba.assign(static_cast<size_t>(w) * h * 4, 0);
  bool anyAlpha = false;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* row = in.At(pixels + (h - 1 - y) * xorStride);
    uint8_t* out = prmImage.Rgba.data() + static_cast<size_t>(y) * w * 4;
    for (uint32_t x = 0; x < w; ++x, out += 4) {
      if (bits == 4) {
        uint32_t index = (x % 2 == 0) ? row[x / 2] >> 4 : row[x / 2] & 0x0F;
        if (index >= paletteEntries) index = 0;
        const uint8_t* entry = in.At(palette + index * 4);
        out[0] = entry[2];
        out[1] = entry[1];
        out[2] = entry[0];
        out[3] = 0xFF;
      } else {
        const uint8_t* bgra = row + x * 4;
        out[0] = bgra[2];
        out[1] = bgra[1];
        out[2] = bgra[0];
        out[3] = bgra[3];
        anyAlpha = anyAlpha || bgra[3] != 0;
      }
    }
  }
  if (bits == 32 && anyAlpha) return true;
  for (uint32_t y = 0; y < h; ++y) {
    const uint8_t* row = hasMask ? in.At(mask + (h - 1 - y) * andStride) : nullptr;
    uint8_t* out = prmImage.Rgba.data() + static_cast<size_t>(y) * w * 4;
    for (uint32_t x = 0; x < w; ++x, out += 4) {
      const bool transparent = row != nullptr && (row[x / 8] & (0x80 >> (x % 8))) != 0;
      out[3] = transparent ? 0 : 0xFF;
    }
  }
  return true;
}

std::string WritePng(const TImage& prmImage) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = prmImage.Width;
  image.height = prmImage.Height;
  image.format = PNG_FORMAT_RGBA;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&image, nullptr, &size, 0, prmImage.Rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  std::string png(size, '\0');
  if (!png_image_write_to_memory(&image, png.data(), &size, 0, prmImage.Rgba.data(), 0, nullptr)) {
    png_image_free(&image);
    return {};
  }
  png.resize(size);
  return png;
}

}  // namespace

std::string IconToPng(const TBytes& prmIconFile) {
  TImage image;
  if (!DecodeIcon(prmIconFile, image)) return {};
  return WritePng(image);
}

}  // namespace vantrel
