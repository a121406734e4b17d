// The stored docstrings of the module's functions. The first line is the signature the
// interpreter shows as __text_signature__; the text after the blank line becomes __doc__,
// which is None when that text is empty.
#pragma once

namespace morvek {

inline constexpr const char PIECE_LIST_DOC[] =
    "piece_list(fen)\n--\n\n"
    "[(square, piece, color)] for every piece, e.g. (\"e5\", \"N\", \"black\").";
inline constexpr const char LEGAL_MOVES_DOC[] =
    "legal_moves(fen)\n--\n\n"
    "Legal moves in standard UCI (\"e1g1\" for castling).";
inline constexpr const char ATTACKERS_DOC[] =
    "attackers(fen, sq, color)\n--\n\n"
    "Squares of `color` pieces attacking `sq` (full occupancy).";
inline constexpr const char APPLY_UCI_DOC[] =
    "apply_uci(fen, uci)\n--\n\n"
    "New FEN after playing a standard-UCI move.";
inline constexpr const char UCI_TO_SAN_DOC[] = "uci_to_san(fen, uci)\n--\n\n";
inline constexpr const char SAN_TO_UCI_DOC[] = "san_to_uci(fen, san)\n--\n\n";
inline constexpr const char SEE_MOVE_DOC[] =
    "see_move(fen, uci)\n--\n\n"
    "Static exchange evaluation of a standard-UCI move, in centipawns\n"
    "(positive = good for the mover).";
inline constexpr const char NULL_MOVE_FEN_DOC[] =
    "null_move_fen(fen)\n--\n\n"
    "FEN with the side to move flipped (null move), or error if in check.\n"
    "Used by the null-move threat probe.";
inline constexpr const char IS_CHECK_DOC[] = "is_check(fen)\n--\n\n";
inline constexpr const char SIDE_TO_MOVE_DOC[] = "side_to_move(fen)\n--\n\n";

}  // namespace morvek
