#include <gtest/gtest.h>
#include <png.h>

#include <string>
#include <vector>

#include "citrix/AppData.h"
#include "citrix/IconBuild.h"
#include "citrix/IconPng.h"

namespace vantrel::test {
namespace {

uint32_t Le32(const TBytes& prmBytes, size_t prmAt) {
  return prmBytes[prmAt] | (prmBytes[prmAt + 1] << 8) | (prmBytes[prmAt + 2] << 16) |
         (static_cast<uint32_t>(prmBytes[prmAt + 3]) << 24);
}

// The PNG's pixels as RGBA, top row first; empty when it does not read back as 32 x 32.
std::vector<uint8_t> ReadPng(const std::string& prmPng) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, prmPng.data(), prmPng.size())) return {};
  image.format = PNG_FORMAT_RGBA;
  std::vector<uint8_t> pixels(PNG_IMAGE_SIZE(image));
  if (image.width != 32 || image.height != 32 ||
      !png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr))
    return {};
  return pixels;
}

// 16-colour data: row y's colour index is y % 16 everywhere; the mask hides the left half of
// the top row.
TBytes Icon16Data() {
  TBytes data(kIcon16DataBytes, 0);
  data[0] = data[1] = 0xFF;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 16; ++x) data[128 + y * 16 + x] = static_cast<uint8_t>((y % 16) * 0x11);
  return data;
}

TEST(CitrixIcons, LettersArePairsOfNibbles) {
  TBytes bytes;
  EXPECT_TRUE(DecodeIconLetters("AP", bytes));
  EXPECT_EQ(bytes, TBytes{0x0F});
  EXPECT_TRUE(DecodeIconLetters(std::string(1280, 'P'), bytes));
  EXPECT_EQ(bytes, TBytes(640, 0xFF));
  for (const char* bad : {"A", "AQ", "a1", "A P"}) {
    EXPECT_FALSE(DecodeIconLetters(bad, bytes)) << bad;
    EXPECT_TRUE(bytes.empty()) << bad;
  }
}

TEST(CitrixIcons, Icon16FileLayout) {
  const TBytes data = Icon16Data();
  const TBytes file = BuildIcon16(data.data());
  ASSERT_EQ(file.size(), kIcon16FileBytes);
  const TBytes head(file.begin(), file.begin() + 22);
  EXPECT_EQ(head,
            (TBytes{0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 0, 0, 0, 0, 0xE8, 2, 0, 0, 22, 0, 0, 0}));
  const uint32_t header[] = {40, 32, 64};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Le32(file, 22 + 4 * i), header[i]);
  EXPECT_EQ(Le32(file, 34), 1u | (4u << 16));  // planes 1, 4 bits
  EXPECT_EQ(Le32(file, 38), 0u);
  EXPECT_EQ(Le32(file, 42), 640u);
  EXPECT_EQ(TBytes(file.begin() + 46, file.begin() + 62), TBytes(16, 0));
  // Palette entries 7 and 8 (blue, green, red, 0): the darker grey, then the lighter one.
  EXPECT_EQ(Le32(file, 62 + 4 * 7), 0x808080u);
  EXPECT_EQ(Le32(file, 62 + 4 * 8), 0xC0C0C0u);
  EXPECT_EQ(Le32(file, 62 + 4 * 9), 0xFF0000u);  // red is stored as 00 00 FF 00
  // Rows bottom first: source row 31 (index 15) first, row 0 (index 0) last; mask likewise.
  EXPECT_EQ(file[126], 0xFF);
  EXPECT_EQ(file[126 + 31 * 16], 0x00);
  EXPECT_EQ(TBytes(file.begin() + 638 + 31 * 4, file.end()), (TBytes{0xFF, 0xFF, 0, 0}));
}

