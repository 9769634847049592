// Generic sources: archive ranges and length-limited views.
#include <algorithm>

#include "media/sevenzip/codec.h"

namespace kyt::sevenzip {

Error read_full(Source& source, uint8_t* data, size_t& length) {
  size_t done = 0;
  while (done < length) {
    size_t chunk = length - done;
    Error error = source.read(data + done, chunk);
    if (error != Error::none) return error;
    if (chunk == 0) break;
    done += chunk;
  }
  length = done;
  return Error::none;
}

namespace {

class RangeSource : public Source {
 public:
  RangeSource(InStream& stream, uint64_t offset, uint64_t length) : stream_(stream), offset_(offset), left_(length) {}
  Error read(uint8_t* data, size_t& length) override {
    length = size_t(std::min<uint64_t>(length, left_));
    if (length == 0) return Error::none;
    if (!stream_.read_at(offset_, data, length)) {
      length = 0;
      return Error::damaged;
    }
    offset_ += length;
    left_ -= length;
    return Error::none;
  }

 private:
  InStream& stream_;
  uint64_t offset_, left_;
};

class LimitedSource : public Source {
 public:
  LimitedSource(std::unique_ptr<Source> inner, uint64_t length) : inner_(std::move(inner)), left_(length) {}
  Error read(uint8_t* data, size_t& length) override {
    length = size_t(std::min<uint64_t>(length, left_));
    if (length == 0) return Error::none;
    Error error = inner_->read(data, length);
    if (error != Error::none) return error;
    if (length == 0) return Error::damaged;
    left_ -= length;
    return Error::none;
  }

 private:
  std::unique_ptr<Source> inner_;
  uint64_t left_;
};

}  // namespace

std::unique_ptr<Source> make_range_source(InStream& stream, uint64_t offset, uint64_t length) {
  return std::make_unique<RangeSource>(stream, offset, length);
}

std::unique_ptr<Source> make_limited_source(std::unique_ptr<Source> inner, uint64_t length) {
  return std::make_unique<LimitedSource>(std::move(inner), length);
}

}  // namespace kyt::sevenzip
