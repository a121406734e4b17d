// Bytes from 0x80 up: negative in a plain char on x86, above 127 on Arm. Every reader must
// refuse them as the field's own error under both, whether they stand alone, lead a
// multi-byte character or continue one.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "chess/fen.h"
#include "chess/uci.h"

using namespace chess;

namespace {

constexpr const char* AFTER_E4 = "rnbqkbnr/pppppppp/8/8/4P3/8/PPPP1PPP/RNBQKBNR b KQkq e3 0 1";

std::vector<std::string> fields_of(const std::string& fen) {
    std::vector<std::string> out(1);
    for (const char ch : fen) {
        if (ch == ' ')
            out.emplace_back();
        else
            out.back() += ch;
    }
    return out;
}

std::string joined(const std::vector<std::string>& fields) {
    std::string out;
    for (const std::string& f : fields) out += (out.empty() ? "" : " ") + f;
    return out;
}

// The field's error, in field order: a high byte anywhere in field i is refused as ERRORS[i].
constexpr FenParseError ERRORS[] = {
    FenParseError::InvalidBoard,          FenParseError::InvalidSideToMove,
    FenParseError::InvalidCastlingRights, FenParseError::InvalidEnPassant,
    FenParseError::InvalidHalfMoveClock,  FenParseError::InvalidFullmoveNumber,
};

// Each field with the byte put first, last, and in place of every one of its characters.
std::vector<std::string> texts_with_byte(const std::string& fen, std::size_t field, char byte) {
    const std::vector<std::string> fields = fields_of(fen);
    std::vector<std::string> out;
    const auto with = [&](std::string text) {
        std::vector<std::string> f = fields;
        f[field] = std::move(text);
        out.push_back(joined(f));
    };
    const std::string& f = fields[field];
    with(byte + f);
    with(f + byte);
    for (std::size_t i = 0; i < f.size(); ++i) with(f.substr(0, i) + byte + f.substr(i + 1));
    return out;
}

TEST(HighBytes, EveryFenFieldRefusesThemAsItsOwnError) {
    for (const char* fen : {"rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1", AFTER_E4}) {
        ASSERT_TRUE(read_fen(fen).ok()) << fen;
        for (std::size_t field = 0; field < std::size(ERRORS); ++field) {
            for (unsigned b = 0x80; b <= 0xFF; ++b) {
                for (const std::string& text : texts_with_byte(fen, field, char(b))) {
                    const auto read = read_fen(text);
                    ASSERT_FALSE(read.ok()) << "byte " << b << " in " << text;
                    EXPECT_EQ(error_name(read.error()), error_name(ERRORS[field]))
                        << "byte " << b << " in field " << field;
                }
            }
        }
    }
}

TEST(HighBytes, FileLetterCastlingRefusesThem) {
    const std::string fen = "4k3/8/8/8/8/8/8/R3K2R w HA - 0 1";
    ASSERT_TRUE(from_fen(fen, true).ok());
    for (unsigned b = 0x80; b <= 0xFF; ++b)
        for (const std::string& text : texts_with_byte(fen, 2, char(b))) {
            const auto read = from_fen(text, true);
            ASSERT_FALSE(read.ok()) << "byte " << b;
            EXPECT_EQ(read.error(), FenParseError::InvalidCastlingRights) << "byte " << b;
        }
}

TEST(HighBytes, UciSquaresAndPromotionRefuseThem) {
    const Board board = read_fen("4k3/P7/8/8/8/8/8/4K3 w - - 0 1").value();
    const std::string promotion = "a7a8q";
    for (unsigned b = 0x80; b <= 0xFF; ++b) {
        for (std::size_t i = 0; i < promotion.size(); ++i) {
            std::string text = promotion;
            text[i] = char(b);
            EXPECT_FALSE(parse_uci_move(board, text).ok()) << "byte " << b << " at " << i;
        }
        // A lone byte in fifth place is no character to skip.
        EXPECT_FALSE(parse_uci_move(board, "a7a8" + std::string(1, char(b))).ok()) << "byte " << b;
    }
}

// A character of several bytes in fifth place is ignored, whatever its first byte; what
// follows it is not read.
TEST(HighBytes, UciIgnoresAMultiByteFifthCharacter) {
    const Board board = read_fen("4k3/8/8/8/8/8/4P3/4K3 w - - 0 1").value();
    const auto plain = parse_uci_move(board, "e2e4");
    ASSERT_TRUE(plain.ok());
    for (unsigned lead = 0xC2; lead <= 0xF4; ++lead) {
        const std::string text = std::string("e2e4") + char(lead) + char(0x80) + "q";
        const auto read = parse_uci_move(board, text);
        ASSERT_TRUE(read.ok()) << "lead byte " << lead;
        EXPECT_EQ(read.value(), plain.value()) << "lead byte " << lead;
    }
}

}  // namespace
