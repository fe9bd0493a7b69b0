#include "manifest/RollingChecksum.h"

#include <stdexcept>

namespace vrexa {
namespace {

constexpr std::uint32_t kReflectedPolynomial = 0xEDB88320u;

// A linear map on 32-bit registers as the images of its 32 unit vectors:
// what appending zero bits does to a register.
using Operator = std::array<std::uint32_t, 32>;

std::uint32_t Apply(const Operator& op, std::uint32_t value) {
    std::uint32_t result = 0;
    for (int bit = 0; value != 0; ++bit, value >>= 1) {
        if (value & 1u) result ^= op[static_cast<std::size_t>(bit)];
    }
    return result;
}

Operator Compose(const Operator& second, const Operator& first) {
    Operator result{};
    for (std::size_t i = 0; i < 32; ++i)
        result[i] = Apply(second, first[i]);
    return result;
}

// The effect of `bytes` zero bytes on a register, by repeated squaring, so a
// window of gigabytes costs a few dozen compositions.
Operator ZeroBytes(std::uint64_t bytes) {
    Operator oneBit{};
    oneBit[0] = kReflectedPolynomial;
    for (std::size_t i = 1; i < 32; ++i)
        oneBit[i] = 1u << (i - 1);
    Operator power = Compose(oneBit, oneBit);
    power = Compose(power, power);
    power = Compose(power, power);  // one byte
    Operator result{};
    for (std::size_t i = 0; i < 32; ++i)
        result[i] = 1u << i;
    for (; bytes != 0; bytes >>= 1) {
        if (bytes & 1u) result = Compose(power, result);
        power = Compose(power, power);
    }
    return result;
}

std::array<std::uint32_t, 256> MakeTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t reg = byte;
        for (int bit = 0; bit < 8; ++bit)
            reg = (reg >> 1) ^ ((reg & 1u) ? kReflectedPolynomial : 0u);
        table[byte] = reg;
    }
    return table;
}

}  // namespace

const std::array<std::uint32_t, 256>& RollingChecksum::Table() {
    static const std::array<std::uint32_t, 256> table = MakeTable();
    return table;
}

RollingChecksum::RollingChecksum(std::uint64_t window) : window_(window) {
    if (window == 0) {
        throw std::invalid_argument("RollingChecksum constructed with an empty window");
    }
    const Operator shift = ZeroBytes(window);
    // A standard checksum starts from all ones and ends inverted, so n zero
    // bytes leave shift(all ones) inverted.
    zeros_ = Apply(shift, 0xFFFFFFFFu) ^ 0xFFFFFFFFu;
    // A byte b that enters the register and then travels n more bytes.
    for (std::size_t b = 0; b < 256; ++b)
        out_[b] = Apply(shift, Table()[b]);
}

}  // namespace vrexa
