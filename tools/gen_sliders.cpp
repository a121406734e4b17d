// Finds the multipliers and offsets of the sliding-attack lookup and writes
// chess/slider_magics.inc. Deterministic: a fixed seed gives the same file every run.
//
//   g++ -std=c++20 -O2 -I. tools/gen_sliders.cpp -o build/gen_sliders
//   build/gen_sliders > chess/slider_magics.inc
//
// For every square and slider kind it tries sparse random multipliers, keeps the one whose
// used indices span the fewest entries, then packs all 128 index ranges into one table,
// letting ranges overlap wherever the entries they share hold the same attack set.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "chess/geometry.h"

using namespace chess;

namespace {

struct Rng {
    std::uint64_t s = 0x6d6f7276656b2121ULL;
    std::uint64_t next() {
        s ^= s >> 12;
        s ^= s << 25;
        s ^= s >> 27;
        return s * 0x2545F4914F6CDD1DULL;
    }
    std::uint64_t sparse() { return next() & next() & next(); }
};

constexpr BitBoard EDGES_FILES = file_set(File::A) | file_set(File::H);
constexpr BitBoard EDGES_RANKS = rank_set(Rank::First) | rank_set(Rank::Eighth);

BitBoard relevant_mask(Square s, bool rook) {
    if (!rook) return bishop_rays(s).without(EDGES_FILES | EDGES_RANKS);
    const BitBoard file_part = rook_rays(s) & file_set(file_of(s));
    const BitBoard rank_part = rook_rays(s) & rank_set(rank_of(s));
    return file_part.without(EDGES_RANKS) | rank_part.without(EDGES_FILES);
}

struct Candidate {
    std::uint64_t multiplier = 0;
    unsigned low = 0, high = 0;                               // used index range, inclusive
    std::vector<std::pair<unsigned, std::uint64_t>> entries;  // index -> attacks
};

struct SquareJob {
    Square square;
    bool rook;
    std::uint64_t not_mask;
    std::vector<std::uint64_t> occupancies, attacks;
    Candidate best;
    std::uint32_t offset = 0;
};

bool try_multiplier(const SquareJob& job, std::uint64_t mult, unsigned shift,
                    std::vector<std::uint64_t>& slot, std::vector<std::uint32_t>& stamp,
                    std::uint32_t epoch, Candidate& out) {
    unsigned low = ~0u, high = 0;
    for (std::size_t i = 0; i < job.occupancies.size(); ++i) {
        const unsigned idx = unsigned(((job.occupancies[i] | job.not_mask) * mult) >> shift);
        if (stamp[idx] == epoch) {
            if (slot[idx] != job.attacks[i]) return false;
        } else {
            stamp[idx] = epoch;
            slot[idx] = job.attacks[i];
        }
        low = std::min(low, idx);
        high = std::max(high, idx);
    }
    out.multiplier = mult;
    out.low = low;
    out.high = high;
    out.entries.clear();
    for (unsigned idx = low; idx <= high; ++idx)
        if (stamp[idx] == epoch) out.entries.emplace_back(idx, slot[idx]);
    return true;
}

void search(SquareJob& job, Rng& rng, int wanted) {
    const unsigned shift = job.rook ? 52 : 55;
    std::vector<std::uint64_t> slot(std::size_t(1) << (64 - shift));
    std::vector<std::uint32_t> stamp(slot.size(), 0);
    std::uint32_t epoch = 0;
    int found = 0;
    Candidate c;
    for (long tries = 0; found < wanted && tries < 20'000'000; ++tries) {
        const std::uint64_t mult = rng.sparse();
        if (!try_multiplier(job, mult, shift, slot, stamp, ++epoch, c)) continue;
        ++found;
        if (job.best.entries.empty() || c.high - c.low < job.best.high - job.best.low) job.best = c;
    }
    if (job.best.entries.empty()) {
        std::fprintf(stderr, "no multiplier found\n");
        std::exit(1);
    }
}

}  // namespace

int main() {
    Rng rng;
    std::vector<SquareJob> jobs;
    for (int rook = 1; rook >= 0; --rook) {
        for (unsigned s = 0; s < 64; ++s) {
            SquareJob job{Square(s), rook == 1, 0, {}, {}, {}, 0};
            const std::uint64_t mask = relevant_mask(Square(s), job.rook).bits;
            job.not_mask = ~mask;
            std::uint64_t subset = 0;
            do {
                job.occupancies.push_back(subset);
                job.attacks.push_back(
                    (job.rook ? detail::slow_rook_attacks(Square(s), BitBoard{subset})
                              : detail::slow_bishop_attacks(Square(s), BitBoard{subset}))
                        .bits);
                subset = (subset - mask) & mask;
            } while (subset != 0);
            search(job, rng, job.rook ? 1000 : 5000);
            jobs.push_back(std::move(job));
        }
    }

    // Pack the largest ranges first; each goes to the lowest offset where every entry it uses
    // is either free or already holds the same attack set.
    std::vector<std::size_t> order(jobs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return jobs[a].best.high - jobs[a].best.low > jobs[b].best.high - jobs[b].best.low;
    });
    std::vector<std::uint64_t> table;
    std::vector<bool> used;
    for (const std::size_t j : order) {
        Candidate& c = jobs[j].best;
        // Offsets are unsigned, so the range may not start before the table does.
        for (std::size_t base = c.low;; ++base) {
            bool fits = true;
            for (const auto& [idx, att] : c.entries) {
                const std::size_t at = base + (idx - c.low);
                if (at < used.size() && used[at] && table[at] != att) {
                    fits = false;
                    break;
                }
            }
            if (!fits) continue;
            for (const auto& [idx, att] : c.entries) {
                const std::size_t at = base + (idx - c.low);
                if (at >= used.size()) {
                    used.resize(at + 1, false);
                    table.resize(at + 1, 0);
                }
                used[at] = true;
                table[at] = att;
            }
            jobs[j].offset = std::uint32_t(base - c.low);
            break;
        }
    }

    std::printf("// Generated by tools/gen_sliders.cpp; do not edit by hand.\n");
    std::printf("constexpr std::size_t SLIDER_TABLE_SIZE = %zu;\n\n", table.size());
    for (int rook = 1; rook >= 0; --rook) {
        std::printf("constexpr SliderMagic %s_MAGICS[64] = {\n", rook ? "ROOK" : "BISHOP");
        for (const SquareJob& job : jobs) {
            if (job.rook != (rook == 1)) continue;
            std::printf("    {0x%016llXULL, 0x%016llXULL, %u},\n", (unsigned long long)job.not_mask,
                        (unsigned long long)job.best.multiplier, job.offset);
        }
        std::printf("};\n\n");
    }
    std::fprintf(stderr, "table entries: %zu\n", table.size());
    return 0;
}
