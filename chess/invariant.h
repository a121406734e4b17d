// Broken invariants: states no loaded position can reach. They are bugs, not input errors, so
// they unwind to the one place that turns them into an interpreter exception.
#pragma once

#include <source_location>

namespace chess {

struct InvariantFailure {
    const char* message;
    const char* file;
    unsigned line;
};

[[noreturn]] inline void invariant_failure(
    const char* message, std::source_location where = std::source_location::current()) {
    throw InvariantFailure{message, where.file_name(), unsigned(where.line())};
}

}  // namespace chess
