#pragma once

#include <memory>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

// SHA-256 by libcrypto, so that a record names the very bytes of the sequence it ran.
class TSha256 {
public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;

  void Add(std::string_view bytes);
  // The digest of everything added so far, in lower-case hex; more may be added after.
  std::string Hex() const;

  static std::string Of(std::string_view bytes);

private:
  struct TFree {
    void operator()(evp_md_ctx_st* context) const;
  };
  std::unique_ptr<evp_md_ctx_st, TFree> Context;
};
