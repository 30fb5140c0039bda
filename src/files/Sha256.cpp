#include "files/Sha256.h"

#include <openssl/evp.h>

#include <cstdio>
#include <stdexcept>

namespace {

// libcrypto fails here only when it cannot allocate or its default provider is missing: no digest is
// better than a wrong one in a record.
void Check(int ok, const char* what)
{
  if (ok != 1)
    throw std::runtime_error(std::string("SHA-256: ") + what + " failed in libcrypto");
}

} // namespace

void TSha256::TFree::operator()(evp_md_ctx_st* context) const
{
  EVP_MD_CTX_free(context);
}

TSha256::TSha256() : Context(EVP_MD_CTX_new())
{
  Check(Context != nullptr, "EVP_MD_CTX_new");
  Check(EVP_DigestInit_ex(Context.get(), EVP_sha256(), nullptr), "EVP_DigestInit_ex");
}

TSha256::~TSha256() = default;

void TSha256::Add(std::string_view bytes)
{
  Check(EVP_DigestUpdate(Context.get(), bytes.data(), bytes.size()), "EVP_DigestUpdate");
}

std::string TSha256::Hex() const
{
  const std::unique_ptr<evp_md_ctx_st, TFree> copy(EVP_MD_CTX_new());
  Check(copy != nullptr, "EVP_MD_CTX_new");
  Check(EVP_MD_CTX_copy_ex(copy.get(), Context.get()), "EVP_MD_CTX_copy_ex");
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  Check(EVP_DigestFinal_ex(copy.get(), digest, &length), "EVP_DigestFinal_ex");
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", digest[i]);
    hex += pair;
  }
  return hex;
}

std::string TSha256::Of(std::string_view bytes)
{
  TSha256 digest;
  digest.Add(bytes);
  return digest.Hex();
}
