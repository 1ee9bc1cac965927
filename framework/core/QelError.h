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
// out of memory). Its message is a detail for support: the user reads it
// under a sentence in the user's language.
class EQelOutOfMemory : public EQelError {
public:
    using EQelError::EQelError;
};

// A broken invariant of the program itself, which no file or action of the
// user causes. Its message, too, is a detail under a sentence in the user's
// language; every other EQelError carries a text meant for the user as it is.
class EQelProgramError : public EQelError {
public:
    using EQelError::EQelError;
};
