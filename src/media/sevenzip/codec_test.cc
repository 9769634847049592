// The coders on their own: branch converters, LZMA2 framing, AES
// properties, CRC.
#include <gtest/gtest.h>

#include "media/sevenzip/codec.h"
#include "media/sevenzip/crc.h"
#include "media/sevenzip/test_support.h"

namespace kyt::sevenzip {
namespace {

using testing::code_bytes;
using testing::random_bytes;
using testing::text_bytes;

class VectorSource : public Source {
 public:
  VectorSource(std::vector<uint8_t> bytes, size_t piece) : bytes_(std::move(bytes)), piece_(piece) {}
  Error read(uint8_t* data, size_t& length) override {
    length = std::min({length, bytes_.size() - position_, piece_});
    std::copy_n(bytes_.data() + position_, length, data);
    position_ += length;
    return Error::none;
  }

 private:
  std::vector<uint8_t> bytes_;
  size_t piece_;
  size_t position_ = 0;
};

class VectorSink : public Sink {
 public:
  Error write(const uint8_t* data, size_t length) override {
    bytes.insert(bytes.end(), data, data + length);
    return Error::none;
  }
  std::vector<uint8_t> bytes;
};

std::vector<uint8_t> drain(Source& source, Error& error) {
  std::vector<uint8_t> out;
  uint8_t buffer[4096];
  for (;;) {
    size_t n = sizeof buffer;
    error = source.read(buffer, n);
    if (error != Error::none || n == 0) return out;
    out.insert(out.end(), buffer, buffer + n);
  }
}

TEST(Crc, KnownValues) {
  EXPECT_EQ(crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(crc32("", 0), 0u);
  // Split updates agree with one pass, across the 8-byte loop's edges.
  auto bytes = random_bytes(1000, 1);
  for (size_t split : {0, 1, 7, 8, 9, 500, 999}) {
    uint32_t c = crc32_update(crc32_update(0, bytes.data(), split), bytes.data() + split, bytes.size() - split);
    EXPECT_EQ(c, crc32(bytes.data(), bytes.size())) << split;
  }
}

TEST(Bcj, ConvertsCallsAndRoundTripsWhateverTheReadSizes) {
  // A call at position 0 to relative +0x100 becomes absolute 0x105.
  std::vector<uint8_t> call = {0xE8, 0x00, 0x01, 0x00, 0x00, 0x90, 0x90, 0x90, 0x90};
  uint32_t state = 0;
  size_t done = bcj_x86_convert(call.data(), call.size(), 0, state, true);
  EXPECT_EQ(done, 5u);
  EXPECT_EQ(std::vector<uint8_t>(call.begin(), call.begin() + 5), (std::vector<uint8_t>{0xE8, 0x05, 0x01, 0x00, 0x00}));

  for (const auto& data : {code_bytes(200000, 3), random_bytes(100000, 4)}) {
    for (size_t piece : {1, 5, 4096, 1 << 20}) {
      auto encoder = make_bcj_encoder(std::make_unique<VectorSource>(data, piece));
      Error error;
      auto encoded = drain(*encoder, error);
      ASSERT_EQ(error, Error::none);
      ASSERT_EQ(encoded.size(), data.size());
      auto decoder = make_bcj_decoder(std::make_unique<VectorSource>(encoded, 7));
      EXPECT_EQ(drain(*decoder, error), data) << "piece " << piece;
    }
  }
  // The converter changes x86-like code, so the round trip is not vacuous.
  auto code = code_bytes(10000, 5);
  auto copy = code;
  state = 0;
  bcj_x86_convert(copy.data(), copy.size(), 0, state, true);
  EXPECT_NE(copy, code);
}

struct Lzma2Case {
  const char* name;
  std::vector<uint8_t> data;
};

TEST(Lzma2, RoundTripsCompressibleIncompressibleAndMixedData) {
  auto mixed = text_bytes(300000, 1);
  auto noise = random_bytes(300000, 2);
  mixed.insert(mixed.end(), noise.begin(), noise.end());
  std::vector<Lzma2Case> cases = {{"empty", {}},
                                  {"text", text_bytes(3 << 20, 7)},
                                  {"random", random_bytes(200000, 8)},
                                  {"mixed", mixed},
                                  {"one byte", {42}}};
  for (const auto& c : cases) {
    VectorSource input(c.data, 1 << 16);
    VectorSink packed;
    std::vector<uint8_t> properties;
    LzmaSettings settings;
    settings.dictionary = 1 << 20;
    ASSERT_EQ(lzma2_encode(input, packed, settings, properties), Error::none) << c.name;
    ASSERT_EQ(properties.size(), 1u);
    EXPECT_GE(lzma2_dictionary_size(properties[0]), 1u << 12);
    std::unique_ptr<Source> decoder;
    ASSERT_EQ(make_lzma2_decoder(std::make_unique<VectorSource>(packed.bytes, 999), properties, c.data.size(), decoder),
              Error::none);
    Error error;
    EXPECT_EQ(drain(*decoder, error), c.data) << c.name;
    EXPECT_EQ(error, Error::none) << c.name;
    if (c.data.size() == 200000) {
      EXPECT_LT(packed.bytes.size(), c.data.size() + 100) << "stored chunks stay small";
    }
  }
}

TEST(Lzma2, DamagedStreamsFailWithoutCrashing) {
  auto data = text_bytes(100000, 9);
  VectorSource input(data, 1 << 16);
  VectorSink packed;
  std::vector<uint8_t> properties;
  ASSERT_EQ(lzma2_encode(input, packed, LzmaSettings{}, properties), Error::none);
  std::mt19937 random(11);
  int failures = 0;
  for (int round = 0; round < 200; ++round) {
    auto bytes = packed.bytes;
    if (round % 2) {
      bytes.resize(random() % bytes.size());
    } else {
      bytes[random() % bytes.size()] ^= uint8_t(1 + random() % 255);
    }
    std::unique_ptr<Source> decoder;
    ASSERT_EQ(make_lzma2_decoder(std::make_unique<VectorSource>(bytes, 4096), properties, data.size(), decoder),
              Error::none);
    Error error;
    auto out = drain(*decoder, error);
    if (error != Error::none || out != data) ++failures;
  }
  EXPECT_GT(failures, 150);
  // The first chunk must reset the dictionary.
  std::vector<uint8_t> no_reset = {0x02, 0x00, 0x00, 'x', 0x00};
  std::unique_ptr<Source> decoder;
  ASSERT_EQ(make_lzma2_decoder(std::make_unique<VectorSource>(no_reset, 10), {16}, 1, decoder), Error::none);
  Error error;
  drain(*decoder, error);
  EXPECT_EQ(error, Error::damaged);
}

TEST(Lzma2, DictionaryPropertyByte) {
  EXPECT_EQ(lzma2_dictionary_size(0), 4096u);
  EXPECT_EQ(lzma2_dictionary_size(1), 6144u);
  EXPECT_EQ(lzma2_dictionary_size(24), 16u << 20);
  EXPECT_EQ(lzma2_dictionary_size(40), 0xFFFFFFFFu);
  EXPECT_EQ(lzma2_dictionary_size(41), 0u);
}

TEST(Aes, PropertiesRoundTripAndKeyDerivationIsStable) {
  AesParameters parameters = new_aes_parameters();
  parameters.salt = {1, 2, 3};
  AesParameters parsed;
  ASSERT_TRUE(parse_aes_properties(aes_properties(parameters), parsed));
  EXPECT_EQ(parsed.cycles_power, 19);
  EXPECT_EQ(parsed.salt, parameters.salt);
  EXPECT_EQ(parsed.iv, parameters.iv);
  EXPECT_FALSE(parse_aes_properties({0xC0 | 19, 0xFF}, parsed));  // sizes beyond the bytes

  // Power 0x3F: the key is the salt and password bytes themselves.
  AesParameters raw;
  raw.cycles_power = 0x3F;
  raw.salt = {9};
  std::array<uint8_t, 32> key;
  ASSERT_EQ(derive_aes_key(u"AB", raw, key), Error::none);
  EXPECT_EQ(key[0], 9);
  EXPECT_EQ(key[1], 'A');
  EXPECT_EQ(key[2], 0);
  EXPECT_EQ(key[3], 'B');
  EXPECT_EQ(key[5], 0);

  AesParameters a;
  a.cycles_power = 6;
  std::array<uint8_t, 32> k1, k2, k3;
  ASSERT_EQ(derive_aes_key(u"secret", a, k1), Error::none);
  ASSERT_EQ(derive_aes_key(u"secret", a, k2), Error::none);
  ASSERT_EQ(derive_aes_key(u"secreT", a, k3), Error::none);
  EXPECT_EQ(k1, k2);
  EXPECT_NE(k1, k3);
  a.cycles_power = 40;
  EXPECT_EQ(derive_aes_key(u"secret", a, k1), Error::unsupported);
}

}  // namespace
}  // namespace kyt::sevenzip
