// LZMA and LZMA2 on top of the LZMA SDK's raw coder. The SDK supplies the
// LZMA coder itself; the LZMA2 chunk framing is done here.
//
// LZMA2 stream := chunk* 0x00
// chunk := 0x01 size16 bytes           uncompressed, dictionary reset
//        | 0x02 size16 bytes           uncompressed, no reset
//        | 1 mm uuuuu  u16 p16 [props] LZMA data
// where size16/u16/p16 are big-endian (size - 1), uuuuu are bits 16..20 of
// the unpacked size - 1, and mm selects the reset: 0 none, 1 state,
// 2 state + new properties (props byte follows), 3 everything incl. the
// dictionary. Each LZMA chunk starts a fresh range coder.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "media/sevenzip/codec.h"

#ifdef _WIN32
// The SDK's Types.h includes windows.h on Windows; keep it small.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#endif
extern "C" {
#include "LzmaDec.h"
#include "LzmaEnc.h"

// LZMA2 building blocks the SDK defines but does not declare.
SRes LzmaEnc_PrepareForLzma2(CLzmaEncHandle encoder, ISeqInStream* input, UInt32 keep_window_size,
                             ISzAlloc* alloc, ISzAlloc* alloc_big);
SRes LzmaEnc_CodeOneMemBlock(CLzmaEncHandle encoder, Bool reinit, Byte* dest, size_t* dest_length,
                             UInt32 desired_pack_size, UInt32* unpack_size);
void LzmaEnc_SaveState(CLzmaEncHandle encoder);
void LzmaEnc_RestoreState(CLzmaEncHandle encoder);
const Byte* LzmaEnc_GetCurBuf(CLzmaEncHandle encoder);
void LzmaEnc_Finish(CLzmaEncHandle encoder);
// Resets the decoder's window and/or state; leaves dicPos alone.
void LzmaDec_InitDicAndState(CLzmaDec* decoder, Bool init_dictionary, Bool init_state);
}

namespace kyt::sevenzip {
namespace {

void* sdk_alloc(void*, size_t size) { return size == 0 ? nullptr : std::malloc(size); }
void sdk_free(void*, void* address) { std::free(address); }
ISzAlloc g_allocator = {sdk_alloc, sdk_free};

constexpr size_t kInputBufferSize = 1 << 16;

// What LZMA and LZMA2 decoding share: the SDK decoder with a window owned
// here (never larger than the output needs) and a buffered input.
class WindowDecoder : public Source {
 public:
  WindowDecoder(std::unique_ptr<Source> input, uint64_t output_size)
      : input_(std::move(input)), left_(output_size), buffer_(kInputBufferSize) {
    LzmaDec_Construct(&decoder_);
  }
  ~WindowDecoder() override {
    LzmaDec_FreeProbs(&decoder_, &g_allocator);
    std::free(decoder_.dic);
  }

  // `properties` are LZMA's five bytes; the window is the smaller of the
  // dictionary and the output.
  Error allocate(const uint8_t* properties, uint64_t dictionary) {
    SRes result = LzmaDec_AllocateProbs(&decoder_, properties, LZMA_PROPS_SIZE, &g_allocator);
    if (result == SZ_ERROR_MEM) return Error::out_of_resources;
    if (result != SZ_OK) return Error::unsupported;
    uint64_t window = std::max<uint64_t>(1, std::min<uint64_t>(dictionary, left_));
    if (window > kMaxDecoderDictionary) return Error::out_of_resources;
    decoder_.dic = static_cast<Byte*>(std::malloc(size_t(window)));
    if (!decoder_.dic) return Error::out_of_resources;
    decoder_.dicBufSize = size_t(window);
    // Distances are checked against the window, which holds everything a
    // valid stream can refer to.
    decoder_.prop.dicSize = uint32_t(std::min<uint64_t>(window, UINT32_MAX));
    LzmaDec_Init(&decoder_);
    return Error::none;
  }

