// One way of reading FEN text held to the reference reader on any bytes: the same board, field
// for field, or the same error, in every castling letter form; and where the path reads a text
// by itself, without handing it to the reference, the reference's board. AddressSanitizer
// holds its vector loads inside the text, which libFuzzer hands over without a byte to spare.
// Built once per path (MORVEK_FUZZ_PATH names it); on a processor without that path the target
// says so and checks nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "checks.h"
#include "chess/fen_paths.h"

namespace {

constexpr chess::FenPath PATH = chess::FenPath::MORVEK_FUZZ_PATH;

bool path_here() {
    for (const chess::FenPath p : chess::fen_paths())
        if (p == PATH) return true;
    std::fprintf(stderr, "fuzz_fen_paths: no %s path on this processor; nothing to check\n",
                 chess::path_name(PATH).data());
    return false;
}

bool same(const chess::Result<chess::Board, chess::FenParseError>& a,
          const chess::Result<chess::Board, chess::FenParseError>& b) {
    return a.ok() == b.ok() && (a ? a.value() == b.value() : a.error() == b.error());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool here = path_here();
    if (!here) return 0;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    fuzz::guarded([&] {
        for (const auto letters :
             {chess::CastlingLetters::Standard, chess::CastlingLetters::RookFiles,
              chess::CastlingLetters::Either}) {
            const auto expected = chess::read_fen_reference(text, letters);
            fuzz::require(same(chess::read_fen_on(PATH, text, letters), expected),
                          "a path reads a text otherwise than the reference", fuzz::escaped(text));
            if (const auto alone = chess::read_usual_on(PATH, text, letters))
                fuzz::require(expected.ok() && *alone == expected.value(),
                              "a path reads a text by itself otherwise than the reference",
                              fuzz::escaped(text));
        }
    });
    return 0;
}
