// Extractions take turns: at most one per processor runs at once, and tasks that wait are let in
// in the order they asked. Two hundred extractors started together (a tool submitting a batch)
// would otherwise compete with the downloads and the API's one server thread for the processors,
// and the batch would answer its requests minutes late without finishing any sooner.
#pragma once

#include <cstddef>

// How many extractions may run at once: the number of processors, at least 1.
size_t ExtractionTurnLimit();

// Holds one turn from construction until destruction. The constructor waits for the turn; it
// gives up (acquired() false) when the program begins to end while it waits.
class ExtractionTurn {
  public:
    ExtractionTurn();
    ~ExtractionTurn();
    ExtractionTurn(const ExtractionTurn&) = delete;
    ExtractionTurn& operator=(const ExtractionTurn&) = delete;
    bool acquired() const { return acquired_; }

  private:
    bool acquired_ = false;
};
