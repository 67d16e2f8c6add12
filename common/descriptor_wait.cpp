// Before any system header: select() without the FD_SETSIZE limit on Apple.
#if defined(__APPLE__)
#define _DARWIN_UNLIMITED_SELECT 1
#endif

#include "common/descriptor_wait.h"

#include <sys/select.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <type_traits>
#include <vector>

namespace tondrel {

bool waitForDescriptor(int descriptor, Readiness readiness) {
  if (descriptor < 0) return false;
  // An fd_set is an array of bit words on every system this builds for; a
  // longer array of the same words is what select() takes beyond FD_SETSIZE.
  using Word = std::remove_extent_t<decltype(fd_set::fds_bits)>;
  constexpr auto wordBits = static_cast<int>(sizeof(Word) * CHAR_BIT);
  const auto words = static_cast<std::size_t>(descriptor / wordBits + 1);
  const std::size_t wordsInFdSet = sizeof(fd_set) / sizeof(Word);
  std::vector<Word> bits(words > wordsInFdSet ? words : wordsInFdSet);
  for (;;) {
    std::memset(bits.data(), 0, bits.size() * sizeof(Word));
    bits[static_cast<std::size_t>(descriptor / wordBits)] |=
        static_cast<Word>(std::make_unsigned_t<Word>{1} << (descriptor % wordBits));
    auto* set = reinterpret_cast<fd_set*>(bits.data());
    const int ready = readiness == Readiness::readable
                          ? select(descriptor + 1, set, nullptr, nullptr, nullptr)
                          : select(descriptor + 1, nullptr, set, nullptr, nullptr);
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR && errno != EAGAIN) return false;
  }
}

}  // namespace tondrel
