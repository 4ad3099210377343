#pragma once
// The program's one random generator: linear congruential over a 32-bit state, draws 0 to 32767.
// It starts from state 1 with one draw discarded, so every start gives the same sequence.
#include <cstdint>

// Takes the next draw.
int Rand();

// Puts the generator back to its start-up state (tests use this to replay the sequence).
void ResetRandomGenerator();

// The generator's state, and setting it: a later Rand() continues from there (tests compare two ways
// of drawing from the same state).
uint32_t RandomGeneratorState();
void SetRandomGeneratorState(uint32_t State);
