#include "castling.h"

#include <bit>
#include <cstdint>
#include <cstring>

#include "board.h"

namespace chess {

namespace {

// The rooks a letter names, as a bit of its colour's byte of files (White's the low byte): the
// standard letters K, Q, k, q name the rooks on the h- and a-files; rook-file letters name
// their file, upper case for White.
using Letters = std::array<std::uint16_t, 256>;
constexpr Letters make_standard_letters() {
    Letters t{};
    t[std::uint8_t('K')] = 0x0080;
    t[std::uint8_t('Q')] = 0x0001;
    t[std::uint8_t('k')] = 0x8000;
    t[std::uint8_t('q')] = 0x0100;
    return t;
}
constexpr Letters make_file_letters() {
    Letters t{};
    for (unsigned f = 0; f < 8; ++f) {
        t['A' + f] = std::uint16_t(1u << f);
        t['a' + f] = std::uint16_t(0x100u << f);
    }
    return t;
}
constexpr Letters STANDARD_LETTERS = make_standard_letters();
constexpr Letters FILE_LETTERS = make_file_letters();

// By the king's file, the files whose rook castles short with it, as a set.
constexpr std::array<std::uint8_t, 8> SHORT_SIDE = [] {
    std::array<std::uint8_t, 8> t{};
    for (unsigned k = 0; k < 8; ++k)
        for (unsigned f = 0; f < 8; ++f)
            if (castles_short(File(k), File(f))) t[k] |= std::uint8_t(1u << f);
    return t;
}();

// The rights by the file of each one's rook, 8 for none: short by long.
constexpr std::array<std::array<CastleRights, 9>, 9> RIGHTS_BY_FILES = [] {
    std::array<std::array<CastleRights, 9>, 9> t{};
    for (unsigned s = 0; s < 8; ++s)
        for (unsigned l = 0; l < 9; ++l) t[s][l].short_ = File(s);
    for (unsigned s = 0; s < 9; ++s)
        for (unsigned l = 0; l < 8; ++l) t[s][l].long_ = File(l);
    return t;
}();

// The files the field names, each at most once, or nothing when a character is not a letter
// of the table.
std::optional<unsigned> read_files(const char* p, const char* end, const Letters& letters) {
    unsigned named = 0;
    for (; p != end; ++p) {
        const unsigned bit = letters[std::uint8_t(*p)];
        if (!bit || (named & bit)) return std::nullopt;
        named |= bit;
    }
    return named;
}

// The rights of the named files: a right towards the h-file for a rook beyond the king, one
// towards the a-file for a rook before it. Nothing when the pieces cannot back them: a named
// colour's king off its back rank, a named file without that colour's rook on the back rank
// (the king's own file among them), or two rooks named on one side of the king.
std::optional<std::array<CastleRights, 2>> backed_rights(const Board& b, unsigned named) {
    std::array<CastleRights, 2> rights{};
    for (const Color c : {Color::White, Color::Black}) {
        const unsigned files = named >> (8 * index(c)) & 0xFF;
        if (!files) continue;
        const Square k = b.king(c);
        const unsigned king_file = index(file_of(k));
        const unsigned rooks =
            unsigned(b.colored_pieces(c, Piece::Rook).bits >> (8 * index(back_rank(c)))) & 0xFF;
        const unsigned beyond = files & SHORT_SIDE[king_file],
                       before = files & ~SHORT_SIDE[king_file] & ~(1u << king_file);
        if (rank_of(k) != back_rank(c) || (files & ~rooks) || (beyond & (beyond - 1)) ||
            (before & (before - 1)))
            return std::nullopt;
        rights[index(c)] =
            RIGHTS_BY_FILES[std::countr_zero(beyond | 0x100)][std::countr_zero(before | 0x100)];
    }
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
        if (!STANDARD_LETTERS[std::uint8_t(letter)]) continue;
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
        if (const auto named = outermost_rook_files(p, end, placement)) {
            const auto files = read_files(named->text, named->text + named->length, FILE_LETTERS);
            if (!files) return std::nullopt;
            return backed_rights(placement, *files);
        }
        letters = CastlingLetters::Either;
    }
    // No letter is both a standard one and a file, so a field that either reading takes starts
    // with one of that reading's letters, and the other reading would refuse it.
    if (letters == CastlingLetters::Either)
        letters = STANDARD_LETTERS[std::uint8_t(*p)] ? CastlingLetters::Standard
                                                     : CastlingLetters::RookFiles;
    const auto named =
        read_files(p, end, letters == CastlingLetters::RookFiles ? FILE_LETTERS : STANDARD_LETTERS);
    if (!named) return std::nullopt;
    return backed_rights(placement, *named);
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
