// Office encryption of ACE files.
//
// The header page (0) stays plain; its bytes from 0x299 describe the
// encryption:
// | offset | size | field                                                 |
// | 0x299  | 2    | length n of the description                           |
// | 0x29B  | n    | the description: major and minor version (2 bytes     |
// |        |      | each), then by version:                               |
//
// 4.4, agile: 4 bytes 0x40 0 0 0, then an XML descriptor. Its keyData
// element gives the page cipher (AES, CBC), its salt and hash; the password
// key encryptor (an encryptedKey element with a spinCount) gives the
// password hashing and the enciphered verifier and key. Key of block b:
//   H0 = hash(salt + password), Hi+1 = hash(le32(i) + Hi) spinCount times,
//   key = hash(H + b), cut to keyBits or padded with 0x36;
// b = FE A7 D2 76 3B 4B 9E 79 for the verifier input, D7 AA 0F 6D 30 61 34
// 4E for its hash, 14 6E 0B E7 AB AC D0 D6 for the page key; each is
// deciphered with the encryptor's salt as IV. A page is AES-CBC with the
// page key and IV hash(keyData salt + le32(page ^ encoding key)), cut to
// the block size.
//
// 2.2, 3.2, 4.2, CryptoAPI: flags (4 bytes; 0x04 CryptoAPI, 0x20 AES), the
// header's size (4), the header: flags, extra size, algorithm id (0x6801
// RC4), hash id (0x8004 SHA-1), key bits, provider type, two reserved
// words, provider name; then the verifier: salt size (16), salt,
// enciphered verifier (16), hash size (20), enciphered hash (20). With RC4,
// key of block b = SHA-1(SHA-1(salt + password) + le32(b)), cut to the key
// size (a 40-bit key is padded with zeros to 128 bits); the verifier and
// its hash are one RC4 stream of block 0, and page p is RC4 with block
// p ^ encoding key. With AES (ids 0x660E..0x6610; Office "standard"
// encryption when flag 0x20 is set), H = SHA-1(salt + password) iterated
// 50,000 times as above (not at all without the flag), and the key of
// block b is the first key bytes of SHA-1(X ^ 0x36...) + SHA-1(X ^
// 0x5C...), X = SHA-1(H + le32(b)) padded to 64 bytes; the verifier and
// its hash (32 bytes) are AES-ECB with the key of block 0, and page p is
// AES-ECB with the key of block p ^ encoding key.
//
// The password is UTF-16LE, at most 255 characters.
#include "db/engine/format/office_crypt.h"

#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "db/engine/error.h"
#include "db/engine/format/coding.h"
#include "db/engine/format/jet_page_codec.h"
#include "db/engine/format/value_encoder.h"

namespace corvalin::engine {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kInfoOffset = 0x299;
constexpr size_t kMaxPasswordChars = 255;

// Agile.
constexpr uint32_t kAgileReserved = 0x40;
constexpr size_t kAgileXmlOffset = 8;
constexpr uint8_t kVerifierInputBlock[] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
constexpr uint8_t kVerifierHashBlock[] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
constexpr uint8_t kKeyValueBlock[] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};
// The most iterations the format allows; more marks a damaged descriptor.
// A fuzzing build keeps to what Access writes, so that no input is slow.
#ifdef FUZZING_BUILD_MODE_UNSAFE_FOR_PRODUCTION
constexpr uint64_t kMaxSpinCount = 100'000;
#else
constexpr uint64_t kMaxSpinCount = 10'000'000;
#endif

// CryptoAPI.
constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagAes = 0x20;
constexpr size_t kCryptoHeaderOffset = 12;
constexpr size_t kCryptoHeaderFixed = 32;  // the words before the provider name
constexpr uint32_t kAlgorithmRc4 = 0x6801;
constexpr uint32_t kAlgorithmAes128 = 0x660E;
constexpr uint32_t kAlgorithmAes256 = 0x6610;
// Standard encryption hashes the password 50,000 times; the same layout
// with the AES flag clear (Access' "non-compatible" mode) not at all.
constexpr uint64_t kStandardIterations = 50'000;
constexpr size_t kAesVerifierHashSize = 32;  // the 20-byte hash, padded to AES blocks
constexpr uint32_t kHashSha1 = 0x8004;
constexpr size_t kSaltSize = 16;
constexpr size_t kVerifierSize = 16;
constexpr size_t kSha1Size = 20;

