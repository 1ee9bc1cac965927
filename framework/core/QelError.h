// The program's one exception tree. Qt-free cores carry UTF-8 text; the
// Qt side turns it into a QString for display.
#pragma once

#include <stdexcept>
#include <string>

class EQelError : public std::runtime_error {
public:
    explicit EQelError(const std::string& message) : std::runtime_error(message) {}
};

// An allocation or size that cannot be honoured (absurd size from a file,
// out of memory).
class EQelOutOfMemory : public EQelError {
public:
    using EQelError::EQelError;
};
