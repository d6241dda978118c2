#include "MemoryBudget.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace vemora {

struct MemoryCharge::Account {
  size_t limit = 0;
  size_t held = 0;
};

MemoryCharge::MemoryCharge(std::shared_ptr<Account> account, size_t bytes)
    : account(std::move(account)), bytes(bytes) {}

MemoryCharge::~MemoryCharge() {
  if (account) account->held -= bytes;
}

MemoryCharge::MemoryCharge(MemoryCharge&& other) noexcept
    : account(std::move(other.account)), bytes(std::exchange(other.bytes, 0)) {}

MemoryCharge& MemoryCharge::operator=(MemoryCharge&& other) noexcept {
  if (this != &other) {
    if (account) account->held -= bytes;
    account = std::move(other.account);
    bytes = std::exchange(other.bytes, 0);
  }
  return *this;
}

MemoryBudget::MemoryBudget(size_t limitBytes) : account(std::make_shared<MemoryCharge::Account>()) {
  account->limit = limitBytes;
}

void MemoryBudget::setLimit(size_t limitBytes) { account->limit = limitBytes; }
size_t MemoryBudget::limit() const { return account->limit; }
size_t MemoryBudget::held() const { return account->held; }

MemoryCharge MemoryBudget::take(size_t bytes, const std::string& what) {
  if (!fits(bytes)) refuse(bytes, what);
  return charge(bytes);
}

bool MemoryBudget::fits(size_t bytes) const {
  const size_t limit = account->limit;
  return limit == 0 || (bytes <= limit && account->held <= limit - bytes);
}

void MemoryBudget::refuse(size_t bytes, const std::string& what) const {
  throw MemoryRefused(what + " needs " + memoryText(bytes) + ", which would pass the memory limit of " +
                      memoryText(account->limit) + " (" + memoryText(account->held) + " in use; --max-memory sets it)");
}

MemoryCharge MemoryBudget::charge(size_t bytes) {
  account->held += bytes;
  return MemoryCharge(account, bytes);
}

size_t defaultMemoryLimit() {
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageBytes = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageBytes <= 0) return size_t(4) << 30;
  // Half the machine: room for the system and for the program's own needs
  // beside what a score asks for.
  return size_t(pages) * size_t(pageBytes) / 2;
}

size_t parseMemorySize(const std::string& text) {
  char* end = nullptr;
  const double number = std::strtod(text.c_str(), &end);
  if (text.empty() || end == text.c_str() || !std::isfinite(number) || number <= 0) return 0;
  const std::string unit = end;
  double scale = 1.0;
  if (unit == "K" || unit == "k")
    scale = 1024.0;
  else if (unit == "M" || unit == "m")
    scale = 1024.0 * 1024.0;
  else if (unit == "G" || unit == "g")
    scale = 1024.0 * 1024.0 * 1024.0;
  else if (unit == "T" || unit == "t")
    scale = 1024.0 * 1024.0 * 1024.0 * 1024.0;
  else if (!unit.empty())
    return 0;
  const double bytes = number * scale;
  if (bytes < 1.0 || bytes >= 9.0e18) return 0;
  return size_t(bytes);
}

std::string memoryText(size_t bytes) {
  char text[32];
  const double mib = double(bytes) / (1024.0 * 1024.0);
  if (mib >= 1024.0)
    std::snprintf(text, sizeof text, "%.1f GiB", mib / 1024.0);
  else if (mib >= 1.0)
    std::snprintf(text, sizeof text, "%.0f MiB", mib);
  else
    std::snprintf(text, sizeof text, "%zu bytes", bytes);
  return text;
}

}  // namespace vemora