Bytes Hash(const EVP_MD* md, std::initializer_list<std::span<const uint8_t>> parts) {
  Bytes out(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx && EVP_DigestInit_ex(ctx, md, nullptr) == 1;
  for (auto part : parts) ok = ok && EVP_DigestUpdate(ctx, part.data(), part.size()) == 1;
  ok = ok && EVP_DigestFinal_ex(ctx, out.data(), &size) == 1;
  EVP_MD_CTX_free(ctx);
  if (!ok) throw Error(kErrIo, "the hash function failed");
  out.resize(size);
  return out;
}

// H0 = hash(salt + password), then Hi+1 = hash(le32(i) + Hi), spin times.
Bytes IteratedHash(const EVP_MD* md, std::span<const uint8_t> salt,
                   std::span<const uint8_t> password, uint64_t spin) {
  Bytes h = Hash(md, {salt, password});
  Bytes input(4 + h.size());
  unsigned int size = 0;
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  bool ok = ctx != nullptr;
  for (uint64_t i = 0; ok && i < spin; ++i) {
    const auto n = Encode32(uint32_t(i));
    std::copy(n.begin(), n.end(), input.begin());
    std::copy(h.begin(), h.end(), input.begin() + 4);
    ok = EVP_DigestInit_ex(ctx, md, nullptr) == 1 &&
         EVP_DigestUpdate(ctx, input.data(), input.size()) == 1 &&
         EVP_DigestFinal_ex(ctx, h.data(), &size) == 1 && size == h.size();
  }
  EVP_MD_CTX_free(ctx);
  if (!ok) throw Error(kErrIo, "the hash function failed");
  return h;
}

// `bytes` cut or padded with `pad` to `size`.
Bytes Fit(Bytes bytes, size_t size, uint8_t pad) {
  bytes.resize(size, pad);
  return bytes;
}

// AES over data in place, CBC from iv or, without one, ECB; the data's
// size is a multiple of the block size.
bool Aes(std::span<const uint8_t> key, std::span<const uint8_t> iv, std::span<uint8_t> data,
         bool encrypt) {
  const bool cbc = !iv.empty();
  const EVP_CIPHER* cipher = key.size() == 16   ? (cbc ? EVP_aes_128_cbc() : EVP_aes_128_ecb())
                             : key.size() == 24 ? (cbc ? EVP_aes_192_cbc() : EVP_aes_192_ecb())
                                                : (cbc ? EVP_aes_256_cbc() : EVP_aes_256_ecb());
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  int out = 0;
  bool ok = ctx &&
            EVP_CipherInit_ex(ctx, cipher, nullptr, key.data(), cbc ? iv.data() : nullptr,
                              encrypt) == 1 &&
            EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
            EVP_CipherUpdate(ctx, data.data(), &out, data.data(), int(data.size())) == 1 &&
            size_t(out) == data.size();
  EVP_CIPHER_CTX_free(ctx);
  return ok;
}

std::optional<Bytes> Base64(std::string_view text) {
  Bytes out;
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int v = c >= 'A' && c <= 'Z'   ? c - 'A'
            : c >= 'a' && c <= 'z' ? c - 'a' + 26
            : c >= '0' && c <= '9' ? c - '0' + 52
            : c == '+'             ? 62
            : c == '/'             ? 63
                                   : -1;
    if (c == '=') break;
    if (v < 0) {
      if (c == ' ' || c == '\r' || c == '\n' || c == '\t') continue;
      return std::nullopt;
    }
    bits = (bits << 6) | uint32_t(v);
    if (++count == 4) {
      out.push_back(uint8_t(bits >> 16));
      out.push_back(uint8_t(bits >> 8));
      out.push_back(uint8_t(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return std::nullopt;
  if (count == 2) out.push_back(uint8_t(bits >> 4));
  if (count == 3) {
    out.push_back(uint8_t(bits >> 10));
    out.push_back(uint8_t(bits >> 2));
  }
  return out;
}

// The attributes of one XML element, as written (no entities occur in the
// values the descriptor holds).
struct Element {
  std::vector<std::pair<std::string, std::string>> attributes;
  const std::string* Find(std::string_view name) const {
    for (const auto& [n, v] : attributes)
      if (n == name) return &v;
    return nullptr;
  }
};

// Every element whose local name (after any prefix) is `name`, in order.
std::vector<Element> Elements(std::string_view xml, std::string_view name) {
  std::vector<Element> found;
  for (size_t at = xml.find('<'); at != std::string_view::npos; at = xml.find('<', at + 1)) {
    size_t end = at + 1;
    while (end < xml.size() && !std::strchr(" \t\r\n/>", xml[end])) ++end;
    std::string_view tag = xml.substr(at + 1, end - at - 1);
    size_t colon = tag.rfind(':');
    if ((colon == std::string_view::npos ? tag : tag.substr(colon + 1)) != name) continue;
    Element e;
    size_t p = end;
    for (;;) {
      while (p < xml.size() && std::strchr(" \t\r\n", xml[p])) ++p;
      if (p >= xml.size() || xml[p] == '>' || xml[p] == '/') break;
      size_t eq = xml.find('=', p);
      if (eq == std::string_view::npos || eq + 1 >= xml.size()) break;
      std::string_view attr = xml.substr(p, eq - p);
      while (!attr.empty() && std::strchr(" \t\r\n", attr.back())) attr.remove_suffix(1);
      size_t q = eq + 1;
      while (q < xml.size() && std::strchr(" \t\r\n", xml[q])) ++q;
      if (q >= xml.size() || (xml[q] != '"' && xml[q] != '\'')) break;
      size_t close = xml.find(xml[q], q + 1);
      if (close == std::string_view::npos) break;
      e.attributes.emplace_back(std::string(attr), std::string(xml.substr(q + 1, close - q - 1)));
      p = close + 1;
    }
    found.push_back(std::move(e));
  }
  return found;
}

class Description {
 public:
  explicit Description(const std::string& file) : file_(file) {}

  [[noreturn]] void Damaged(const std::string& what) const {
    throw Error(kErrDamagedFile,
                "the encryption description of file " + file_ + " is damaged (" + what + ")");
  }
  [[noreturn]] void Unsupported(const std::string& what) const {
    throw Error(kErrEncrypted, file_ + " is encrypted with " + what +
                                   ", which cannot be opened yet");
  }
  [[noreturn]] void WrongPassword() const {
    throw Error(kErrNotValidPassword, "Not a valid password for file " + file_ + ".");
  }

  const std::string& Attribute(const Element& e, std::string_view element,
                               std::string_view name) const {
    const std::string* v = e.Find(name);
    if (!v) Damaged(std::string(element) + " lacks " + std::string(name));
    return *v;
  }
  uint64_t Number(const Element& e, std::string_view element, std::string_view name) const {
    const std::string& text = Attribute(e, element, name);
    if (text.empty() || text.size() > 12 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
      Damaged(std::string(element) + " " + std::string(name) + " is not a number");
    return std::stoull(text);
  }
  Bytes Binary(const Element& e, std::string_view element, std::string_view name) const {
    std::optional<Bytes> b = Base64(Attribute(e, element, name));
    if (!b) Damaged(std::string(element) + " " + std::string(name) + " is not base64");
    return *b;
  }
  const EVP_MD* Digest(const std::string& name) const {
    if (name == "SHA1" || name == "SHA-1") return EVP_sha1();
    if (name == "SHA256" || name == "SHA-256") return EVP_sha256();
    if (name == "SHA384" || name == "SHA-384") return EVP_sha384();
    if (name == "SHA512" || name == "SHA-512") return EVP_sha512();
    Unsupported("the hash algorithm " + name);
  }
  // An AES key size in bytes from keyBits, and the CBC chaining.
  size_t AesKeyBytes(const Element& e, std::string_view element) const {
    if (Attribute(e, element, "cipherAlgorithm") != "AES")
      Unsupported("the cipher " + Attribute(e, element, "cipherAlgorithm"));
    if (Attribute(e, element, "cipherChaining") != "ChainingModeCBC")
      Unsupported("the chaining " + Attribute(e, element, "cipherChaining"));
    uint64_t bits = Number(e, element, "keyBits");
    if (bits != 128 && bits != 192 && bits != 256) Damaged(std::string(element) + " keyBits");
    if (Number(e, element, "blockSize") != 16) Damaged(std::string(element) + " blockSize");
    return size_t(bits / 8);
  }

 private:
  const std::string& file_;
};

Bytes PasswordBytes(const std::string& password) {
  std::u16string units = Utf8ToUtf16(password);
  if (units.size() > kMaxPasswordChars) units.resize(kMaxPasswordChars);
  Bytes out;
  for (char16_t u : units) Append16(out, u);
  return out;
}

// The key of block b in AES CryptoAPI encryption, from the iterated hash.
Bytes StandardKey(const Bytes& iterated, size_t key_bytes, uint32_t block) {
  const auto b = Encode32(block);
  Bytes x = Hash(EVP_sha1(), {iterated, b});
  x.resize(64, 0);
  Bytes inner(64), outer(64);
  for (size_t i = 0; i < 64; ++i) {
    inner[i] = uint8_t(x[i] ^ 0x36);
    outer[i] = uint8_t(x[i] ^ 0x5C);
  }
  Bytes key = Hash(EVP_sha1(), {inner});
  Bytes second = Hash(EVP_sha1(), {outer});
  key.insert(key.end(), second.begin(), second.end());
  key.resize(key_bytes);
  return key;
}

// Pages enciphered with AES: agile files with one key and an IV per page
// (CBC), AES CryptoAPI files with a key per page (ECB).
class AesPageCodec : public PageCodec {
 public:
  // Agile: the page key, and the salt and hash of the pages' IVs.
  AesPageCodec(Bytes key, Bytes salt, const EVP_MD* md, uint32_t encoding_key)
      : secret_(std::move(key)), salt_(std::move(salt)), md_(md), encoding_key_(encoding_key) {}
  // CryptoAPI: the iterated password hash the page keys come from.
  AesPageCodec(Bytes iterated, size_t key_bytes, uint32_t encoding_key)
      : secret_(std::move(iterated)), key_bytes_(key_bytes), encoding_key_(encoding_key) {}

  void Decode(uint32_t page_number, std::span<uint8_t> page) const override {
    Run(page_number, page, false);
  }
  void Encode(uint32_t page_number, std::span<uint8_t> page) const override {
    Run(page_number, page, true);
  }

 private:
  // A page's own part of the cipher: its IV (agile) or its key
  // (CryptoAPI), made by one to three hashes. A writer enciphers the same
  // pages again and again (a leaf changed save after save is logged and
  // written each time), so enciphering keeps what it made, for up to
  // kKeptPages pages (a few MB; all are let go at that bound); deciphering
  // uses what is kept and keeps nothing, so reading takes no more memory.
  static constexpr size_t kKeptPages = 65536;

  Bytes PagePart(uint32_t block) const {
    if (md_) return Fit(Hash(md_, {salt_, Encode32(block)}), 16, 0);
    return StandardKey(secret_, key_bytes_, block);
  }

  void Run(uint32_t page_number, std::span<uint8_t> page, bool encrypt) const {
    const uint32_t block = page_number ^ encoding_key_;
    Bytes part;
    {
      std::lock_guard lock(mutex_);
      auto found = kept_.find(block);
      if (found != kept_.end()) part = found->second;
    }
    if (part.empty()) {
      part = PagePart(block);
      if (encrypt) {
        std::lock_guard lock(mutex_);
        if (kept_.size() >= kKeptPages) kept_.clear();
        kept_.emplace(block, part);
      }
    }
    bool ok = page.size() % 16 == 0;
    if (md_) {
      ok = ok && Aes(secret_, part, page, encrypt);
    } else {
      ok = ok && Aes(part, {}, page, encrypt);
    }
    if (!ok) throw Error(kErrIo, "AES failed on page " + std::to_string(page_number));
  }
  Bytes secret_, salt_;
  const EVP_MD* md_ = nullptr;
  size_t key_bytes_ = 0;
  uint32_t encoding_key_;
  mutable std::mutex mutex_;
  mutable std::unordered_map<uint32_t, Bytes> kept_;  // by block
};

class Rc4CryptoApiCodec : public PageCodec {
 public:
  Rc4CryptoApiCodec(Bytes base, size_t key_bytes, uint32_t encoding_key)
      : base_(std::move(base)), key_bytes_(key_bytes), encoding_key_(encoding_key) {}
  static Bytes Key(const Bytes& base, size_t key_bytes, uint32_t block) {
    const auto b = Encode32(block);
    Bytes key = Fit(Hash(EVP_sha1(), {base, b}), key_bytes, 0);
    if (key_bytes == 5) key.resize(16, 0);
    return key;
  }
  void Decode(uint32_t page_number, std::span<uint8_t> page) const override {
    streams_.Apply(page_number, page, false, [this](uint32_t n) { return PageKey(n); });
  }
  void Encode(uint32_t page_number, std::span<uint8_t> page) const override {
    streams_.Apply(page_number, page, true, [this](uint32_t n) { return PageKey(n); });
  }

 private:
  Bytes PageKey(uint32_t page_number) const {
    return Key(base_, key_bytes_, page_number ^ encoding_key_);
  }

  Bytes base_;
  size_t key_bytes_;
  uint32_t encoding_key_;
  Rc4Keystreams streams_;
};

std::shared_ptr<PageCodec> Agile(std::span<const uint8_t> info, uint32_t encoding_key,
                                 const std::string& password, const Description& d) {
  if (info.size() < kAgileXmlOffset || Read32(info, 4) != kAgileReserved)
    d.Damaged("agile reserved word");
  std::string_view xml(reinterpret_cast<const char*>(info.data()) + kAgileXmlOffset,
                       info.size() - kAgileXmlOffset);
  std::vector<Element> key_data = Elements(xml, "keyData");
  if (key_data.empty()) d.Damaged("no keyData");
  // The first password key encryptor (a certificate's has no spin count).
  std::vector<Element> keys = Elements(xml, "encryptedKey");
  const Element* encryptor = nullptr;
  for (const Element& e : keys)
    if (!encryptor && e.Find("spinCount")) encryptor = &e;
  if (!encryptor) d.Unsupported("a certificate instead of a password");

  const Element& kd = key_data.front();
  const size_t page_key_bytes = d.AesKeyBytes(kd, "keyData");
  const EVP_MD* page_md = d.Digest(d.Attribute(kd, "keyData", "hashAlgorithm"));
  Bytes page_salt = d.Binary(kd, "keyData", "saltValue");

  const Element& ek = *encryptor;
  const size_t key_bytes = d.AesKeyBytes(ek, "encryptedKey");
  const EVP_MD* md = d.Digest(d.Attribute(ek, "encryptedKey", "hashAlgorithm"));
  const uint64_t spin = d.Number(ek, "encryptedKey", "spinCount");
  if (spin > kMaxSpinCount) d.Damaged("spinCount");
  Bytes salt = d.Binary(ek, "encryptedKey", "saltValue");
  Bytes verifier_input = d.Binary(ek, "encryptedKey", "encryptedVerifierHashInput");
  Bytes verifier_hash = d.Binary(ek, "encryptedKey", "encryptedVerifierHashValue");
  Bytes key_value = d.Binary(ek, "encryptedKey", "encryptedKeyValue");
  const size_t hash_size = size_t(EVP_MD_get_size(md));
  if (salt.empty() || salt.size() > 64 || page_salt.empty() || page_salt.size() > 64)
    d.Damaged("salt size");
  for (const Bytes* b : {&verifier_input, &verifier_hash, &key_value})
    if (b->empty() || b->size() % 16 != 0 || b->size() > 1024) d.Damaged("enciphered value size");
  if (verifier_input.size() < salt.size() || verifier_hash.size() < hash_size ||
      key_value.size() < page_key_bytes)
    d.Damaged("enciphered value size");

  // The iterated password hash is the same for the three keys.
  const Bytes h = IteratedHash(md, salt, PasswordBytes(password), spin);
  auto key_for = [&](std::span<const uint8_t> block) {
    return Fit(Hash(md, {h, block}), key_bytes, 0x36);
  };
  const Bytes iv = Fit(salt, 16, 0x36);
  if (!Aes(key_for(kVerifierInputBlock), iv, verifier_input, false) ||
      !Aes(key_for(kVerifierHashBlock), iv, verifier_hash, false) ||
      !Aes(key_for(kKeyValueBlock), iv, key_value, false))
    d.Damaged("AES failed on the enciphered values");
  verifier_input.resize(salt.size());
  Bytes expected = Hash(md, {verifier_input});
  if (!std::equal(expected.begin(), expected.begin() + hash_size, verifier_hash.begin()))
    d.WrongPassword();
  key_value.resize(page_key_bytes);
  return std::make_shared<AesPageCodec>(std::move(key_value), std::move(page_salt), page_md,
                                      encoding_key);
}

std::shared_ptr<PageCodec> StandardAes(std::span<const uint8_t> verifier, uint32_t flags,
                                       uint32_t key_bits, uint32_t encoding_key,
                                       const std::string& password, const Description& d) {
  if (key_bits == 0) key_bits = 128;
  if (key_bits != 128 && key_bits != 192 && key_bits != 256) d.Damaged("AES key size");
  const size_t needed = 4 + kSaltSize + kVerifierSize + 4 + kAesVerifierHashSize;
  if (verifier.size() < needed || Read32(verifier, 0) != kSaltSize) d.Damaged("AES verifier");
  std::span<const uint8_t> salt = verifier.subspan(4, kSaltSize);
  const uint64_t iterations = (flags & kFlagAes) ? kStandardIterations : 0;
  Bytes iterated = IteratedHash(EVP_sha1(), salt, PasswordBytes(password), iterations);
  const size_t key_bytes = key_bits / 8;
  Bytes check(verifier.begin() + 4 + kSaltSize, verifier.begin() + 4 + kSaltSize + kVerifierSize);
  const size_t hash_at = 4 + kSaltSize + kVerifierSize + 4;
  check.insert(check.end(), verifier.begin() + hash_at,
               verifier.begin() + hash_at + kAesVerifierHashSize);
  if (!Aes(StandardKey(iterated, key_bytes, 0), {}, check, false))
    d.Damaged("AES failed on the verifier");
  Bytes expected = Hash(EVP_sha1(), {std::span<const uint8_t>(check).first(kVerifierSize)});
  if (!std::equal(expected.begin(), expected.end(), check.begin() + kVerifierSize))
    d.WrongPassword();
  return std::make_shared<AesPageCodec>(std::move(iterated), key_bytes, encoding_key);
}

std::shared_ptr<PageCodec> CryptoApi(std::span<const uint8_t> info, uint32_t encoding_key,
                                     const std::string& password, const Description& d) {
  if (info.size() < kCryptoHeaderOffset) d.Damaged("CryptoAPI header");
  const uint32_t flags = Read32(info, 4);
  const size_t header_size = Read32(info, 8);
  if (header_size < kCryptoHeaderFixed || header_size > info.size() - kCryptoHeaderOffset)
    d.Damaged("CryptoAPI header size");
  std::span<const uint8_t> header = info.subspan(kCryptoHeaderOffset, header_size);
  if (!(flags & kFlagCryptoApi)) d.Unsupported("an unknown kind of Office encryption");
  uint32_t algorithm = Read32(header, 8);
  uint32_t hash = Read32(header, 12);
  if (hash != 0 && hash != kHashSha1) d.Unsupported("a CryptoAPI hash other than SHA-1");
  uint32_t key_bits = Read32(header, 16);
  const bool aes = (algorithm >= kAlgorithmAes128 && algorithm <= kAlgorithmAes256) ||
                   (algorithm == 0 && (flags & kFlagAes));
  if (aes) return StandardAes(info.subspan(kCryptoHeaderOffset + header_size), flags,
                              key_bits, encoding_key, password, d);
  if (algorithm != 0 && algorithm != kAlgorithmRc4)
    d.Unsupported("the CryptoAPI algorithm " + std::to_string(algorithm));
  if (key_bits == 0) {
    // Unstated: 40 bits for the base provider, else 128.
    std::string name;
    for (size_t i = kCryptoHeaderFixed; i + 1 < header.size(); i += 2)
      name += char(std::tolower(header[i]));
    key_bits = name.empty() || name.find(" base ") != std::string::npos ? 40 : 128;
  }
  if (key_bits < 40 || key_bits > 128 || key_bits % 8 != 0) d.Damaged("CryptoAPI key size");

  std::span<const uint8_t> verifier = info.subspan(kCryptoHeaderOffset + header_size);
  const size_t needed = 4 + kSaltSize + kVerifierSize + 4 + kSha1Size;
  if (verifier.size() < needed || Read32(verifier, 0) != kSaltSize) d.Damaged("CryptoAPI verifier");
  std::span<const uint8_t> salt = verifier.subspan(4, kSaltSize);
  Bytes base = Hash(EVP_sha1(), {salt, PasswordBytes(password)});
  const size_t key_bytes = key_bits / 8;
  // The verifier and its hash: one RC4 stream.
  Bytes check(verifier.begin() + 4 + kSaltSize, verifier.begin() + 4 + kSaltSize + kVerifierSize);
  const size_t hash_at = 4 + kSaltSize + kVerifierSize + 4;
  check.insert(check.end(), verifier.begin() + hash_at, verifier.begin() + hash_at + kSha1Size);
  Rc4(Rc4CryptoApiCodec::Key(base, key_bytes, 0), check);
  Bytes expected =
      Hash(EVP_sha1(), {std::span<const uint8_t>(check).first(kVerifierSize)});
  if (!std::equal(expected.begin(), expected.end(), check.begin() + kVerifierSize))
    d.WrongPassword();
  return std::make_shared<Rc4CryptoApiCodec>(std::move(base), key_bytes, encoding_key);
}

}  // namespace

std::shared_ptr<PageCodec> MakeOfficePageCodec(std::span<const uint8_t> header_page,
                                               uint32_t encoding_key,
                                               const std::string& password,
                                               const std::string& file) {
  Description d(file);
  if (header_page.size() < kInfoOffset + 2) d.Damaged("too short");
  const size_t length = Read16(header_page, kInfoOffset);
  if (length < 4 || length > header_page.size() - kInfoOffset - 2) d.Damaged("its length");
  std::span<const uint8_t> info = header_page.subspan(kInfoOffset + 2, length);
  const unsigned major = Read16(info, 0), minor = Read16(info, 2);
  if (major == 4 && minor == 4) return Agile(info, encoding_key, password, d);
  if ((major == 2 || major == 3 || major == 4) && minor == 2)
    return CryptoApi(info, encoding_key, password, d);
  d.Unsupported("Office encryption version " + std::to_string(major) + "." +
                std::to_string(minor));
}

}  // namespace corvalin::engine
