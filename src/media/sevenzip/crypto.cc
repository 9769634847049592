// AES-256-CBC and the key derivation of 7z archives, on libgcrypt.
//
// AES coder properties := b0 [b1 salt iv]
//   b0: bits 0..5 cycles power, bit 7 salt present, bit 6 IV present
//   b1: high nibble salt size - 1, low nibble IV size - 1 (sizes add the
//       b0 bits: salt = bit7 + high nibble, iv = bit6 + low nibble)
// key := SHA-256 over 2^power repetitions of (salt, password UTF-16LE,
//        round counter as 8 bytes little-endian); power 0x3F means the key is
//        salt + password bytes, zero-padded, without hashing.
#include <gcrypt.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "media/sevenzip/codec.h"

namespace kyt::sevenzip {
namespace {

void initialise_gcrypt() {
  static std::once_flag once;
  std::call_once(once, [] {
    if (!gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) {
      gcry_check_version(nullptr);
      gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
      gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
    }
  });
}

struct CachedKey {
  std::u16string password;
  int cycles_power;
  std::vector<uint8_t> salt;
  std::array<uint8_t, 32> key;
};
std::mutex g_cache_mutex;
std::vector<CachedKey> g_cache;  // most recent last, a handful at most

struct Cipher {
  gcry_cipher_hd_t handle = nullptr;
  ~Cipher() {
    if (handle) gcry_cipher_close(handle);
  }
  bool open(const std::array<uint8_t, 32>& key, const std::array<uint8_t, 16>& iv) {
    initialise_gcrypt();
    return gcry_cipher_open(&handle, GCRY_CIPHER_AES256, GCRY_CIPHER_MODE_CBC, 0) == 0 &&
           gcry_cipher_setkey(handle, key.data(), key.size()) == 0 && gcry_cipher_setiv(handle, iv.data(), iv.size()) == 0;
  }
};

class AesDecoder : public Source {
 public:
  explicit AesDecoder(std::unique_ptr<Source> input) : input_(std::move(input)), buffer_(1 << 16) {}
  Cipher cipher;

  Error read(uint8_t* data, size_t& length) override {
    for (;;) {
      if (start_ < decrypted_) {
        size_t n = std::min(length, decrypted_ - start_);
        std::memcpy(data, buffer_.data() + start_, n);
        start_ += n;
        length = n;
        return Error::none;
      }
      size_t tail = filled_ - decrypted_;
      std::memmove(buffer_.data(), buffer_.data() + decrypted_, tail);
      filled_ = tail;
      start_ = decrypted_ = 0;
      size_t n = buffer_.size() - filled_;
      if (Error error = input_->read(buffer_.data() + filled_, n); error != Error::none) {
        length = 0;
        return error;
      }
      if (n == 0) {
        // A partial last block cannot be decrypted; what is wanted of it is
        // the consumer's business (it sees the stream end early).
        length = 0;
        return Error::none;
      }
      filled_ += n;
      size_t whole = filled_ & ~size_t(15);
      if (whole > 0 && gcry_cipher_decrypt(cipher.handle, buffer_.data(), whole, nullptr, 0) != 0) {
        length = 0;
        return Error::damaged;
      }
      decrypted_ = whole;
    }
  }

