#include "Random.h"

namespace {

uint32_t Step(uint32_t State) {
    return State * 22695477u + 1u;
}

// State 1 with the start-up draw already taken.
constexpr uint32_t StartState = 1u * 22695477u + 1u;

uint32_t GeneratorState = StartState;

} // namespace

int Rand() {
    GeneratorState = Step(GeneratorState);
    return static_cast<int>((GeneratorState >> 16) & 0x7FFF);
}

void ResetRandomGenerator() {
    GeneratorState = StartState;
}

uint32_t RandomGeneratorState() {
    return GeneratorState;
}

void SetRandomGeneratorState(uint32_t State) {
    GeneratorState = State;
}
