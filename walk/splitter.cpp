#include "splitter.h"

#include "text.h"

#include <algorithm>
#include <utility>

namespace pgn {

namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

// What lies between games (white space, comments, escape lines) is kept up to this much, and
// an unfinished token's middle once this much of it has been read without being needed.
constexpr std::size_t BETWEEN_GAMES = std::size_t(1) << 20;
constexpr std::size_t SHRINK_AT = std::size_t(64) << 10;
constexpr std::size_t SLICE = std::size_t(1) << 20;
constexpr std::size_t LARGE = std::size_t(8) << 20;

}  // namespace

Splitter::Splitter(std::uint64_t chunk_moves, std::size_t chunk_bytes, std::size_t longest_game,
                   bool keep_verbatim)
    : chunk_moves_(std::max<std::uint64_t>(chunk_moves, 1)),
      chunk_bytes_(chunk_bytes),
      longest_game_(longest_game),
      keep_verbatim_(keep_verbatim) {}

// The byte-order mark is taken off the input's start, and put back on the first chunk; the
// walk takes it off again.
bool Splitter::open(bool final) {
    if (opened_) return true;
    if (!final && pending_.size() < BYTE_ORDER_MARK.size() &&
        head(BYTE_ORDER_MARK, pending_.size()) == pending_)
        return false;
    opened_ = true;
    if (head(pending_, BYTE_ORDER_MARK.size()) == BYTE_ORDER_MARK) {
        pending_.erase(0, BYTE_ORDER_MARK.size());
        byte_order_ = true;
        mark_ = BYTE_ORDER_MARK.size();
    }
    return true;
}

// A block is read a slice at a time, so that what is held never grows past the longest game,
// a chunk and a slice by much: once it holds a long game it is given that room at once, which
// spares the copies (and the doubled memory) of growing it step by step.
void Splitter::feed(std::string_view bytes, std::vector<Chunk>& out) {
    for (std::size_t at = 0; at < bytes.size(); at += SLICE) {
        const std::string_view slice = bytes.substr(at, SLICE);
        const std::size_t needed = pending_.size() + slice.size();
        if (needed > pending_.capacity() && needed > LARGE)
            pending_.reserve(
                std::max(needed, longest_game_ + chunk_bytes_ + BETWEEN_GAMES + SLICE));
        pending_.append(slice);
        if (open(false)) scan(false, out);
    }
}

void Splitter::finish(std::vector<Chunk>& out) {
    open(true);
    scan(true, out);
}

void Splitter::scan(bool final, std::vector<Chunk>& out) {
    Token token;
    while (tokens_.next(pending_, final, token) == Tokenizer::Outcome::Token) take(token, out);
    if (final) {
        if (game_.started) end_game(base_ + pending_.size(), out);
        emit(last_end_, out);
        drop(pending_.size());
        return;
    }
    // The game's end comes no sooner than the unfinished token's reach (a tag's start, as a
    // tag would end the game before it); a token read past the bound ends past it. So a game
    // that already runs too long is cut now, shown up to that token.
    if (!cut_ && (game_.started || tokens_.reading_word())) {
        if (!game_.started) start_game(base_ + tokens_.position());
        const std::size_t reach =
            base_ + (tokens_.reading_tag() ? tokens_.position() : tokens_.scanned());
        if (reach > bound()) cut(out);
    }
    if (cut_) {
        drop(tokens_.position());
        if (tokens_.scanned() - tokens_.position() > SHRINK_AT) tokens_.shrink(pending_, 1);
        // The cut game's text is out: its room goes back to the system.
        if (pending_.capacity() > LARGE && pending_.size() < pending_.capacity() / 4)
            pending_.shrink_to_fit();
    } else if (!game_.started && !tokens_.reading_word() &&
               pending_.size() - (last_end_ - base_) > BETWEEN_GAMES) {
        forget_between_games(out);
    }
}

void Splitter::take(const Token& token, std::vector<Chunk>& out) {
    const std::size_t begin = base_ + token.begin, end = base_ + token.end;
    const bool was_started = game_.started;
    switch (game_.take(token, pending_)) {
        case Effect::EndsBefore:
            end_game(begin, out);
            start_game(begin);
            break;
        case Effect::EndsAfter:
        case Effect::OpenEnd:
            if (!was_started) start_game(begin);
            end_game(end, out);
            return;
        case Effect::Move: ++game_moves_; break;
        case Effect::None: break;
    }
    if (!game_.started || cut_) return;
    if (!was_started) start_game(begin);
    if (end <= bound()) shown_end_ = end;
    if (end - game_start_ > longest_game_) cut(out);
}

