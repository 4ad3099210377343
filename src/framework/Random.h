#pragma once
// The program's one random generator: linear congruential over a 32-bit state, draws 0 to 32767.
// It starts from state 1 with one draw discarded, so every start gives the same sequence.

// Takes the next draw.
int Rand();

// Puts the generator back to its start-up state (tests use this to replay the sequence).
void ResetRandomGenerator();
