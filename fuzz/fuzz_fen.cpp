// FEN reading in both castling forms, and the module's loading step over them: whatever the
// bytes, a text either is refused with a FenParseError or loads into a sound board.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fuzz::guarded([&] {
        for (const bool file_letters : {false, true}) {
            const auto board = chess::from_fen(text, file_letters);
            if (board)
                fuzz::require_sound(board.value(),
                                    file_letters ? "file letters" : "standard letters");
        }
        fuzz::load_as_module(text);
    });
    return 0;
}