void Splitter::start_game(std::size_t at) { game_start_ = shown_end_ = at; }

void Splitter::end_game(std::size_t end, std::vector<Chunk>& out) {
    if (!cut_ && end - game_start_ > longest_game_) cut(out);
    ++number_;
    if (cut_) {
        // The cut game has been handed on; what is left of it goes.
        cut_ = false;
        drop(end - base_);
        last_end_ = base_;
        first_ = number_;
        moves_ = game_moves_ = 0;
        return;
    }
    moves_ += game_moves_ + 1;
    game_moves_ = 0;
    starts_.push_back(game_start_);
    last_end_ = end;
    if (moves_ >= chunk_moves_ || last_end_ - base_ >= chunk_bytes_) emit(last_end_, out);
}

// The finished games before `end` (a place in the input) as a chunk, if there are any; the
// bytes go either way.
void Splitter::emit(std::size_t end, std::vector<Chunk>& out) {
    const std::size_t count = end - base_;
    if (number_ > first_) {
        Chunk chunk;
        chunk.first_game = first_;
        chunk.verbatim = !altered_;
        chunk.begin = byte_order_ ? 0 : base_ + mark_;
        chunk.end = base_ + mark_ + count;
        if (keep_verbatim_ || !chunk.verbatim) {
            chunk.bytes.reserve(count + (byte_order_ ? BYTE_ORDER_MARK.size() : 0));
            if (byte_order_) chunk.bytes += BYTE_ORDER_MARK;
            chunk.bytes.append(pending_.data(), count);
        }
        const std::size_t shift = byte_order_ ? BYTE_ORDER_MARK.size() : 0;
        for (const std::size_t at : starts_)
            if (at < end) chunk.game_starts.push_back(std::uint32_t(at - base_ + shift));
        out.push_back(std::move(chunk));
        byte_order_ = false;
    }
    if (count) altered_ = false;
    std::erase_if(starts_, [&](std::size_t at) { return at < end; });
    drop(count);
    first_ = number_;
    moves_ = 0;
}

// The unfinished game runs past the longest a game may be: the games before it go as a chunk,
// and it goes alone, cut, which the walk reports. The walk reports it from its tokens up to
// the first that ends past longest_game_ + 1 bytes from its start or would end the game: the
// chunk holds those, then a comment left open, long enough to carry the game past the bound,
// so that the walk sees no more of it and nothing after. Before the comment comes a NAG, which
// means nothing but, unlike the brace, reads to the token before it as the bytes that followed
// it did: a word spelt as a result stays a word (a result in a variation, which means nothing
// either, becomes one). A white space byte before the game keeps its first byte at a line
// start or not, as it was.
void Splitter::cut(std::vector<Chunk>& out) {
    emit(last_end_, out);
    const std::size_t start = game_start_ - base_;
    const std::size_t count = shown_end_ - game_start_;
    Chunk chunk;
    chunk.first_game = number_;
    chunk.bytes.reserve(longest_game_ + 5);
    chunk.bytes += tokens_.line_start(pending_, start) ? '\n' : ' ';
    chunk.bytes.append(pending_.data() + start, count);
    chunk.bytes += "$0{";
    chunk.bytes.append(longest_game_ + 1 - count, ' ');
    out.push_back(std::move(chunk));
    byte_order_ = false;
    cut_ = true;
}

void Splitter::drop(std::size_t count) {
    if (count == 0) return;
    tokens_.drop(pending_, count);
    pending_.erase(0, count);
    base_ += count;
}

// Between games nothing read matters to the walk but where the next game starts and whether
// it starts at a line start: the finished games go as a chunk, and what was read after them
// becomes one white space byte that keeps the next byte at a line start or not. A comment
// being read keeps the first longest_game_ + 1 bytes, all that an open one would show.
void Splitter::forget_between_games(std::vector<Chunk>& out) {
    emit(last_end_, out);
    const std::size_t at = tokens_.position();
    if (at > 1) {
        const char space = tokens_.line_start(pending_, at) ? '\n' : ' ';
        drop(at - 1);
        pending_[0] = space;
        byte_order_ = false;
        altered_ = true;
    }
    last_end_ = base_;
    if (!tokens_.reading_tag())
        tokens_.shrink(pending_, tokens_.reading_comment() ? longest_game_ + 1 : 1);
}

}  // namespace pgn