 protected:
  // Makes input available unless the source has ended.
  Error fill() {
    if (position_ < filled_ || ended_) return Error::none;
    size_t length = buffer_.size();
    Error error = input_->read(buffer_.data(), length);
    if (error != Error::none) return error;
    position_ = 0;
    filled_ = length;
    ended_ = length == 0;
    return Error::none;
  }
  Error next_byte(uint8_t& byte) {
    if (Error error = fill(); error != Error::none) return error;
    if (position_ == filled_) return Error::damaged;
    byte = buffer_[position_++];
    return Error::none;
  }

  // Decodes up to `wanted` bytes (bounded by the window end) with at most
  // `input_limit` input bytes; appends them to `out`.
  Error decode_step(uint8_t* out, size_t wanted, uint64_t input_limit, size_t& produced, size_t& consumed,
                    ELzmaStatus& status) {
    if (decoder_.dicPos == decoder_.dicBufSize) decoder_.dicPos = 0;
    if (Error error = fill(); error != Error::none) return error;
    size_t start = decoder_.dicPos;
    size_t limit = start + std::min(wanted, decoder_.dicBufSize - start);
    SizeT input_length = SizeT(std::min<uint64_t>(filled_ - position_, input_limit));
    SRes result = LzmaDec_DecodeToDic(&decoder_, limit, buffer_.data() + position_, &input_length, LZMA_FINISH_ANY,
                                      &status);
    position_ += input_length;
    consumed = input_length;
    produced = decoder_.dicPos - start;
    std::memcpy(out, decoder_.dic + start, produced);
    if (result != SZ_OK) return Error::damaged;
    if (produced == 0 && consumed == 0 && position_ == filled_ && ended_) return Error::damaged;
    return Error::none;
  }

  CLzmaDec decoder_;
  std::unique_ptr<Source> input_;
  uint64_t left_;
  std::vector<uint8_t> buffer_;
  size_t position_ = 0, filled_ = 0;
  bool ended_ = false;
};

class LzmaDecoder : public WindowDecoder {
 public:
  using WindowDecoder::WindowDecoder;
  Error read(uint8_t* data, size_t& length) override {
    size_t done = 0;
    while (done < length && left_ > 0) {
      size_t produced = 0, consumed = 0;
      ELzmaStatus status;
      size_t wanted = size_t(std::min<uint64_t>(length - done, left_));
      Error error = decode_step(data + done, wanted, UINT64_MAX, produced, consumed, status);
      done += produced;
      left_ -= produced;
      if (error != Error::none) {
        length = done;
        return error;
      }
      if (status == LZMA_STATUS_FINISHED_WITH_MARK && left_ > 0) {
        length = done;
        return Error::damaged;
      }
    }
    length = done;
    return Error::none;
  }
};

class Lzma2Decoder : public WindowDecoder {
 public:
  using WindowDecoder::WindowDecoder;
  Error read(uint8_t* data, size_t& length) override {
    size_t done = 0;
    Error error = Error::none;
    while (done < length && left_ > 0) {
      if (chunk_unpacked_ == 0) {
        error = start_chunk();
        if (error != Error::none) break;
        continue;
      }
      size_t wanted = size_t(std::min<uint64_t>(length - done, chunk_unpacked_));
      size_t produced = 0;
      if (chunk_is_lzma_) {
        size_t consumed = 0;
        ELzmaStatus status;
        error = decode_step(data + done, wanted, chunk_packed_, produced, consumed, status);
        chunk_packed_ -= consumed;
        if (error == Error::none && produced == 0 && (chunk_packed_ == 0 || status == LZMA_STATUS_FINISHED_WITH_MARK))
          error = Error::damaged;
      } else {
        error = copy_step(data + done, wanted, produced);
      }
      done += produced;
      left_ -= produced;
      chunk_unpacked_ -= produced;
      if (error != Error::none) break;
      if (chunk_unpacked_ == 0 && chunk_is_lzma_) error = skip_packed_rest();
      if (error != Error::none) break;
    }
    length = done;
    return error;
  }

