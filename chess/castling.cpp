#include "castling.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "board.h"

namespace chess {

namespace {

// The standard letters as bits: White's short and long right, then Black's.
constexpr std::array<std::uint8_t, 256> make_castling_bits() {
    std::array<std::uint8_t, 256> t{};
    t[std::uint8_t('K')] = 1;
    t[std::uint8_t('Q')] = 2;
    t[std::uint8_t('k')] = 4;
    t[std::uint8_t('q')] = 8;
    return t;
}
constexpr std::array<std::uint8_t, 256> CASTLING_BITS = make_castling_bits();

// Each colour holding a right has its king on its back rank, and each right's rook on that
// rank on the right side of the king.
bool rights_are_backed(const Board& b, const std::array<CastleRights, 2>& all) {
    for (const Color c : {Color::White, Color::Black}) {
        const CastleRights& rights = all[index(c)];
        if (!rights.any()) continue;
        const Square k = b.king(c);
        if (rank_of(k) != back_rank(c)) return false;
        const BitBoard rooks = b.colored_pieces(c, Piece::Rook);
        const auto backed = [&](File f, bool short_side) {
            return rooks.has(make_square(f, back_rank(c))) &&
                   castles_short(file_of(k), f) == short_side;
        };
        if (rights.short_ && !backed(*rights.short_, true)) return false;
        if (rights.long_ && !backed(*rights.long_, false)) return false;
    }
    return true;
}

std::optional<std::array<CastleRights, 2>> read_standard(const char* p, const char* end) {
    unsigned seen = 0;
    for (; p != end; ++p) {
        const unsigned bit = CASTLING_BITS[std::uint8_t(*p)];
        if (!bit || (seen & bit)) return std::nullopt;
        seen |= bit;
    }
    std::array<CastleRights, 2> rights{};
    for (unsigned c = 0; c < 2; ++c) {
        if (seen & (1u << (2 * c))) rights[c].short_ = File::H;
        if (seen & (2u << (2 * c))) rights[c].long_ = File::A;
    }
    return rights;
}

std::optional<std::array<CastleRights, 2>> read_rook_files(const char* p, const char* end,
                                                           const Board& b) {
    std::array<CastleRights, 2> rights{};
    for (; p != end; ++p) {
        const char raw = *p;
        const Color c = raw >= 'A' && raw <= 'Z' ? Color::White : Color::Black;
        const char ch = c == Color::White ? char(raw - 'A' + 'a') : raw;
        if (ch < 'a' || ch > 'h') return std::nullopt;
        const File file = File(ch - 'a');
        std::optional<File>& slot = right_slot(rights[index(c)], file_of(b.king(c)), file);
        if (slot.has_value()) return std::nullopt;
        slot = file;
    }
    return rights;
}

std::optional<std::array<CastleRights, 2>> read_in(const char* p, const char* end, bool rook_files,
                                                   const Board& b) {
    const auto rights = rook_files ? read_rook_files(p, end, b) : read_standard(p, end);
    if (!rights || !rights_are_backed(b, *rights)) return std::nullopt;
    return rights;
}

// The standard field by rights held: bit 0 White's short, 1 White's long, 2 and 3 Black's.
struct StandardText {
    char text[4];
    std::uint32_t length;
};
constexpr std::array<StandardText, 16> make_standard_texts() {
    std::array<StandardText, 16> t{};
    for (unsigned m = 0; m < 16; ++m) {
        unsigned n = 0;
        for (unsigned i = 0; i < 4; ++i)
            if (m >> i & 1) t[m].text[n++] = "KQkq"[i];
        if (!n) t[m].text[n++] = '-';
        t[m].length = n;
    }
    return t;
}
constexpr std::array<StandardText, 16> STANDARD_TEXTS = make_standard_texts();

// The field with each K, Q, k, q naming the outermost rook on its side of the king in that
// rook's file letter, when at least one such rook stands off the corner; nothing when the
// field is to be read as written. A letter with no rook on its side is kept, which the
// rook-file reading then refuses. A field of more than four letters is refused in any
// reading, so it is left as written.
struct FieldText {
    char text[4];
    std::size_t length;
};
std::optional<FieldText> outermost_rook_files(const char* p, const char* end, const Board& b) {
    const std::size_t length = std::size_t(end - p);
    if (length > 4) return std::nullopt;
    FieldText out{{}, length};
    bool changed = false;
    for (std::size_t i = 0; i < length; ++i) {
        const char letter = p[i];
        out.text[i] = letter;
        if (!CASTLING_BITS[std::uint8_t(letter)]) continue;
        const Color c = letter == 'K' || letter == 'Q' ? Color::White : Color::Black;
        const bool short_side = letter == 'K' || letter == 'k';
        const Square k = b.king(c);
        if (rank_of(k) != back_rank(c)) return std::nullopt;
        BitBoard side;
        for (const Square s : b.colored_pieces(c, Piece::Rook) & rank_set(back_rank(c)))
            if (castles_short(file_of(k), file_of(s)) == short_side) side |= BitBoard::from(s);
        if (side.empty()) continue;
        // Squares rise with the file along a rank: the outermost is the highest towards h.
        const File rook =
            short_side ? file_of(Square(63 - std::countl_zero(side.bits))) : file_of(side.lowest());
        changed |= rook != (short_side ? File::H : File::A);
        const char name = file_char(rook);
        out.text[i] = c == Color::White ? char(name - 'a' + 'A') : name;
    }
    if (!changed) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::array<CastleRights, 2>> read_castling_field(const char* p, const char* end,
                                                               CastlingLetters letters,
                                                               const Board& placement) {
    if (p == end || (end - p == 1 && *p == '-')) return std::array<CastleRights, 2>{};
    if (letters == CastlingLetters::Outermost) {
        if (const auto named = outermost_rook_files(p, end, placement))
            return read_in(named->text, named->text + named->length, true, placement);
        letters = CastlingLetters::Either;
    }
    if (letters != CastlingLetters::RookFiles)
        if (const auto rights = read_in(p, end, false, placement)) return rights;
    if (letters == CastlingLetters::Standard) return std::nullopt;
    return read_in(p, end, true, placement);
}

bool standard_letters_name_rights(const std::array<CastleRights, 2>& rights) {
    for (const CastleRights& r : rights)
        if ((r.short_ && *r.short_ != File::H) || (r.long_ && *r.long_ != File::A)) return false;
    return true;
}

bool standard_letters_name_rights(const Board& board) {
    return standard_letters_name_rights(board.castle_rights);
}

char* write_castling_field(char* out, const std::array<CastleRights, 2>& rights,
                           CastlingLetters letters) {
    if (letters == CastlingLetters::Either)
        letters = standard_letters_name_rights(rights) ? CastlingLetters::Standard
                                                       : CastlingLetters::RookFiles;
    if (letters == CastlingLetters::Standard) {
        const unsigned held = unsigned(rights[0].short_.has_value()) |
                              unsigned(rights[0].long_.has_value()) << 1 |
                              unsigned(rights[1].short_.has_value()) << 2 |
                              unsigned(rights[1].long_.has_value()) << 3;
        const StandardText& t = STANDARD_TEXTS[held];
        std::memcpy(out, t.text, 4);
        return out + t.length;
    }
    const char* before = out;
    for (const Color c : {Color::White, Color::Black}) {
        const char shift = c == Color::White ? 'A' - 'a' : 0;
        for_each_right(rights[index(c)],
                       [&](File rook) { *out++ = char(file_char(rook) + shift); });
    }
    if (out == before) *out++ = '-';
    return out;
}

}  // namespace chess