TEST(CitrixIcons, Icon32FileLayoutAndPngKeepsAlpha) {
  TBytes pixels(4096);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    const uint8_t row = static_cast<uint8_t>(i / 128);
    pixels[i] = 0x10;                               // blue
    pixels[i + 1] = row;                            // green
    pixels[i + 2] = 0x30;                           // red
    pixels[i + 3] = static_cast<uint8_t>(row * 8);  // alpha
  }
  const TBytes file = BuildIcon32(pixels.data(), pixels.size());
  ASSERT_EQ(file.size(), 22u + 40 + 4096);
  EXPECT_EQ(TBytes(file.begin() + 6, file.begin() + 14), (TBytes{32, 32, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(Le32(file, 14), 4136u);
  EXPECT_EQ(Le32(file, 34), 1u | (32u << 16));
  EXPECT_EQ(Le32(file, 42), 4096u);
  EXPECT_EQ(file[62 + 1], 31);  // bottom row first

  const std::vector<uint8_t> rgba = ReadPng(IconToPng(file));
  ASSERT_EQ(rgba.size(), 4096u);
  for (int y : {0, 5, 31})
    EXPECT_EQ(
        std::vector<uint8_t>(rgba.begin() + y * 128, rgba.begin() + y * 128 + 4),
        (std::vector<uint8_t>{0x30, static_cast<uint8_t>(y), 0x10, static_cast<uint8_t>(y * 8)}))
        << y;
  // Without any alpha the image is opaque rather than invisible.
  for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 0;
  EXPECT_EQ(ReadPng(IconToPng(BuildIcon32(pixels.data(), pixels.size())))[3], 0xFF);
}

TEST(CitrixIcons, Icon16PngUsesPaletteAndMask) {
  const TBytes data = Icon16Data();
  const std::vector<uint8_t> rgba = ReadPng(IconToPng(BuildIcon16(data.data())));
  ASSERT_EQ(rgba.size(), 4096u);
  auto pixel = [&](int x, int y) {
    return std::vector<uint8_t>(rgba.begin() + (y * 32 + x) * 4,
                                rgba.begin() + (y * 32 + x) * 4 + 4);
  };
  EXPECT_EQ(pixel(0, 0)[3], 0);  // masked
  EXPECT_EQ(pixel(16, 0), (std::vector<uint8_t>{0, 0, 0, 0xFF}));
  EXPECT_EQ(pixel(3, 7), (std::vector<uint8_t>{0x80, 0x80, 0x80, 0xFF}));
  EXPECT_EQ(pixel(3, 8), (std::vector<uint8_t>{0xC0, 0xC0, 0xC0, 0xFF}));
  EXPECT_EQ(pixel(31, 25), (std::vector<uint8_t>{0xFF, 0, 0, 0xFF}));  // index 9
  // The letters' path gives the same image.
  std::string letters;
  for (uint8_t b : data)
    letters += {static_cast<char>('A' + (b >> 4)), static_cast<char>('A' + (b & 15))};
  EXPECT_EQ(ReadPng(Icon16ToPng(letters)), rgba);
}

TEST(CitrixIcons, WhatDoesNotDecodeGivesNoImage) {
  const TBytes data = Icon16Data();
  TBytes file = BuildIcon16(data.data());
  std::vector<TBytes> bad = {{}, TBytes(file.begin(), file.begin() + 700), TBytes(22, 0)};
  TBytes wrongBits = file;
  wrongBits[36] = 8;
  bad.push_back(wrongBits);
  TBytes hugeOffset = file;
  hugeOffset[21] = 0x7F;
  bad.push_back(hugeOffset);
  TBytes wide = file;
  wide[27] = 0x10;  // 4096 wide
  bad.push_back(wide);
  for (const TBytes& b : bad) EXPECT_EQ(IconToPng(b), "") << b.size();
  EXPECT_EQ(Icon16ToPng(std::string(1278, 'A')), "");  // 639 bytes
  EXPECT_EQ(Icon16ToPng(std::string(1280, 'Z')), "");
}

}  // namespace
}  // namespace vantrel::test