 private:
  Error start_chunk() {
    uint8_t control, b1, b2;
    if (Error e = next_byte(control); e != Error::none) return e;
    if (control == 0 || (control > 2 && control < 0x80)) return Error::damaged;
    if (Error e = next_byte(b1); e != Error::none) return e;
    if (Error e = next_byte(b2); e != Error::none) return e;
    if (control <= 2) {
      if (control == 1) {
        LzmaDec_InitDicAndState(&decoder_, True, False);
        need_dictionary_reset_ = false;
      } else if (need_dictionary_reset_) {
        return Error::damaged;
      }
      chunk_is_lzma_ = false;
      chunk_unpacked_ = (uint32_t(b1) << 8 | b2) + 1;
    } else {
      chunk_unpacked_ = (uint32_t(control & 0x1F) << 16 | uint32_t(b1) << 8 | b2) + 1;
      uint8_t p1, p2;
      if (Error e = next_byte(p1); e != Error::none) return e;
      if (Error e = next_byte(p2); e != Error::none) return e;
      chunk_packed_ = (uint32_t(p1) << 8 | p2) + 1;
      unsigned mode = (control >> 5) & 3;
      if (need_dictionary_reset_ && mode != 3) return Error::damaged;
      if (mode >= 2) {
        uint8_t properties;
        if (Error e = next_byte(properties); e != Error::none) return e;
        if (properties >= 9 * 5 * 5) return Error::damaged;
        unsigned lc = properties % 9, lp = (properties / 9) % 5, pb = properties / 45;
        if (lc + lp > 4) return Error::damaged;
        // Probabilities were allocated for lc + lp = 4, the LZMA2 maximum.
        decoder_.prop.lc = lc;
        decoder_.prop.lp = lp;
        decoder_.prop.pb = pb;
        need_properties_ = false;
      } else if (need_properties_) {
        return Error::damaged;
      }
      LzmaDec_InitDicAndState(&decoder_, mode == 3, mode >= 1);
      need_dictionary_reset_ = false;
      chunk_is_lzma_ = true;
    }
    if (chunk_unpacked_ > left_) return Error::damaged;
    return Error::none;
  }

  // Uncompressed chunk bytes go through the window so later LZMA chunks can
  // refer to them.
  Error copy_step(uint8_t* out, size_t wanted, size_t& produced) {
    produced = 0;
    if (decoder_.dicPos == decoder_.dicBufSize) decoder_.dicPos = 0;
    if (Error e = fill(); e != Error::none) return e;
    size_t n = std::min({wanted, decoder_.dicBufSize - decoder_.dicPos, filled_ - position_});
    if (n == 0) return Error::damaged;
    std::memcpy(decoder_.dic + decoder_.dicPos, buffer_.data() + position_, n);
    std::memcpy(out, buffer_.data() + position_, n);
    position_ += n;
    decoder_.dicPos += n;
    if (decoder_.checkDicSize == 0 && decoder_.prop.dicSize - decoder_.processedPos <= n)
      decoder_.checkDicSize = decoder_.prop.dicSize;
    decoder_.processedPos += uint32_t(n);
    produced = n;
    return Error::none;
  }

  Error skip_packed_rest() {
    while (chunk_packed_ > 0) {
      if (Error e = fill(); e != Error::none) return e;
      size_t n = size_t(std::min<uint64_t>(chunk_packed_, filled_ - position_));
      if (n == 0) return Error::damaged;
      position_ += n;
      chunk_packed_ -= n;
    }
    return Error::none;
  }

