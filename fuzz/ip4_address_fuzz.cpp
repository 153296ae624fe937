// Hostile texts for the dotted-address parser: any bytes, any length, with
// and without a terminator. The parser must never look past the length it
// is given and must agree with the host's strict parser where that one
// accepts.
#include <arpa/inet.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "OS/ossocket.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
  if (size == 0 || size > 1024) return 0;
  // Exactly `size` bytes, no terminator: a look past the length is caught.
  std::unique_ptr<char[]> exact(new char[size]);
  std::memcpy(exact.get(), data, size);
  unsigned int consumed = 0xFFFFFFFF;
  unsigned int address = Korvane::IsIp4Address(exact.get(), static_cast<unsigned int>(size), &consumed);
  if (consumed > size) __builtin_trap();
  if (address != 0 && consumed < 7) __builtin_trap();

  // Length 0: up to the terminator.
  std::string text(reinterpret_cast<char const*>(data), size);
  unsigned int consumed0 = 0xFFFFFFFF;
  unsigned int address0 = Korvane::IsIp4Address(text.c_str(), 0, &consumed0);
  size_t len = std::strlen(text.c_str());
  if (len == 0 ? consumed0 != 0xFFFFFFFF : consumed0 > len) __builtin_trap();
  if (len == size && (address0 != address || consumed0 != consumed)) __builtin_trap();

  in_addr host{};
  if (len == size && inet_pton(AF_INET, text.c_str(), &host) == 1 &&
      (address != host.s_addr || consumed != size))
    __builtin_trap();
  return 0;
}
