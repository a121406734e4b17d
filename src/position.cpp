// The answer read straight off the loaded position.
#include <string>

#include "operation.h"

namespace morvek {

Answer<std::string> side_to_move(const chess::Board& board) {
    return std::string(board.side_to_move == chess::Color::White ? "white" : "black");
}

}  // namespace morvek