  uint64_t chunk_unpacked_ = 0, chunk_packed_ = 0;
  bool chunk_is_lzma_ = false;
  bool need_dictionary_reset_ = true, need_properties_ = true;
};

// Adapters from the SDK's stream callbacks to Source and Sink.
struct InAdapter {
  ISeqInStream vtable;
  Source* source;
  Error error = Error::none;
  static SRes read(void* self, void* data, size_t* size) {
    auto adapter = static_cast<InAdapter*>(self);
    Error error = adapter->source->read(static_cast<uint8_t*>(data), *size);
    if (error != Error::none) {
      adapter->error = error;
      *size = 0;
      return SZ_ERROR_READ;
    }
    return SZ_OK;
  }
  explicit InAdapter(Source& s) : vtable{read}, source(&s) {}
};

struct OutAdapter {
  ISeqOutStream vtable;
  Sink* sink;
  Error error = Error::none;
  static size_t write(void* self, const void* data, size_t size) {
    auto adapter = static_cast<OutAdapter*>(self);
    Error error = adapter->sink->write(static_cast<const uint8_t*>(data), size);
    if (error != Error::none) {
      adapter->error = error;
      return 0;
    }
    return size;
  }
  explicit OutAdapter(Sink& s) : vtable{write}, sink(&s) {}
};

struct EncoderHandle {
  CLzmaEncHandle handle = LzmaEnc_Create(&g_allocator);
  ~EncoderHandle() {
    if (handle) LzmaEnc_Destroy(handle, &g_allocator, &g_allocator);
  }
};

CLzmaEncProps encoder_properties(const LzmaSettings& settings) {
  CLzmaEncProps properties;
  LzmaEncProps_Init(&properties);
  properties.level = std::clamp(settings.level, 0, 9);
  properties.dictSize = std::clamp<uint32_t>(settings.dictionary, 1u << 12, sizeof(void*) >= 8 ? 1u << 30 : 1u << 27);
  properties.fb = std::clamp(settings.fast_bytes, 5, 273);
  properties.btMode = settings.binary_tree ? 1 : 0;
  properties.numHashBytes = 4;
  properties.numThreads = 1;
  properties.reduceSize = uint32_t(std::min<uint64_t>(settings.expected_size, 0xFFFFFFFFu));
  LzmaEncProps_Normalize(&properties);
  return properties;
}

Error map_encoder_result(SRes result, const InAdapter& in, const OutAdapter& out) {
  if (result == SZ_OK) return Error::none;
  if (in.error != Error::none) return in.error;
  if (out.error != Error::none) return out.error;
  if (result == SZ_ERROR_MEM) return Error::out_of_resources;
  return Error::unsupported;
}

uint8_t lzma2_property_for(uint32_t dictionary) {
  for (uint8_t p = 0; p < 40; ++p)
    if (lzma2_dictionary_size(p) >= dictionary) return p;
  return 40;
}

}  // namespace

uint64_t lzma2_dictionary_size(uint8_t property) {
  if (property > 40) return 0;
  if (property == 40) return 0xFFFFFFFFu;
  return uint64_t(2 | (property & 1)) << (property / 2 + 11);
}

Error make_lzma_decoder(std::unique_ptr<Source> input, const std::vector<uint8_t>& properties, uint64_t output_size,
                        std::unique_ptr<Source>& decoder) {
  if (properties.size() < LZMA_PROPS_SIZE) return Error::damaged;
  uint32_t dictionary = uint32_t(properties[1]) | uint32_t(properties[2]) << 8 | uint32_t(properties[3]) << 16 |
                        uint32_t(properties[4]) << 24;
  auto result = std::make_unique<LzmaDecoder>(std::move(input), output_size);
  if (Error error = result->allocate(properties.data(), std::max<uint32_t>(dictionary, 1u << 12));
      error != Error::none)
    return error;
  decoder = std::move(result);
  return Error::none;
}

Error make_lzma2_decoder(std::unique_ptr<Source> input, const std::vector<uint8_t>& properties, uint64_t output_size,
                         std::unique_ptr<Source>& decoder) {
  if (properties.size() != 1 || properties[0] > 40) return Error::unsupported;
  uint64_t dictionary = lzma2_dictionary_size(properties[0]);
  // lc = 4, lp = 0: the largest probability table LZMA2 can ask for.
  uint8_t lzma_properties[LZMA_PROPS_SIZE] = {4, 0, 0, 0, 0x01};
  auto result = std::make_unique<Lzma2Decoder>(std::move(input), output_size);
  if (Error error = result->allocate(lzma_properties, dictionary); error != Error::none) return error;
  decoder = std::move(result);
  return Error::none;
}

Error lzma_encode(Source& input, Sink& output, const LzmaSettings& settings, std::vector<uint8_t>& properties) {
  EncoderHandle encoder;
  if (!encoder.handle) return Error::out_of_resources;
  CLzmaEncProps props = encoder_properties(settings);
  if (LzmaEnc_SetProps(encoder.handle, &props) != SZ_OK) return Error::unsupported;
  properties.assign(LZMA_PROPS_SIZE, 0);
  SizeT size = LZMA_PROPS_SIZE;
  LzmaEnc_WriteProperties(encoder.handle, properties.data(), &size);
  InAdapter in(input);
  OutAdapter out(output);
  SRes result = LzmaEnc_Encode(encoder.handle, &out.vtable, &in.vtable, nullptr, &g_allocator, &g_allocator);
  return map_encoder_result(result, in, out);
}

// One LZMA2 stream: LZMA chunks of up to 2 MiB unpacked / 64 KiB packed;
// a chunk that does not shrink is stored instead, with the coder's state
// rolled back so that encoder and decoder models stay in step.
Error lzma2_encode(Source& input, Sink& output, const LzmaSettings& settings, std::vector<uint8_t>& properties) {
  constexpr uint32_t kMaxUnpacked = 1u << 21, kMaxPacked = 1u << 16, kCopyChunk = 1u << 16;
  EncoderHandle encoder;
  if (!encoder.handle) return Error::out_of_resources;
  CLzmaEncProps props = encoder_properties(settings);
  props.lc = 3;
  props.lp = 0;
  props.pb = 2;
  props.writeEndMark = 0;
  if (LzmaEnc_SetProps(encoder.handle, &props) != SZ_OK) return Error::unsupported;
  properties.assign(1, lzma2_property_for(LzmaEncProps_GetDictSize(&props)));
  const uint8_t lzma_property_byte = uint8_t((props.pb * 5 + props.lp) * 9 + props.lc);

  InAdapter in(input);
  OutAdapter out(output);
  SRes result = LzmaEnc_PrepareForLzma2(encoder.handle, &in.vtable, kMaxUnpacked, &g_allocator, &g_allocator);
  if (result != SZ_OK) return map_encoder_result(result, in, out);

  std::vector<uint8_t> chunk(6 + kMaxPacked + 16);
  bool need_state = true, need_properties = true;
  uint64_t position = 0;
  Error error = Error::none;
  for (;;) {
    size_t packed = kMaxPacked;
    UInt32 unpacked = kMaxUnpacked;
    const size_t header = need_properties ? 6 : 5;
    LzmaEnc_SaveState(encoder.handle);
    result = LzmaEnc_CodeOneMemBlock(encoder.handle, need_state, chunk.data() + header, &packed, kMaxPacked, &unpacked);
    if (in.error != Error::none) {
      error = in.error;
      break;
    }
    if (unpacked == 0) {
      if (result != SZ_OK) error = map_encoder_result(result, in, out);
      break;
    }
    bool store = false;
    if (result == SZ_OK) {
      store = packed + 2 >= unpacked || packed > kMaxPacked;
    } else if (result == SZ_ERROR_OUTPUT_EOF) {
      store = true;
    } else {
      error = map_encoder_result(result, in, out);
      break;
    }
    if (store) {
      const uint8_t* data = LzmaEnc_GetCurBuf(encoder.handle) - unpacked;
      for (uint32_t left = unpacked; left > 0;) {
        uint32_t n = std::min(left, kCopyChunk);
        uint8_t head[3] = {uint8_t(position == 0 ? 1 : 2), uint8_t((n - 1) >> 8), uint8_t(n - 1)};
        if ((error = output.write(head, 3)) != Error::none || (error = output.write(data, n)) != Error::none) break;
        data += n;
        left -= n;
        position += n;
      }
      if (error != Error::none) break;
      LzmaEnc_RestoreState(encoder.handle);
      continue;
    }
    unsigned mode = position == 0 ? 3 : need_state ? (need_properties ? 2 : 1) : 0;
    uint32_t u = unpacked - 1, p = uint32_t(packed - 1);
    chunk[0] = uint8_t(0x80 | mode << 5 | ((u >> 16) & 0x1F));
    chunk[1] = uint8_t(u >> 8);
    chunk[2] = uint8_t(u);
    chunk[3] = uint8_t(p >> 8);
    chunk[4] = uint8_t(p);
    if (need_properties) chunk[5] = lzma_property_byte;
    need_properties = need_state = false;
    position += unpacked;
    if ((error = output.write(chunk.data(), header + packed)) != Error::none) break;
  }
  LzmaEnc_Finish(encoder.handle);
  if (error != Error::none) return error;
  const uint8_t end = 0;
  return output.write(&end, 1);
}

}  // namespace kyt::sevenzip
