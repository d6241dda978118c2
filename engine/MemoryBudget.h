// The memory that a render may take for what its score or its clients ask
// for: function tables, input caches and the output of legacy notes. Asking
// for more than is left is refused with a message that says what it was,
// instead of the system's out-of-memory killer ending the program.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>

namespace vemora {

// What MemoryBudget::take throws.
struct MemoryRefused : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class MemoryBudget;

// Bytes taken from a budget, given back when the charge is destroyed. It may
// outlive the budget's owner (a table held by an embedding host, say).
class MemoryCharge {
 public:
  MemoryCharge() = default;
  ~MemoryCharge();
  MemoryCharge(MemoryCharge&& other) noexcept;
  MemoryCharge& operator=(MemoryCharge&& other) noexcept;
  MemoryCharge(const MemoryCharge&) = delete;
  MemoryCharge& operator=(const MemoryCharge&) = delete;

 private:
  friend class MemoryBudget;
  struct Account;
  MemoryCharge(std::shared_ptr<Account> account, size_t bytes);
  std::shared_ptr<Account> account;
  size_t bytes = 0;
};

class MemoryBudget {
 public:
  explicit MemoryBudget(size_t limitBytes = 0);  // 0: no limit

  void setLimit(size_t limitBytes);
  size_t limit() const;
  size_t held() const;

  // Takes bytes for `what` ("a table of 1000000 entries"); throws MemoryRefused
  // when that would pass the limit, naming what, its size, the limit and
  // the option that sets it.
  MemoryCharge take(size_t bytes, const std::string& what);
  // As take, with the text of what made only to say a refusal: a charge
  // that fits, the usual case, builds no text.
  template <class Describe>
  requires std::is_invocable_r_v<std::string, Describe> MemoryCharge take(size_t bytes, Describe&& describe) {
    if (!fits(bytes)) refuse(bytes, describe());
    return charge(bytes);
  }

 private:
  bool fits(size_t bytes) const;
  [[noreturn]] void refuse(size_t bytes, const std::string& what) const;
  MemoryCharge charge(size_t bytes);

  std::shared_ptr<MemoryCharge::Account> account;
};

// A share of the machine's physical memory: the default limit of the program.
size_t defaultMemoryLimit();
// "512M", "2G", "1.5G", "65536" (bytes); 0 when the text is none of these.
size_t parseMemorySize(const std::string& text);
// 1536 MiB as "1.5 GiB", 64 MiB as "64 MiB".
std::string memoryText(size_t bytes);

}  // namespace vemora
