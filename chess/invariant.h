// Broken invariants: states no loaded position can reach. They are bugs, not input errors, so
// they unwind to the one place that turns them into an interpreter exception.
#pragma once

namespace chess {

struct InvariantFailure {
    const char* message;
    const char* file;
    unsigned line;
};

// The caller's file and line come from the compiler builtins that std::source_location is
// made of; the standard library hides that class from clang before 15.
[[noreturn]] inline void invariant_failure(const char* message, const char* file = __builtin_FILE(),
                                           unsigned line = __builtin_LINE()) {
    throw InvariantFailure{message, file, line};
}

}  // namespace chess
