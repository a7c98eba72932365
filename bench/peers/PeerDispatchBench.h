#pragma once

// The address-space dispatch cases of the peer benchmark (PeerDispatchBench.cpp).
namespace bench {

// Makes the datagrams and checks that every dispatcher reaches the right handlers, each once;
// the number of failed checks (each described on standard error).
int checkDispatchCases();
// Registers the cases; only after checkDispatchCases found nothing wrong.
void registerDispatchCases();

}  // namespace bench
