#include "Random.h"

#include <cstdint>

namespace {

uint32_t Step(uint32_t State) { return State * 22695477u + 1u; }

// State 1 with the start-up draw already taken.
constexpr uint32_t StartState = 1u * 22695477u + 1u;

uint32_t RandomState = StartState;

} // namespace

int Rand() {
    RandomState = Step(RandomState);
    return static_cast<int>((RandomState >> 16) & 0x7FFF);
}

void ResetRandomGenerator() { RandomState = StartState; }
