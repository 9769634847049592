// Branch converters for x86 code. BCJ rewrites the relative targets of
// CALL (E8) and JMP (E9) into absolute ones so that repeated calls to one
// function compress well. BCJ2 splits the converted targets into separate
// streams: main bytes, CALL targets, JMP/Jcc targets (big-endian), and a
// range-coded stream of one bit per candidate opcode saying whether it
// was converted.
#include <algorithm>
#include <cstring>

#include "media/sevenzip/codec.h"

namespace kyt::sevenzip {

namespace {
// A candidate's 32-bit operand is only converted when its top byte is 00 or
// FF (a near target); the mask remembers candidate opcodes among the last
// three bytes, which decide whether a later E8/E9 is really an operand byte.
bool near_top_byte(uint8_t b) { return b == 0 || b == 0xFF; }
constexpr bool kMaskAllowed[8] = {true, true, true, false, true, false, false, false};
constexpr int kMaskBit[8] = {0, 1, 2, 2, 3, 3, 3, 3};
}  // namespace

size_t bcj_x86_convert(uint8_t* data, size_t size, uint32_t position, uint32_t& state, bool encoding) {
  if (size < 5) return 0;
  uint32_t mask = state & 7;
  size_t i = 0;
  size_t previous = size_t(0) - 1;
  const uint32_t base = position + 5;
  for (;;) {
    while (i < size - 4 && (data[i] & 0xFE) != 0xE8) ++i;
    if (i >= size - 4) break;
    size_t distance = i - previous;
    if (distance > 3) {
      mask = 0;
    } else {
      mask = (mask << (distance - 1)) & 7;
      if (mask != 0) {
        uint8_t b = data[i + 4 - kMaskBit[mask]];
        if (!kMaskAllowed[mask] || near_top_byte(b)) {
          previous = i;
          mask = ((mask << 1) & 7) | 1;
          ++i;
          continue;
        }
      }
    }
    previous = i;
    uint8_t* operand = data + i + 1;
    if (!near_top_byte(operand[3])) {
      mask = ((mask << 1) & 7) | 1;
      ++i;
      continue;
    }
    uint32_t source = uint32_t(operand[0]) | uint32_t(operand[1]) << 8 | uint32_t(operand[2]) << 16 |
                      uint32_t(operand[3]) << 24;
    uint32_t target;
    for (;;) {
      const uint32_t here = base + uint32_t(i);
      target = encoding ? source + here : source - here;
      if (mask == 0) break;
      int shift = kMaskBit[mask] * 8;
      if (!near_top_byte(uint8_t(target >> (24 - shift)))) break;
      source = target ^ ((uint32_t(1) << (32 - shift)) - 1);
    }
    operand[3] = uint8_t(~(((target >> 24) & 1) - 1));
    operand[2] = uint8_t(target >> 16);
    operand[1] = uint8_t(target >> 8);
    operand[0] = uint8_t(target);
    i += 5;
  }
  size_t distance = i - previous;
  state = distance > 3 ? 0 : (mask << (distance - 1)) & 7;
  return i;
}

namespace {

class BcjSource : public Source {
 public:
  BcjSource(std::unique_ptr<Source> input, bool encoding)
      : input_(std::move(input)), encoding_(encoding), buffer_(1 << 16) {}

  Error read(uint8_t* data, size_t& length) override {
    for (;;) {
      if (start_ < converted_) {
        size_t n = std::min(length, converted_ - start_);
        std::memcpy(data, buffer_.data() + start_, n);
        start_ += n;
        length = n;
        return Error::none;
      }
      size_t tail = filled_ - converted_;
      std::memmove(buffer_.data(), buffer_.data() + converted_, tail);
      start_ = converted_ = 0;
      filled_ = tail;
      if (ended_) {
        // The last few bytes cannot hold a whole instruction: as they are.
        if (filled_ == 0) {
          length = 0;
          return Error::none;
        }
        converted_ = filled_;
        continue;
      }
      size_t n = buffer_.size() - filled_;
      if (Error error = input_->read(buffer_.data() + filled_, n); error != Error::none) {
        length = 0;
        return error;
      }
      if (n == 0) {
        ended_ = true;
        continue;
      }
      filled_ += n;
      converted_ = bcj_x86_convert(buffer_.data(), filled_, position_, state_, encoding_);
      position_ += uint32_t(converted_);
    }
  }

 private:
  std::unique_ptr<Source> input_;
  bool encoding_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0, converted_ = 0, filled_ = 0;
  uint32_t position_ = 0, state_ = 0;
  bool ended_ = false;
};

// Byte-wise reads from a source through a buffer.
class BufferedInput {
 public:
  explicit BufferedInput(std::unique_ptr<Source> source, size_t size = 1 << 16)
      : source_(std::move(source)), buffer_(size) {}
  // Available bytes; refills when empty. 0 means the end.
  Error available(size_t& count) {
    if (position_ == filled_) {
      size_t n = buffer_.size();
      if (Error error = source_->read(buffer_.data(), n); error != Error::none) return error;
      position_ = 0;
      filled_ = n;
    }
    count = filled_ - position_;
    return Error::none;
  }
  const uint8_t* data() const { return buffer_.data() + position_; }
  void skip(size_t n) { position_ += n; }
  Error byte(uint8_t& value) {
    size_t count;
    if (Error error = available(count); error != Error::none) return error;
    if (count == 0) return Error::damaged;
    value = buffer_[position_++];
    return Error::none;
  }

