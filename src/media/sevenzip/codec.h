// Internal byte pipelines of the 7z library. Decoding pulls bytes through a
// chain of Sources (packed data -> AES -> LZMA -> BCJ -> items); encoding
// pulls the items' bytes through filter Sources and pushes the coded bytes
// into Sinks. Every Source knows how many bytes it must produce and reports
// Error::damaged when its input ends early or is malformed.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "media/sevenzip/archive.h"

namespace kyt::sevenzip {

class Source {
 public:
  virtual ~Source() = default;
  // Fills up to `length` bytes; sets `length` to the count produced. A
  // count of 0 with Error::none means the end of the data.
  virtual Error read(uint8_t* data, size_t& length) = 0;
};

class Sink {
 public:
  virtual ~Sink() = default;
  virtual Error write(const uint8_t* data, size_t length) = 0;
};

// Reads exactly `length` bytes unless the source ends first (then `length`
// holds what was read).
Error read_full(Source& source, uint8_t* data, size_t& length);

// Bytes [offset, offset + length) of an InStream.
std::unique_ptr<Source> make_range_source(InStream& stream, uint64_t offset, uint64_t length);
// A view of another source that ends after `length` bytes and reports
// damage if the inner source ends before.
std::unique_ptr<Source> make_limited_source(std::unique_ptr<Source> inner, uint64_t length);

// Upper bound for one LZMA dictionary allocation while decoding; beyond it
// decoding fails with Error::out_of_resources instead of trying.
constexpr uint64_t kMaxDecoderDictionary = sizeof(void*) >= 8 ? (uint64_t(3) << 29) : (uint64_t(1) << 28);

// Decoders. `output_size` is the exact number of bytes they must produce.
Error make_lzma_decoder(std::unique_ptr<Source> input, const std::vector<uint8_t>& properties, uint64_t output_size,
                        std::unique_ptr<Source>& decoder);
Error make_lzma2_decoder(std::unique_ptr<Source> input, const std::vector<uint8_t>& properties, uint64_t output_size,
                         std::unique_ptr<Source>& decoder);
std::unique_ptr<Source> make_bcj_decoder(std::unique_ptr<Source> input);
std::unique_ptr<Source> make_bcj_encoder(std::unique_ptr<Source> input);
// BCJ2: inputs are the main, call, jump and range-coder streams.
std::unique_ptr<Source> make_bcj2_decoder(std::array<std::unique_ptr<Source>, 4> inputs, uint64_t output_size);

// The x86 branch converter on a buffer: converts what it can and returns the
// number of bytes done (the tail may need more bytes to decide).
size_t bcj_x86_convert(uint8_t* data, size_t size, uint32_t position, uint32_t& state, bool encoding);

struct LzmaSettings {
  uint32_t dictionary = 1u << 24;
  int level = 5;
  int fast_bytes = 32;
  bool binary_tree = true;
  uint64_t expected_size = UINT64_MAX;  // lets the encoder shrink its dictionary
};

// Encoders: pull all of `input`, push the coded stream to `output`, and
// return the coder properties for the header.
Error lzma_encode(Source& input, Sink& output, const LzmaSettings& settings, std::vector<uint8_t>& properties);
Error lzma2_encode(Source& input, Sink& output, const LzmaSettings& settings, std::vector<uint8_t>& properties);
// The dictionary size an LZMA2 property byte stands for (0 for invalid bytes).
uint64_t lzma2_dictionary_size(uint8_t property);

// AES-256-CBC with 7z's key derivation.
struct AesParameters {
  int cycles_power = 19;
  std::vector<uint8_t> salt;
  std::array<uint8_t, 16> iv{};
};
// Parses / produces the coder properties of the AES coder.
bool parse_aes_properties(const std::vector<uint8_t>& properties, AesParameters& parameters);
std::vector<uint8_t> aes_properties(const AesParameters& parameters);
// A fresh random IV, no salt, 2^19 rounds: what the writer uses.
AesParameters new_aes_parameters();
// The key for a password (UTF-16LE) under these parameters; remembers the
// last few derivations because they are deliberately slow.
Error derive_aes_key(const std::u16string& password, const AesParameters& parameters, std::array<uint8_t, 32>& key);
Error make_aes_decoder(std::unique_ptr<Source> input, const std::array<uint8_t, 32>& key,
                       const std::array<uint8_t, 16>& iv, std::unique_ptr<Source>& decoder);
// Encrypts what it is given and zero-pads the last block on finish().
class AesEncryptSink : public Sink {
 public:
  AesEncryptSink(Sink& output, const std::array<uint8_t, 32>& key, const std::array<uint8_t, 16>& iv);
  ~AesEncryptSink() override;
  Error write(const uint8_t* data, size_t length) override;
  Error finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace kyt::sevenzip