 private:
  std::unique_ptr<Source> input_;
  std::vector<uint8_t> buffer_;
  size_t start_ = 0, decrypted_ = 0, filled_ = 0;
};

}  // namespace

bool parse_aes_properties(const std::vector<uint8_t>& properties, AesParameters& parameters) {
  parameters = AesParameters{};
  if (properties.empty()) return false;
  const uint8_t b0 = properties[0];
  parameters.cycles_power = b0 & 0x3F;
  if ((b0 & 0xC0) == 0) return properties.size() == 1;
  if (properties.size() < 2) return false;
  const uint8_t b1 = properties[1];
  size_t salt_size = ((b0 >> 7) & 1) + (b1 >> 4);
  size_t iv_size = ((b0 >> 6) & 1) + (b1 & 0x0F);
  if (properties.size() != 2 + salt_size + iv_size) return false;
  parameters.salt.assign(properties.begin() + 2, properties.begin() + 2 + salt_size);
  std::copy_n(properties.begin() + 2 + salt_size, iv_size, parameters.iv.begin());
  return true;
}

std::vector<uint8_t> aes_properties(const AesParameters& parameters) {
  const size_t salt = parameters.salt.size(), iv = parameters.iv.size();
  std::vector<uint8_t> out;
  out.push_back(uint8_t(parameters.cycles_power | (salt ? 0x80 : 0) | (iv ? 0x40 : 0)));
  out.push_back(uint8_t((salt ? salt - 1 : 0) << 4 | (iv ? iv - 1 : 0)));
  for (uint8_t b : parameters.salt) out.push_back(b);
  for (uint8_t b : parameters.iv) out.push_back(b);
  return out;
}

AesParameters new_aes_parameters() {
  initialise_gcrypt();
  AesParameters parameters;
  parameters.cycles_power = 19;
  gcry_create_nonce(parameters.iv.data(), parameters.iv.size());
  return parameters;
}

Error derive_aes_key(const std::u16string& password, const AesParameters& parameters, std::array<uint8_t, 32>& key) {
  initialise_gcrypt();
  if (parameters.cycles_power > 24 && parameters.cycles_power != 0x3F) return Error::unsupported;
  {
    std::lock_guard lock(g_cache_mutex);
    for (const CachedKey& cached : g_cache)
      if (cached.password == password && cached.cycles_power == parameters.cycles_power && cached.salt == parameters.salt) {
        key = cached.key;
        return Error::none;
      }
  }
  std::vector<uint8_t> unit(parameters.salt);
  for (char16_t c : password) {
    unit.push_back(uint8_t(c));
    unit.push_back(uint8_t(c >> 8));
  }
  key.fill(0);
  if (parameters.cycles_power == 0x3F) {
    std::copy_n(unit.begin(), std::min<size_t>(unit.size(), 32), key.begin());
  } else {
    gcry_md_hd_t hash;
    if (gcry_md_open(&hash, GCRY_MD_SHA256, 0) != 0) return Error::out_of_resources;
    // Rounds are hashed in batches: one call per batch instead of per round.
    const size_t unit_size = unit.size() + 8;
    const uint64_t rounds = uint64_t(1) << parameters.cycles_power;
    const uint64_t batch = std::max<uint64_t>(1, std::min<uint64_t>(rounds, 65536 / unit_size));
    std::vector<uint8_t> block(size_t(batch * unit_size));
    for (uint64_t round = 0; round < rounds;) {
      uint64_t count = std::min(batch, rounds - round);
      uint8_t* p = block.data();
      for (uint64_t k = 0; k < count; ++k, ++round) {
        std::memcpy(p, unit.data(), unit.size());
        p += unit.size();
        for (int b = 0; b < 8; ++b) *p++ = uint8_t(round >> (8 * b));
      }
      gcry_md_write(hash, block.data(), size_t(p - block.data()));
    }
    std::memcpy(key.data(), gcry_md_read(hash, GCRY_MD_SHA256), 32);
    gcry_md_close(hash);
  }
  std::lock_guard lock(g_cache_mutex);
  if (g_cache.size() >= 4) g_cache.erase(g_cache.begin());
  g_cache.push_back({password, parameters.cycles_power, parameters.salt, key});
  return Error::none;
}

Error make_aes_decoder(std::unique_ptr<Source> input, const std::array<uint8_t, 32>& key,
                       const std::array<uint8_t, 16>& iv, std::unique_ptr<Source>& decoder) {
  auto result = std::make_unique<AesDecoder>(std::move(input));
  if (!result->cipher.open(key, iv)) return Error::unsupported;
  decoder = std::move(result);
  return Error::none;
}

struct AesEncryptSink::State {
  Sink& output;
  Cipher cipher;
  std::vector<uint8_t> pending;
  bool ok = false;
  explicit State(Sink& out) : output(out) {}
};

AesEncryptSink::AesEncryptSink(Sink& output, const std::array<uint8_t, 32>& key, const std::array<uint8_t, 16>& iv)
    : state_(std::make_unique<State>(output)) {
  state_->ok = state_->cipher.open(key, iv);
}

AesEncryptSink::~AesEncryptSink() = default;

Error AesEncryptSink::write(const uint8_t* data, size_t length) {
  if (!state_->ok) return Error::unsupported;
  auto& pending = state_->pending;
  pending.insert(pending.end(), data, data + length);
  size_t whole = pending.size() & ~size_t(15);
  if (whole < (1 << 16)) return Error::none;
  if (gcry_cipher_encrypt(state_->cipher.handle, pending.data(), whole, nullptr, 0) != 0) return Error::unsupported;
  Error error = state_->output.write(pending.data(), whole);
  pending.erase(pending.begin(), pending.begin() + whole);
  return error;
}

Error AesEncryptSink::finish() {
  if (!state_->ok) return Error::unsupported;
  auto& pending = state_->pending;
  pending.resize((pending.size() + 15) & ~size_t(15), 0);
  if (pending.empty()) return Error::none;
  if (gcry_cipher_encrypt(state_->cipher.handle, pending.data(), pending.size(), nullptr, 0) != 0)
    return Error::unsupported;
  Error error = state_->output.write(pending.data(), pending.size());
  pending.clear();
  return error;
}

}  // namespace kyt::sevenzip