 private:
  std::unique_ptr<Source> source_;
  std::vector<uint8_t> buffer_;
  size_t position_ = 0, filled_ = 0;
};

class Bcj2Decoder : public Source {
 public:
  Bcj2Decoder(std::array<std::unique_ptr<Source>, 4> inputs, uint64_t output_size)
      : main_(std::move(inputs[0])),
        call_(std::move(inputs[1]), 1 << 12),
        jump_(std::move(inputs[2]), 1 << 12),
        bits_(std::move(inputs[3]), 1 << 12),
        left_(output_size) {
    std::fill(std::begin(probabilities_), std::end(probabilities_), uint16_t(1024));
  }

  Error read(uint8_t* data, size_t& length) override {
    size_t done = 0;
    Error error = Error::none;
    if (!started_) {
      for (int i = 0; i < 5 && error == Error::none; ++i) {
        uint8_t b = 0;
        error = bits_.byte(b);
        code_ = code_ << 8 | b;
      }
      started_ = true;
    }
    while (error == Error::none && done < length && left_ > 0) {
      if (pending_position_ < 4) {
        data[done++] = pending_[pending_position_++];
        --left_;
        continue;
      }
      if (opcode_pending_) {
        error = decode_target();
        continue;
      }
      size_t count = 0;
      if ((error = main_.available(count)) != Error::none) break;
      if (count == 0) {
        error = Error::damaged;
        break;
      }
      size_t n = size_t(std::min<uint64_t>({count, length - done, left_}));
      const uint8_t* in = main_.data();
      size_t i = 0;
      bool opcode = false;
      uint8_t previous = previous_;
      for (; i < n; ++i) {
        uint8_t b = in[i];
        data[done + i] = b;
        if (b == 0xE8 || b == 0xE9 || (previous == 0x0F && (b & 0xF0) == 0x80)) {
          opcode = true;
          opcode_ = b;
          ++i;
          break;
        }
        previous = b;
      }
      previous_ = previous;
      main_.skip(i);
      done += i;
      left_ -= i;
      position_ += uint32_t(i);
      opcode_pending_ = opcode && left_ > 0;
    }
    length = done;
    return error;
  }

 private:
  Error decode_target() {
    opcode_pending_ = false;
    uint16_t& probability = opcode_ == 0xE8 ? probabilities_[previous_] : probabilities_[opcode_ == 0xE9 ? 256 : 257];
    uint32_t bound = (range_ >> 11) * probability;
    bool converted;
    if (code_ < bound) {
      range_ = bound;
      probability += (2048 - probability) >> 5;
      converted = false;
    } else {
      range_ -= bound;
      code_ -= bound;
      probability -= probability >> 5;
      converted = true;
    }
    if (range_ < (1u << 24)) {
      uint8_t b;
      if (Error error = bits_.byte(b); error != Error::none) return error;
      range_ <<= 8;
      code_ = code_ << 8 | b;
    }
    if (!converted) {
      previous_ = opcode_;
      return Error::none;
    }
    BufferedInput& stream = opcode_ == 0xE8 ? call_ : jump_;
    uint32_t source = 0;
    for (int k = 0; k < 4; ++k) {
      uint8_t b;
      if (Error error = stream.byte(b); error != Error::none) return error;
      source = source << 8 | b;
    }
    uint32_t target = source - (position_ + 4);
    for (int k = 0; k < 4; ++k) pending_[k] = uint8_t(target >> (8 * k));
    pending_position_ = 0;
    previous_ = uint8_t(target >> 24);
    position_ += 4;
    return Error::none;
  }

  BufferedInput main_, call_, jump_, bits_;
  uint64_t left_;
  uint16_t probabilities_[258];
  uint32_t range_ = 0xFFFFFFFF, code_ = 0;
  bool started_ = false, opcode_pending_ = false;
  uint8_t previous_ = 0, opcode_ = 0;
  uint32_t position_ = 0;
  uint8_t pending_[4] = {};
  int pending_position_ = 4;
};

}  // namespace

std::unique_ptr<Source> make_bcj_decoder(std::unique_ptr<Source> input) {
  return std::make_unique<BcjSource>(std::move(input), false);
}

std::unique_ptr<Source> make_bcj_encoder(std::unique_ptr<Source> input) {
  return std::make_unique<BcjSource>(std::move(input), true);
}

std::unique_ptr<Source> make_bcj2_decoder(std::array<std::unique_ptr<Source>, 4> inputs, uint64_t output_size) {
  return std::make_unique<Bcj2Decoder>(std::move(inputs), output_size);
}

}  // namespace kyt::sevenzip
